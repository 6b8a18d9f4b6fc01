#pragma once
// TCustomFFmpeg: one transcoding session. Everything one run of the
// transcoder needs lives in this object, so several sessions can run side by
// side on different threads.
//
// Life of a session: construct, InitSession, apply options (ParseOption,
// ParseOptionText, the setters), open the inputs (OpenInputFile) and create
// the outputs (OpenOutputFile); then the run; ReleaseSession at the end of the
// run and again on destruction.
//
// Options follow the applies-to-the-next-file rule: most fields accumulate and
// are consumed by the next input opened, the next output created or the next
// stream added; some of them are reset by that consumer.
//
// Threads: a session is used by one thread at a time. Options are applied and
// files opened on the caller's thread before the run; the run then owns the
// session. Only StopRequested is written from another thread. The library's
// log level (option "v" and the "debug" generic option) is process-wide.
// CodecLock (engine/binding/CodecLock.h) guards the stream-information probe
// of input opening and every codec open and close.
//
// The implementation is split by concern: SessionLifecycle.cpp,
// SessionOptions.cpp, GenericOptions.cpp, InputOpening.cpp, OutputFiles.cpp,
// OutputStreams.cpp, TargetPresets.cpp; the transcode itself adds further
// files of the same class.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/binding/EngineError.h"
#include "engine/binding/FFmpegHeaders.h"
#include "engine/binding/FrameHook.h"
#include "engine/binding/MediaPtr.h"
#include "engine/probe/TBitmap.h"
#include "engine/session/RunTables.h"

// What the picture hooks do with the current picture: run them, skip them for
// this picture, or stop hooking for the rest of the run.
enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

// A time range, in microseconds, in which the frame-hook chain runs.
struct THookRange {
  int64_t Start = 0;
  int64_t End = 0;
};

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFileIndex = 0;
  int InFileIndex = 0;
};

// A bitstream filter waiting for its stream: the filter and the text after
// "=" in the option that named it.
struct TBitstreamFilterSpec {
  const AVBitStreamFilter* Filter = nullptr;
  std::string Arguments;
};

struct DictionaryPtrDeleter {
  void operator()(AVDictionary* dictionary) const {
    if (dictionary) FF.av_dict_free(&dictionary);
  }
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryPtrDeleter>;

// One stream of an output file. Streams no longer carry codec contexts, so
// the session keeps the encoder's settings here; the transcode set-up opens
// the encoder (passing EncoderOptions to avcodec_open2) and fills the
// stream's codec parameters before the header is written.
struct TOutputStreamRecord {
  AVStream* Stream = nullptr;  // owned by the output's format context
  CodecContextPtr Encoder;     // allocated for Codec; never null once the stream exists
  const AVCodec* Codec = nullptr;  // the encoder chosen; null for stream copy or when none exists
  bool StreamCopy = false;
  float Quality = 0;  // fixed-quantiser quality in lambda units; 0 when not used
  DictionaryPtr EncoderOptions;  // options that belong to this encoder only
  std::vector<TBitstreamFilterSpec> BitstreamFilters;  // applied to output packets, in order
  std::vector<BsfContextPtr> BitstreamContexts;        // created by the transcode set-up
};

// Everything the session keeps about one output besides its format context.
struct TOutputFileRecord {
  std::string FileName;
  // The session opened (created or truncated) the file; only such a file is
  // deleted by ReleaseSession when it is still empty.
  bool OpenedForWriting = false;
  DictionaryPtr MuxerOptions;  // options that belong to this muxer only, for avformat_write_header
  std::vector<TOutputStreamRecord> Streams;  // by stream index
};

class TCustomFFmpeg {
public:
  static constexpr int MaxFiles = 20;         // inputs, and outputs, per session
  static constexpr int MaxStreams = 20;       // streams per output; per-input timestamp scales
  static constexpr int MaxStreamMaps = 400;
  static constexpr int MaxMetaDataMaps = 20;
  static constexpr int MediaTypeCount = 5;    // video, audio, data, subtitle, attachment
  static constexpr float AudioQScaleUnset = -99999.0f;

  // Handlers set by the converter component. Log lines: level 1 information
  // and warnings, 0 errors during a run, -1 a caught exception's message.
  using TLogHandler = std::function<void(TCustomFFmpeg& session, int level, const std::string& text)>;
  using TProgressHandler =
      std::function<void(TCustomFFmpeg& session, int frameNumber, int fps, int currentDurationMs,
                         float quality, float bitRate, int64_t currentSize, int totalOutputDurationMs)>;
  using TTerminateHandler = std::function<void(TCustomFFmpeg& session)>;
  using TBeforeHookHandler = std::function<void(TCustomFFmpeg& session, int64_t pts, THookAction& action)>;
  using TCustomHookHandler = std::function<void(TCustomFFmpeg& session, TBitmap& bitmap, int frameNumber,
                                                int64_t pts, bool& update, bool& stopHook)>;

  // Create: clears the state flags, sets ProgressIntervalUs and TotalDuration
  // and gives every option its default.
  TCustomFFmpeg();
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // Nothing unless the media libraries are loaded; otherwise releases
  // everything, resets the options and the state flags and allocates the
  // generic option holders.
  void InitSession();
  // Closes and frees everything the session holds; outputs the session opened
  // for writing that are still 0 bytes long are deleted. Idempotent.
  void ReleaseSession();
  // Every option field to its default; the map tables emptied. Open files are
  // left alone (ReleaseSession closes them).
  void ResetOptions();

  // Applies one option (the names of OptionNames()). Raises FFMpegException
  // on a bad value; an unknown name goes to SetGenericOption and is dropped
  // silently when that fails.
  void ParseOption(const std::string& name, const std::string& value);
  // name=value lines through ParseOption; the first failure ends the block.
  void ParseOptionText(const std::string& text);
  // The option names ParseOption knows, in the order it tries them.
  static const std::vector<std::string>& OptionNames();

  // An option of the media library's option system (codec, format, scaler
  // options, and options that belong to one encoder or muxer). False when
  // no option of that name accepts the value.
  bool SetGenericOption(const std::string& name, const std::string& value);
  bool SetGenericOptionInt(const std::string& name, int64_t number);
  // Copies the generic options set so far in optionsContext into context,
  // in the order they were set, when all bits of flagMask are set in the
  // option's flags (1 encoding, 2 decoding, 8 audio, 16 video, 32 subtitle).
  void SetContextOptions(void* context, void* optionsContext, int flagMask);
  // Resolves a codec name (old names included) to its id: true with id 0 for
  // an empty name; false with LastError "Unknown %s '%s'" or "Invalid %s type '%s'".
  bool FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& codecId);

  // The two halves of option "f". Empty names do nothing; unknown names raise
  // "Unknown input format: %s" / "Unknown output format: %s".
  void SetForcedInputFormat(const std::string& name);
  void SetForcedOutputFormat(const std::string& name);

  // Opens one input with the options collected so far and takes over its
  // properties. False with LastError on failure; a malformed stream type
  // raises.
  bool OpenInputFile(const std::string& fileName);
  // Which media types the opened inputs contain.
  void ScanInputStreamTypes(bool& hasVideo, bool& hasAudio, bool& hasSubtitle);

  // Creates, opens and registers one output with its streams. False with
  // LastError on failure; nothing stays registered then. An existing file of
  // that name is overwritten: callers choose names that do not exist.
  bool OpenOutputFile(const std::string& fileName);
  // Add one stream to an output (the one being created, or a registered
  // one); raise FFMpegException on failure.
  void NewVideoStream(AVFormatContext* output);
  void NewAudioStream(AVFormatContext* output);
  void NewSubtitleStream(AVFormatContext* output);

  // Applies a vcd, svcd, dvd, dv or dv50 preset for the norm "pal", "ntsc",
  // "film" or anything else to detect it (with fallbackNorm when detection
  // finds nothing).
  void SetTarget(const std::string& target, const std::string& norm, const std::string& fallbackNorm);

  // The record of a registered output, by index.
  TOutputFileRecord& OutputRecord(int index) { return outputRecords_.at(index); }

  // Files and mappings. The session owns the contexts in the first
  // InputFileCount / OutputFileCount entries.
  std::array<AVFormatContext*, MaxFiles> InputFiles{};
  std::array<int64_t, MaxFiles> InputTsOffsets{};  // microseconds added to every timestamp of input i
  std::array<std::array<double, MaxStreams>, MaxFiles> InputTsScales{};  // 0 = unset
  std::array<int, MaxFiles> InputRateEmu{};  // read input i at its native rate
  int InputFileCount = 0;
  std::array<AVFormatContext*, MaxFiles> OutputFiles{};
  int OutputFileCount = 0;
  std::array<TStreamMap, MaxStreamMaps> StreamMaps{};
  int StreamMapCount = 0;
  std::array<TMetaDataMap, MaxMetaDataMaps> MetaDataMaps{};
  int MetaDataMapCount = 0;

  // Option fields, with the defaults ResetOptions gives them.
  const AVInputFormat* ForcedInputFormat = nullptr;
  const AVOutputFormat* ForcedOutputFormat = nullptr;
  int FrameWidth = 0;
  int FrameHeight = 0;
  float FrameAspectRatio = 0;  // display aspect; 0 = unknown
  int FramePixFmt = -1;
  int AudioSampleFmt = -1;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  std::array<int, 3> PadColor{16, 128, 128};  // Y, U, V
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  std::array<int, 4> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};  // video, audio, data, subtitle
  AVRational FrameRate{0, 0};      // 0/0 = not set
  float VideoQScale = 0;
  std::vector<uint16_t> IntraMatrix;  // 64 entries, or empty
  std::vector<uint16_t> InterMatrix;
  std::string VideoRcOverride;
  int VideoDisable = 0;
  int VideoDiscard = 0;
  std::string VideoCodecName;
  int VideoCodecTag = 0;
  int SameQuality = 0;
  int Deinterlace = 0;
  int TopFieldFirst = -1;
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  int LoopInput = 0;
  int LoopOutput = -1;
  int QpHist = 0;
  std::string VideoFilters;
  bool UseFilters = false;
  int IntraOnly = 0;
  int AudioSampleRate = 44100;
  float AudioQScale = AudioQScaleUnset;
  int AudioDisable = 0;
  int AudioChannels = 2;
  std::string AudioCodecName;
  int AudioCodecTag = 0;
  std::string AudioLanguage;
  int SubtitleDisable = 0;
  std::string SubtitleCodecName;
  std::string SubtitleLanguage;
  float MuxPreload = 0.5f;   // seconds
  float MuxMaxDelay = 0.7f;  // seconds
  int64_t RecordingTime = INT64_MAX;  // microseconds
  int64_t StartTime = 0;              // microseconds
  int64_t RecTimestamp = 0;           // seconds since 1970
  int64_t InputTsOffset = 0;          // microseconds
  std::string Title, Author, Copyright, Comment, Genre, Album;
  int Year = 0;
  int Track = 0;
  int DoHexDump = 0;
  int DoPktDump = 0;
  int DoPsnr = 0;
  int DoPass = 0;
  std::string PassLogFilePrefix;
  int AudioStreamCopy = 0;
  int VideoStreamCopy = 0;
  int SubtitleStreamCopy = 0;
  int VideoSyncMethod = -1;
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;
  bool CopyTs = false;
  int Shortest = 0;
  int VideoGlobalHeader = 0;  // bit 0 global header, bit 1 local header
  std::string VStatsFileName;
  FILE* VStatsFile = nullptr;
  int ProgramId = 0;
  int RateEmu = 0;
  int VideoChannel = 0;
  std::string VideoStandard;
  int AudioVolume = 256;
  bool ExitOnError = false;
  bool UsingVHook = false;
  int Verbose = 1;
  // Codec threads; 0 lets the library choose the count for the machine. The
  // library's own default of 1 would run every codec single-threaded.
  int ThreadCount = 0;
  int InputSync = 0;
  int64_t LimitFileSize = 0;
  int PgmyuvCompatibility = 0;
  float DtsDeltaThreshold = 10;
  int SwsFlags = SWS_BICUBIC;

  // Generic option state. The holders are library objects used only to keep
  // option values; options that belong to one encoder or muxer are kept as
  // name/value pairs and handed to that encoder or muxer when it is used.
  std::vector<std::string> GenericOptionNames;
  std::array<AVCodecContext*, MediaTypeCount> CodecOptions{};
  AVFormatContext* FormatOptions = nullptr;
  SwsContext* ScalerOptions = nullptr;
  std::vector<std::pair<std::string, std::string>> EncoderPrivateOptions;
  std::vector<std::pair<std::string, std::string>> MuxerPrivateOptions;
  std::vector<TBitstreamFilterSpec> VideoBitstreamFilters;
  std::vector<TBitstreamFilterSpec> AudioBitstreamFilters;
  std::vector<TBitstreamFilterSpec> SubtitleBitstreamFilters;
  TFrameHookEntry* FrameHooks = nullptr;  // the video-hook plug-in chain

  // Run state, set and used by the transcode and the converter component.
  std::atomic<bool> Running{false};
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> CompletedNormally{false};
  std::atomic<bool> Done{false};
  bool ExceptionRaised = false;
  std::string ExceptionMessage;
  int64_t TotalDuration = -1;  // milliseconds, -1 unknown
  std::string LastError;       // reason of the last failure reported by a false result
  int64_t ProgressIntervalUs = 500000;
  std::vector<THookRange> HookRanges;
  int BitBufferSize = 262144;
  // -- The transcode (set-up, main loop, audio and video paths, progress,
  // -- filter graph) adds its run-state members below this line.

  // Runs the transcode of the opened inputs into the created outputs: set-up
  // (stream mapping, codec parameters, codecs, headers), the main loop, the
  // end-of-stream flush, the trailers and the final report. Raises
  // FFMpegException; the run tables are released on every way out, codecs
  // that stay open are closed by CloseOpenEncoders / CloseOpenDecoders, which
  // the caller runs after every run. StopRequested ends the loop early: the
  // trailers are still written and CompletedNormally stays false.
  void RunTranscode();
  void CloseOpenEncoders();
  void CloseOpenDecoders();

  // Run state of the transcode (the per-run tables are in RunTables.h).
  int64_t VideoBytes = 0;   // video bytes written, encoded or copied
  int64_t AudioBytes = 0;
  int64_t HeaderBytes = 0;  // the encoders' global headers
  int DupFrames = 0;        // pictures duplicated by video sync
  int DropFrames = 0;       // pictures dropped by video sync
  int64_t TimerStart = 0;   // av_gettime_relative when the main loop began
  std::list<AVCodecContext*> OpenEncoders;  // most recently opened first
  std::list<AVCodecContext*> OpenDecoders;
  // Packed signed 16-bit samples of the decoded audio unit being processed;
  // only grows, and survives runs.
  std::vector<uint8_t> DecodedAudioBuffer;
  std::vector<uint8_t> SubtitleBuffer;  // encoded subtitle, 65536 bytes once made
  int HookFrameCount = 0;  // pictures seen by PrepareVideoFrame since the last reset
  // Called on the job's thread at the head of every main-loop iteration and
  // of the duplicate-picture loop. The converter's pause blocks in it until
  // the job is resumed or stopped; null means no pausing.
  std::function<void()> PauseGate;
  // Quantiser counters of option "qphist", shared by every session of the
  // process and never cleared.
  static std::array<std::atomic<int>, 52> QpHistogram;

  // Picture hooks (VideoOutput.cpp). The action and the range index are
  // reset at the start of every run; once hooking stops it stays stopped
  // for that run.
  THookAction HookAction = haContinue;
  int HookRangeIndex = 0;  // the hook range last matched; the search starts there
  // Working pictures of the hooks, kept from picture to picture: the private
  // copies the hooks paint on (as many as encoders and filters hold at once),
  // the bitmap handed to the custom hook and the cached conversions between
  // the decoded format and the bitmap's BGR rows.
  std::vector<FramePtr> HookPictures;
  TBitmap HookBitmap;
  SwsContextPtr ToRgbContext;
  SwsContextPtr FromRgbContext;
  // Silence inserted before a unit by audio synchronisation, followed by
  // the unit; only grows.
  std::vector<uint8_t> SilenceBuffer;
  // Set by benchmarks only: the run adds the wall time spent inside the
  // codecs' send and receive calls (decoding and encoding) to CodecTimeNs.
  bool MeasureCodecTime = false;
  int64_t CodecTimeNs = 0;

protected:
  // One packet of input stream ist (table index istIndex) through its
  // decoder to every output stream it feeds; null drains the decoder and
  // flushes the encoders it feeds. -1 when decoding failed.
  int ProcessInputPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet);
  // The one way to the muxer: the stream's bitstream filters, then the
  // interleaving writer. Takes the packet's reference.
  void WritePacket(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost);
  // Output paths of decoded units (AudioOutput.cpp, VideoOutput.cpp).
  void OutputAudio(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, const uint8_t* samples,
                   int size);
  // Deinterlacing and the picture hooks of one decoded picture; the picture
  // the outputs should take: the given one, or the session's private copy
  // the hooks painted on.
  AVFrame* PrepareVideoFrame(TInputStreamState& ist, AVFrame* picture);
  void OutputVideo(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture,
                   int& frameSize);
  void OutputSubtitle(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle* subtitle,
                      int64_t pts);
  // Encodes what the stream's FIFO still holds and drains the encoder.
  void FlushEncoder(AVFormatContext* os, TOutputStreamState& ost);
  // A decoded picture on its way to the encoded video outputs of its input
  // stream: deinterlacer, hooks, filter graph, then OutputVideo for every
  // picture that comes out. With a null picture the deinterlacer and the
  // graph hand out what they still hold (end of stream).
  void OutputDecodedPicture(TInputStreamState& ist, int istIndex, AVFrame* picture);
  // FilterGraph.cpp: the graph between decoder and encoder of a video
  // stream; 0, or -1 with LastError set for the conflicts of crop and pad
  // with filters.
  int BuildVideoFilterGraph(TInputStreamState& ist, TOutputStreamState& ost);
  // Hands a picture to the graph (no pixels are copied); -1 on failure.
  int FeedFilterGraph(TInputStreamState& ist, AVFrame* picture);
  // The graph's next picture, with its time in microseconds: 1, or -1 when
  // none is waiting (picture and pts then stay as they were).
  int PullFilteredPicture(TInputStreamState& ist, AVFrame*& picture, int64_t& pts);
  // Seconds of the sync stream's clock since StartTime.
  double SyncInputSeconds(const TOutputStreamState& ost) const;
  // Progress.cpp.
  void ReportProgress(bool finalReport);
  void WriteVideoStats(AVFormatContext* os, TOutputStreamState& ost, int frameSize);
  void FreeRunTables();
  // Encodes one frame (null drains the encoder) and writes every packet the
  // encoder gives back; the size of the last packet, 0 when none.
  int EncodeFrame(AVFormatContext* os, TOutputStreamState& ost, AVFrame* frame);

  std::unique_ptr<TRunTables> runTables_;

private:
  // TranscodeSetup.cpp.
  void SetUpTranscode(TRunTables& tables);
  void MapOutputStreams(TRunTables& tables);
  void SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist, AVFormatContext* os);
  void SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist);
  void OpenPassLog(TOutputStreamState& ost, int index);
  void OpenEncoder(TOutputStreamState& ost, TRunTables& tables);
  void OpenDecoder(TInputStreamState& ist);
  void CreateBitstreamFilters(TOutputStreamState& ost);
  int FindProgramStream(const TRunTables& tables, AVMediaType type, int programId);
  // TranscodeLoop.cpp.
  void RunMainLoop(TRunTables& tables);
  void CopyPacket(AVFormatContext* os, TOutputStreamState& ost, const TInputStreamState& ist, const AVPacket* packet);
  void FilterAndWrite(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost, size_t level);
  void MuxPacket(AVFormatContext* os, AVPacket* packet, TOutputStreamState& ost);
  int DecodeAudioVideo(TInputStreamState& ist, int istIndex, const AVPacket* packet);
  void HandleDecodedFrame(TInputStreamState& ist, int istIndex, AVFrame* frame, bool fromPacket, int framesOfPacket);
  void ThrottleToNativeRate(TInputStreamState& ist);
  // AudioOutput.cpp.
  int ConvertToS16(TInputStreamState& ist, const AVFrame* frame);
  void EncodeAudioSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples, int sampleCount);
  void OutputSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples, int sampleCount);
  void QueueAudioSamples(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* samples, int sampleCount);
  // VideoOutput.cpp.
  AVFrame* HookCopy(const AVFrame* picture);
  bool RunCustomHook(AVFrame* picture, int64_t pts);
  void ServeVideoOutputs(TInputStreamState& ist, int istIndex, AVFrame* picture);
  void FilterAndServe(TInputStreamState& ist, int istIndex, AVFrame* picture);
  // FilterGraph.cpp.
  int CreateVideoFilterGraph(TInputStreamState& ist, int width, int height, int format, AVRational aspect);
  int CreateDeinterlacer(TInputStreamState& ist, const AVFrame* picture);

public:
  TLogHandler LogHandler;
  TProgressHandler ProgressHandler;
  TTerminateHandler TerminateHandler;
  TBeforeHookHandler BeforeHookHandler;
  TCustomHookHandler CustomHookHandler;

protected:
  // Sends a line to LogHandler; builds nothing when no handler is assigned.
  void Log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
  // Option table (SessionOptions.cpp).
  struct TOptionEntry;
  static const std::vector<TOptionEntry>& OptionTable();
  void ApplyCrop(const std::string& name, const std::string& value);
  void ApplyPad(const std::string& name, const std::string& value);
  void ApplyCodecName(char kind, const std::string& value);
  void ApplyCodecTag(char kind, const std::string& value);
  void ApplyBitRate(const std::string& name, const std::string& value);
  AVFormatContext* LastOutput();
  void ApplyMatrix(std::vector<uint16_t>& matrix, const std::string& value);
  void ApplyBitstreamFilter(char kind, const std::string& value);
  void ApplyVideoHook(const std::string& value);
  void ApplyFrameSize(const std::string& value);
  void ApplyAspect(const std::string& value);
  void LogPixelFormats();
  void LogSampleFormats();
  void SetVerbose(int level);

  // Generic options (GenericOptions.cpp).
  bool EnsureOptionHolders();
  void FreeOptionHolders();
  bool SetPrivateOption(const std::string& name, const std::string& value);
  void ApplyEncoderPrivateOptions(TOutputStreamRecord& record);
  void ApplyMuxerPrivateOptions(AVFormatContext* output, TOutputFileRecord& record);
  const AVCodec* FindCodecByName(const std::string& name, AVMediaType type, bool encoder);

  // Output streams (OutputStreams.cpp).
  TOutputFileRecord& RecordOf(AVFormatContext* output);
  const AVCodec* ChooseEncoder(AVFormatContext* output, const std::string& name, AVMediaType type,
                               AVCodecID& codecId);
  TOutputStreamRecord& AddStream(AVFormatContext* output, TOutputFileRecord& record, const AVCodec* codec,
                                 bool streamCopy);
  void CheckStreamRoom(AVFormatContext* output);
  void ReleaseOutput(int index);

  // Input opening (InputOpening.cpp).
  void ResetInputOptions();

  // The generic options actually set per holder, so that a holder's defaults
  // never overwrite an encoder's own defaults.
  std::vector<std::pair<const void*, std::string>> setInHolder_;
  std::array<TOutputFileRecord, MaxFiles> outputRecords_;
  TOutputFileRecord* pendingRecord_ = nullptr;  // the output OpenOutputFile is creating
  AVFormatContext* pendingOutput_ = nullptr;
};
