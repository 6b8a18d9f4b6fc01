#pragma once
// The per-run tables of a transcode: one record per input file, input stream
// and output stream. The set-up builds them, the main loop and the audio,
// video and subtitle output paths work on them, and FreeRunTables releases
// them at the end of the run (also when the run fails). Nothing here survives
// a run.
//
// Threads: a run belongs to the job's thread; nothing here is shared.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/binding/FFmpegHeaders.h"
#include "engine/binding/MediaPtr.h"

struct TOutputStreamRecord;

struct TInputFileState {
  // Reading returned an error or the end: the file no longer takes part in
  // the choice of the next packet.
  bool EofReached = false;
  int FirstStream = 0;  // index of the file's first stream in the input stream table
  int StreamCount = 0;  // streams at set-up; packets of later streams are dropped
};

struct TInputStreamState {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream* Stream = nullptr;  // the demuxer's stream
  // The stream's decoder: streams carry codec parameters only, so each input
  // stream that is decoded gets its own context, opened by the set-up.
  CodecContextPtr Decoder;
  bool DecoderOpen = false;
  bool Discard = true;  // until an output stream takes this stream as its source
  bool DecodingNeeded = false;
  bool RateEmu = false;  // read at the stream's native rate
  int64_t RateStart = 0;  // wall clock (microseconds) when native-rate reading began
  int RateFrames = 0;
  int64_t RatePtsStart = AV_NOPTS_VALUE;  // stream time of the first unit read at native rate
  // Times in microseconds: the predicted time of the next decoded unit, and
  // the time of the unit being processed.
  int64_t NextPts = AV_NOPTS_VALUE;
  int64_t Pts = 0;
  bool IsStart = true;  // cleared by audio synchronisation once the start is padded or trimmed
  // One frame of video (the inverse of the frame rate); 0/1 when unknown.
  AVRational CodecTimeBase{0, 1};
  float Quality = 0;  // quality of the last decoded picture, lambda units

  FramePtr Frame;  // decoded frame, allocated once and reused
  // Decoded audio becomes packed signed 16-bit samples at the decoder's rate
  // and channel count before it reaches the outputs.
  SwrContextPtr ToS16;
  int ToS16Format = -1, ToS16Rate = 0, ToS16Channels = 0;
  int UnitChannels = 0;  // channels and rate of the current decoded audio unit
  int UnitRate = 0;

  // Video filter graph between the decoder and the encoder.
  FilterGraphPtr FilterGraph;
  AVFilterContext* FilterSource = nullptr;
  AVFilterContext* FilterSink = nullptr;
  bool HasFilterFrame = false;
  FramePtr FilteredPicture;
  // What the graph was built for: the pictures its source takes (a picture
  // of another size or format rebuilds it) and the encoder's picture.
  int FilterWidth = 0, FilterHeight = 0, FilterFormat = -1;
  int FilterTargetWidth = 0, FilterTargetHeight = 0, FilterTargetFormat = -1;

  // Deinterlacer: a small graph of its own, built on the first picture and
  // again only when the picture's size or format changes.
  FilterGraphPtr Deinterlacer;
  AVFilterContext* DeinterlaceSource = nullptr;
  AVFilterContext* DeinterlaceSink = nullptr;
  int DeinterlaceWidth = 0, DeinterlaceHeight = 0, DeinterlaceFormat = -1;
  bool DeinterlaceFailed = false;  // logged once; pictures then pass as decoded
  FramePtr Deinterlaced;
};

// Statistics of the last coded picture, from the encoder's packet side data.
struct TCodedPictureStats {
  bool Known = false;
  int Quality = 0;  // lambda units (quantiser x FF_QP2LAMBDA)
  int PictureType = AV_PICTURE_TYPE_NONE;
  uint64_t Error[4] = {0, 0, 0, 0};  // sums of squared errors per plane, when PSNR is computed
};

struct TOutputStreamState {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SourceIndex = 0;  // index of the source in the input stream table
  AVStream* Stream = nullptr;           // the muxer's stream
  AVCodecContext* Encoder = nullptr;    // owned by Record
  TOutputStreamRecord* Record = nullptr;
  bool EncodingNeeded = false;  // false: stream copy
  // Pictures encoded (video) and packets copied (stream copy) so far.
  int FrameNumber = 0;
  TInputStreamState* SyncStream = nullptr;  // whose clock this stream follows
  // Output clock: video in encoder time-base ticks, audio in samples.
  int64_t SyncPosition = 0;

  // Video: scaling, pixel-format conversion, cropping and padding.
  bool VideoResample = false;
  SwsContextPtr Scaler;
  int ResampleHeight = 0;  // source rows handed to the scaler
  // Pictures in the encoder's format and size, reused: an encoder may keep
  // a reference to a picture, so one that is not writable is passed over
  // and the pool grows to what the encoder holds at once.
  std::vector<FramePtr> Pictures;
  FramePtr CroppedView;  // a reference to the decoded picture, narrowed to the cropped area
  bool VideoCrop = false;
  int CropTop = 0, CropLeft = 0;
  bool VideoPad = false;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;

  // Audio: the FIFO holds packed signed 16-bit samples at the encoder's rate
  // and channel count; the sample format converter turns them into the
  // encoder's format one frame at a time.
  bool AudioResample = false;
  SwrContextPtr AudioResampler;  // rate and channel changes, made on first use
  int ResamplerInRate = 0, ResamplerInChannels = 0;  // the decoded audio the resampler was made for
  int SampleFormatPair = -6;     // encoder format + 5 x unit format of the converter; -6 none
  SwrContextPtr SampleFormatConverter;
  AudioFifoPtr SampleFifo;
  std::vector<uint8_t> ResampleBuffer;  // resampler output, grown as needed
  std::vector<uint8_t> FrameSamples;    // one frame read from the FIFO
  FramePtr AudioFrame;                  // encoder input, reused
  int AudioFrameCapacity = 0;           // samples AudioFrame has room for
  int64_t AudioNextPts = AV_NOPTS_VALUE;  // encoder time base

  FILE* PassLogFile = nullptr;  // two-pass statistics written in pass 1

  PacketPtr Packet;  // encoder output, reused
  // DVB subtitles: the empty page that clears the last page, held until the
  // next page comes (and dropped when that page comes first) or the end.
  PacketPtr HeldClear;
  std::vector<PacketPtr> FilterPackets;  // output of each bitstream filter of the chain
  // End (pts + duration) of the last packet handed to the muxer, in the
  // stream's time base: the muxer's clock of this stream.
  int64_t MuxTimestamp = AV_NOPTS_VALUE;
  TCodedPictureStats Coded;
};

struct TRunTables {
  std::vector<TInputFileState> InputFiles;
  std::vector<TInputStreamState> InputStreams;
  std::vector<TOutputStreamState> OutputStreams;
  PacketPtr ReadPacket;  // the packet being read and processed
  PacketPtr CopyPacket;  // a copied packet on its way to the muxer
};
