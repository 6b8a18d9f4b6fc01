// Creating, initialising, resetting and releasing a session.
#include <unistd.h>

#include <cstdarg>
#include <mutex>

#include "engine/binding/CodecLock.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

TCustomFFmpeg::TCustomFFmpeg() {
  ResetOptions();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  ReleaseSession();
}

void TCustomFFmpeg::InitSession() {
  if (!MediaLibrariesLoaded()) return;
  ReleaseSession();
  ResetOptions();
  Running = false;
  StopRequested = false;
  CompletedNormally = false;
  Done = false;
  TotalDuration = -1;
  EnsureOptionHolders();
}

void TCustomFFmpeg::ReleaseSession() {
  FreeOptionHolders();

  for (int i = OutputFileCount - 1; i >= 0; --i) ReleaseOutput(i);
  OutputFileCount = 0;

  for (int i = 0; i < InputFileCount; ++i) {
    if (InputFiles[i]) FF.avformat_close_input(&InputFiles[i]);
    InputFiles[i] = nullptr;
  }
  InputFileCount = 0;

  IntraMatrix.clear();
  InterMatrix.clear();
  if (VStatsFile) {
    fclose(VStatsFile);
    VStatsFile = nullptr;
  }
  VStatsFileName.clear();
  GenericOptionNames.clear();
  setInHolder_.clear();
  EncoderPrivateOptions.clear();
  MuxerPrivateOptions.clear();
  VideoBitstreamFilters.clear();
  AudioBitstreamFilters.clear();
  SubtitleBitstreamFilters.clear();
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  VideoStandard.clear();
  VideoRcOverride.clear();
  AudioLanguage.clear();
  SubtitleLanguage.clear();

  if (FrameHooks) ReleaseFrameHooks(FrameHooks);
}

void TCustomFFmpeg::ReleaseOutput(int index) {
  AVFormatContext*& output = OutputFiles[index];
  TOutputFileRecord& record = outputRecords_[index];
  if (output && output->pb && !(output->oformat->flags & AVFMT_NOFILE)) FF.avio_closep(&output->pb);
  {
    // Freeing an encoder that the run opened closes it.
    std::lock_guard<std::mutex> guard(CodecLock());
    record.Streams.clear();
  }
  record.MuxerOptions.reset();
  if (record.OpenedForWriting && FileSizeByName(record.FileName) == 0) unlink(record.FileName.c_str());
  record = TOutputFileRecord{};
  if (output) FF.avformat_free_context(output);
  output = nullptr;
}

void TCustomFFmpeg::ResetOptions() {
  for (auto& scales : InputTsScales) scales.fill(0.0);
  InputTsOffsets.fill(0);
  InputRateEmu.fill(0);
  StreamMapCount = 0;
  MetaDataMapCount = 0;

  ForcedInputFormat = nullptr;
  ForcedOutputFormat = nullptr;
  FrameWidth = 0;
  FrameHeight = 0;
  FrameAspectRatio = 0;
  FramePixFmt = -1;
  AudioSampleFmt = -1;
  PadTop = PadBottom = PadLeft = PadRight = 0;
  PadColor = {16, 128, 128};
  CropTop = CropBottom = CropLeft = CropRight = 0;
  MaxFrames.fill(INT32_MAX);
  FrameRate = AVRational{0, 0};
  VideoQScale = 0;
  IntraMatrix.clear();
  InterMatrix.clear();
  VideoRcOverride.clear();
  VideoDisable = 0;
  VideoDiscard = 0;
  VideoCodecName.clear();
  VideoCodecTag = 0;
  SameQuality = 0;
  Deinterlace = 0;
  TopFieldFirst = -1;
  MeThreshold = 0;
  IntraDcPrecision = 8;
  LoopInput = 0;
  LoopOutput = -1;
  QpHist = 0;
  VideoFilters.clear();
  UseFilters = false;
  IntraOnly = 0;
  AudioSampleRate = 44100;
  AudioQScale = AudioQScaleUnset;
  AudioDisable = 0;
  AudioChannels = 2;
  AudioCodecName.clear();
  AudioCodecTag = 0;
  AudioLanguage.clear();
  SubtitleDisable = 0;
  SubtitleCodecName.clear();
  SubtitleLanguage.clear();
  MuxPreload = 0.5f;
  MuxMaxDelay = 0.7f;
  RecordingTime = INT64_MAX;
  StartTime = 0;
  RecTimestamp = 0;
  InputTsOffset = 0;
  Title.clear();
  Author.clear();
  Copyright.clear();
  Comment.clear();
  Genre.clear();
  Album.clear();
  Year = 0;
  Track = 0;
  DoHexDump = 0;
  DoPktDump = 0;
  DoPsnr = 0;
  DoPass = 0;
  PassLogFilePrefix.clear();
  AudioStreamCopy = 0;
  VideoStreamCopy = 0;
  SubtitleStreamCopy = 0;
  VideoSyncMethod = -1;
  AudioSyncMethod = 0;
  AudioDriftThreshold = 0.1f;
  CopyTs = false;
  Shortest = 0;
  VideoGlobalHeader = 0;
  VStatsFileName.clear();
  ProgramId = 0;
  RateEmu = 0;
  VideoChannel = 0;
  VideoStandard.clear();
  AudioVolume = 256;
  ExitOnError = false;
  UsingVHook = false;
  Verbose = 1;
  ThreadCount = 0;
  InputSync = 0;
  LimitFileSize = 0;
  PgmyuvCompatibility = 0;
  DtsDeltaThreshold = 10;
  SwsFlags = SWS_BICUBIC;

  GenericOptionNames.clear();
  setInHolder_.clear();
  EncoderPrivateOptions.clear();
  MuxerPrivateOptions.clear();
  VideoBitstreamFilters.clear();
  AudioBitstreamFilters.clear();
  SubtitleBitstreamFilters.clear();

  BitBufferSize = 262144;
  TotalDuration = -1;
  ExceptionRaised = false;
}

void TCustomFFmpeg::Log(int level, const char* format, ...) {
  if (!LogHandler) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  LogHandler(*this, level, text);
}
