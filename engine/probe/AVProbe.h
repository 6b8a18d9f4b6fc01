#pragma once
// TAVProbe opens one media file by itself (or attaches read-only to a context a
// session opened), describes it, and decodes single video frames to pictures.
//
// Threads: one thread at a time per probe. Messages go to the media library's
// log function and so reach the converter's log callback.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/binding/FFmpegHeaders.h"
#include "engine/binding/MediaPtr.h"
#include "engine/probe/TBitmap.h"

struct TFormatInfo {
  int64_t StartTime = -1;  // microseconds; AV_NOPTS_VALUE when unknown
  int64_t Duration = -1;   // microseconds; AV_NOPTS_VALUE when unknown
  int BitRate = -1;
  int64_t Timestamp = -1;  // creation time, seconds since 1970 UTC; 0 when unknown
  std::string Title, Author, Copyright, Comment, Album;
  int Year = -1;
  int Track = -1;
  std::string Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;    // stream time base units, as stored
  int64_t StartTimeUs = -1;  // -1 when unknown
  int64_t Duration = -1;
  int64_t DurationUs = -1;
  int BitRate = -1;
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeUs = -1;
  int64_t Duration = -1;
  int64_t DurationUs = -1;
  int BitRate = -1;
  int Height = -1;
  int Width = -1;
  float DisplayAspect = -1.0f;
  int PixelFormat = -1;
  int FrameRateNum = -1;
  int FrameRateDen = -1;
};

// "HH:MM:SS.mmm" for a duration in microseconds; hours do not wrap at 24.
std::string FormatDurationText(int64_t microseconds);

class TAVProbe {
public:
  TAVProbe();
  ~TAVProbe();
  TAVProbe(const TAVProbe&) = delete;
  TAVProbe& operator=(const TAVProbe&) = delete;

  // Raises FFMpegException naming the first library that is not loaded.
  static void CheckLibraries();

  // False with LastError set when the file does not open; raises when the
  // libraries are not loaded.
  bool OpenFile(const std::string& fileName, const std::string& formatName = "");
  // Describes a context another owner opened; never closes it.
  void AttachContext(AVFormatContext* context);
  void CloseFile();

  void GetFormatInfo(TFormatInfo& info) const;
  void GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) const;
  void GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info) const;
  std::string GetInfoText() const;
  std::string GetFileName() const;
  std::string GetFormatName() const;
  int64_t GetFileSize() const;
  bool IsAudioStream(int streamIndex) const;
  bool IsVideoStream(int streamIndex) const;

  // Frame reader: move the read position (microseconds) and decode the next
  // picture there. Both refuse an attached probe by raising FFMpegException.
  bool SeekTo(int streamIndex, int64_t position);
  TBitmap& DecodeFrame(int streamIndex);
  TBitmap& GetLastPicture();
  // Threads of the frame reader's decoder: 0 (the default) lets the library
  // choose, 1 decodes on the calling thread. A seek decodes forward from the
  // key frame before the target, which frame threads speed up whenever a core
  // is free. Takes effect when a decoder is next opened.
  void SetDecoderThreads(int count) { decoderThreads_ = count; }

  int StreamCount() const { return streamCount_; }
  int ProgramCount() const { return programCount_; }
  int AudioStreamCount() const { return audioStreamCount_; }
  int VideoStreamCount() const { return videoStreamCount_; }
  int SubtitleStreamCount() const { return subtitleStreamCount_; }
  int FirstAudioStream() const { return firstAudioStream_; }
  int FirstVideoStream() const { return firstVideoStream_; }
  int FirstSubtitleStream() const { return firstSubtitleStream_; }
  const std::string& LastError() const { return lastError_; }
  // The open context, or null; owned only when OpenFile opened it.
  AVFormatContext* Context() const { return context_; }

private:
  void CountStreams();
  bool IsImage2() const;
  std::string StreamLine(int index) const;
  bool IsStillPicture() const;
  void OpenDecoder(int streamIndex);
  bool ReadStreamPacket(int streamIndex, AVPacket* packet);
  bool ReceiveFrame(int streamIndex, AVFrame* frame);
  int64_t FrameTimeUs(const AVStream* stream, const AVFrame* frame) const;
  int64_t HalfFrameUs(const AVStream* stream) const;
  bool SeekEarlier(int64_t marginUs);
  bool CopyToPicture(const AVFrame* frame);

  AVFormatContext* context_ = nullptr;
  bool ownsContext_ = false;
  std::string lastError_;
  std::string formatName_;
  int streamCount_ = -1;
  int programCount_ = -1;
  int audioStreamCount_ = -1;
  int videoStreamCount_ = -1;
  int subtitleStreamCount_ = -1;
  int firstAudioStream_ = -1;
  int firstVideoStream_ = -1;
  int firstSubtitleStream_ = -1;

  // Frame reader state.
  CodecContextPtr decoder_;
  int decoderStream_ = -1;
  SwsContext* conversion_ = nullptr;
  std::unique_ptr<TBitmap> picture_;
  std::unique_ptr<TBitmap> lastPicture_;
  bool singlePictureDecoded_ = false;
  uint8_t* rgbBuffer_ = nullptr;
  int rgbBufferSize_ = 0;
  int decoderThreads_ = 0;
  // The last seek: the position (microseconds of the file's own clock) that
  // the next decoded picture must reach, AV_NOPTS_VALUE when there is none,
  // and the stream the seek went by.
  int64_t seekTargetUs_ = AV_NOPTS_VALUE;
  int seekStream_ = -1;
};
