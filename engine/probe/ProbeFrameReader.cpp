// The frame reader of TAVProbe: moves the read position of a file the probe
// opened itself and decodes the picture there into a 24-bit BGR bitmap.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/binding/CodecLock.h"
#include "engine/binding/EngineError.h"
#include "engine/binding/EngineLog.h"
#include "engine/binding/LocalInput.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/probe/AVProbe.h"

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

// Row alignment of the conversion buffer: the scaler works fastest, and stays
// quiet, when every destination row starts on a 32-byte boundary.
constexpr int kRgbAlign = 32;

// Decoder errors tolerated in a row without new input; a decoder that keeps
// failing on the same data ends it instead of spinning.
constexpr int kMaxDecodeErrors = 1000;

}  // namespace

// Still pictures: the image2 demuxer, and the single-image demuxers that the
// libraries pick by content for picture files ("png_pipe", "jpeg_pipe", ...).
bool TAVProbe::IsStillPicture() const {
  if (!context_ || !context_->iformat || !context_->iformat->name) return false;
  const char* name = context_->iformat->name;
  if (strcasecmp(name, "image2") == 0 || strcasecmp(name, "image2pipe") == 0) return true;
  const size_t length = std::strlen(name);
  return length > 5 && strcasecmp(name + length - 5, "_pipe") == 0;
}

bool TAVProbe::SeekTo(int streamIndex, int64_t position) {
  if (!context_) {
    EngineLog(1, "file not loaded.\n");
    lastError_ = "file not loaded.";
    return false;
  }
  if (!ownsContext_) {
    EngineLog(1, "file cannot be seeked, handle is readonly.\n");
    lastError_ = "file cannot be seeked, handle is readonly.";
    throw FFMpegException(lastError_);
  }
  if (IsStillPicture()) {
    EngineLog(1, "\"image2\" format cannot to be seeked.\n");
    return true;
  }

  int64_t target = std::max<int64_t>(position, 0);
  if (streamIndex < 0) {
    streamIndex = firstVideoStream_ >= 0   ? firstVideoStream_
                  : firstAudioStream_ >= 0 ? firstAudioStream_
                                           : firstSubtitleStream_;
  } else if (streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    return false;
  }

  // Target in the clock of the chosen stream (or of the file), clamped to its
  // length and shifted by its start.
  AVRational timeBase = kMicroseconds;
  int64_t start;
  if (streamIndex >= 0) {
    const AVStream* stream = context_->streams[streamIndex];
    timeBase = stream->time_base;
    target = FF.av_rescale_q(target, kMicroseconds, timeBase);
    if (stream->duration > 0 && stream->duration < target) target = stream->duration;
    start = stream->start_time;
  } else {
    if (context_->duration > 0 && context_->duration < target) target = context_->duration;
    start = context_->start_time;
  }
  if (start != AV_NOPTS_VALUE) target += start;

  if (decoder_) FF.avcodec_flush_buffers(decoder_.get());
  int result;
  if (position > 0) {
    // Land on the key frame at or before the target; DecodeFrame then decodes
    // forward to the picture that shows at the target, as a trim or crop
    // preview expects.
    result = FF.av_seek_frame(context_, streamIndex, target, AVSEEK_FLAG_BACKWARD);
    seekTargetUs_ = FF.av_rescale_q(target, timeBase, kMicroseconds);
  } else {
    result = FF.av_seek_frame(context_, streamIndex, 0, AVSEEK_FLAG_BACKWARD);
    seekTargetUs_ = AV_NOPTS_VALUE;
  }
  seekStream_ = streamIndex;
  if (result < 0) EngineLog(0, "could not seek to position %0.3f\n", position / 1000000.0);
  return true;
}

void TAVProbe::OpenDecoder(int streamIndex) {
  if (decoder_ && decoderStream_ == streamIndex) return;
  {
    std::lock_guard<std::mutex> lock(CodecLock());
    decoder_.reset();
  }
  decoderStream_ = -1;

  const AVStream* stream = context_->streams[streamIndex];
  const AVCodec* codec = FF.avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) {
    lastError_ = FormatText("Unsupported codec (id=%d) for input file stream #%d",
                            static_cast<int>(stream->codecpar->codec_id), streamIndex);
    throw FFMpegException(lastError_);
  }
  CodecContextPtr decoder(FF.avcodec_alloc_context3(codec));
  int opened = decoder ? FF.avcodec_parameters_to_context(decoder.get(), stream->codecpar) : -1;
  if (opened >= 0) {
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = decoderThreads_;
    AVDictionary* options = nullptr;
    AddDecoderLimits(&options);
    {
      std::lock_guard<std::mutex> lock(CodecLock());
      opened = FF.avcodec_open2(decoder.get(), codec, &options);
    }
    FF.av_dict_free(&options);
  }
  if (opened < 0) {
    lastError_ = FormatText("Error while opening codec for input file stream #%d", streamIndex);
    throw FFMpegException(lastError_);
  }
  decoder_ = std::move(decoder);
  decoderStream_ = streamIndex;
}

// The next packet of the stream; false at the end of the data or on a read
// error.
bool TAVProbe::ReadStreamPacket(int streamIndex, AVPacket* packet) {
  while (FF.av_read_frame(context_, packet) >= 0) {
    if (packet->stream_index == streamIndex) return true;
    FF.av_packet_unref(packet);
  }
  return false;
}

// The next decoded picture of the stream. Codecs with delayed output are fed
// until a picture comes out; at the end of the data the decoder is drained so
// that its last pictures still come out. False once nothing is left.
bool TAVProbe::ReceiveFrame(int streamIndex, AVFrame* frame) {
  PacketPtr packet(FF.av_packet_alloc());
  if (!packet) return false;
  bool draining = false;
  int errors = 0;
  for (;;) {
    const int received = FF.avcodec_receive_frame(decoder_.get(), frame);
    if (received == 0) return true;
    if (received == AVERROR_EOF) return false;
    if (received != AVERROR(EAGAIN)) {
      // A damaged picture: look for the next one.
      if (++errors > kMaxDecodeErrors) return false;
      continue;
    }
    if (draining) return false;
    if (!ReadStreamPacket(streamIndex, packet.get())) {
      FF.avcodec_send_packet(decoder_.get(), nullptr);
      draining = true;
      continue;
    }
    // A packet the decoder rejects is skipped; the next one may decode.
    FF.avcodec_send_packet(decoder_.get(), packet.get());
    FF.av_packet_unref(packet.get());
    errors = 0;
  }
}

// The picture's time in microseconds of the file's clock, AV_NOPTS_VALUE when
// it has none.
int64_t TAVProbe::FrameTimeUs(const AVStream* stream, const AVFrame* frame) const {
  int64_t timestamp = frame->best_effort_timestamp;
  if (timestamp == AV_NOPTS_VALUE) timestamp = frame->pts;
  if (timestamp == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  return FF.av_rescale_q(timestamp, stream->time_base, kMicroseconds);
}

// Half the stream's frame duration: a picture this close to a seek target is
// the picture at the target.
int64_t TAVProbe::HalfFrameUs(const AVStream* stream) const {
  const AVRational rate = FF.av_guess_frame_rate(context_, const_cast<AVStream*>(stream), nullptr);
  return rate.num > 0 && rate.den > 0 ? FF.av_rescale(500000, rate.den, rate.num) : 0;
}

// Seeks again by the last seek's stream, marginUs before its target. False
// when that reached the start of the data, so that going further back is
// pointless.
bool TAVProbe::SeekEarlier(int64_t marginUs) {
  AVRational timeBase = kMicroseconds;
  int64_t start = context_->start_time;
  if (seekStream_ >= 0) {
    timeBase = context_->streams[seekStream_]->time_base;
    start = context_->streams[seekStream_]->start_time;
  }
  const int64_t startUs = start == AV_NOPTS_VALUE ? 0 : FF.av_rescale_q(start, timeBase, kMicroseconds);
  const bool atStart = seekTargetUs_ - marginUs <= startUs;
  const int64_t earlierUs = atStart ? startUs : seekTargetUs_ - marginUs;
  FF.avcodec_flush_buffers(decoder_.get());
  FF.av_seek_frame(context_, seekStream_, FF.av_rescale_q(earlierUs, kMicroseconds, timeBase),
                   AVSEEK_FLAG_BACKWARD);
  return !atStart;
}

// Converts the decoded picture to BGR (a BGR source is taken as it is) and
// copies it row by row into the picture bitmap. False when the conversion
// could not be set up; the picture is black then.
bool TAVProbe::CopyToPicture(const AVFrame* frame) {
  const int width = frame->width;
  const int height = frame->height;
  if (picture_->Width() != width || picture_->Height() != height) picture_->SetSize(width, height);

  const uint8_t* source = frame->data[0];
  int sourceStride = frame->linesize[0];
  // The scaler aborts the process on a pixel format it does not know, which a
  // damaged stream must never cause.
  const bool knownFormat =
      frame->format >= 0 && FF.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (!knownFormat || !source) {
    EngineLog(0, "Cannot initialize the toRGB conversion context\n");
    picture_->Fill(0, 0, 0);
    return false;
  }
  if (frame->format != AV_PIX_FMT_BGR24) {
    const int size = FF.av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, kRgbAlign);
    // The buffer only grows: a preview decodes many pictures of one size.
    if (size > 0 && (!rgbBuffer_ || rgbBufferSize_ < size)) {
      FF.av_free(rgbBuffer_);
      rgbBuffer_ = static_cast<uint8_t*>(FF.av_malloc(size));
      rgbBufferSize_ = rgbBuffer_ ? size : 0;
    }
    uint8_t* planes[4] = {};
    int lineSizes[4] = {};
    if (rgbBuffer_ && size > 0)
      FF.av_image_fill_arrays(planes, lineSizes, rgbBuffer_, AV_PIX_FMT_BGR24, width, height, kRgbAlign);
    conversion_ =
        FF.sws_getCachedContext(conversion_, width, height, static_cast<AVPixelFormat>(frame->format), width,
                                height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!conversion_ || !planes[0]) {
      EngineLog(0, "Cannot initialize the toRGB conversion context\n");
      picture_->Fill(0, 0, 0);
      return false;
    }
    FF.sws_scale(conversion_, frame->data, frame->linesize, 0, height, planes, lineSizes);
    source = planes[0];
    sourceStride = lineSizes[0];
  }
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int row = 0; row < height; ++row)
    std::memcpy(picture_->ScanLine(row), source + static_cast<ptrdiff_t>(row) * sourceStride, rowBytes);
  return true;
}

TBitmap& TAVProbe::DecodeFrame(int streamIndex) {
  if (context_ && !ownsContext_) {
    EngineLog(1, "frame cannot be read, handle is readonly.\n");
    lastError_ = "frame cannot be read, handle is readonly.";
    throw FFMpegException(lastError_);
  }
  if (!picture_) picture_ = std::make_unique<TBitmap>();
  if (!context_) {
    EngineLog(0, "file not loaded.\n");
    picture_->SetSize(0, 0);
    return *picture_;
  }
  if (streamIndex < 0) {
    streamIndex = firstVideoStream_;
    if (streamIndex < 0) {
      EngineLog(0, "no video stream.\n");
      picture_->SetSize(0, 0);
      return *picture_;
    }
  }
  if (streamIndex >= streamCount_) {
    EngineLog(0, "stream index #%d is invalid.\n", streamIndex);
    picture_->SetSize(0, 0);
    return *picture_;
  }
  const AVStream* stream = context_->streams[streamIndex];
  if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    EngineLog(0, "stream #%d is not video stream.\n", streamIndex);
    picture_->SetSize(0, 0);
    return *picture_;
  }
  // A still picture is decoded once; later calls show it again.
  if (singlePictureDecoded_ && IsStillPicture()) return *picture_;
  if (stream->codecpar->width == 0 || stream->codecpar->height == 0) {
    picture_->SetSize(0, 0);
    return *picture_;
  }

  OpenDecoder(streamIndex);
  const int width = decoder_->width > 0 ? decoder_->width : stream->codecpar->width;
  const int height = decoder_->height > 0 ? decoder_->height : stream->codecpar->height;
  if (picture_->Width() != width || picture_->Height() != height) picture_->SetSize(width, height);

  FramePtr frame(FF.av_frame_alloc());
  FramePtr previous(FF.av_frame_alloc());
  if (!frame || !previous) throw FFMpegException("Cannot allocate a video frame");
  // After a seek, pictures before the target are decoded and dropped. The
  // first picture after the seek may also lie past the target: demuxers
  // without a key-frame index seek by packet timestamps, and decoding starts
  // at the next key frame. Then the seek is repeated further back.
  const int64_t halfFrameUs = HalfFrameUs(stream);
  bool firstAfterSeek = true;
  bool mayRetry = true;
  int64_t marginUs = 1000000;
  bool found = false;
  while (ReceiveFrame(streamIndex, frame.get())) {
    const int64_t timeUs = FrameTimeUs(stream, frame.get());
    if (seekTargetUs_ != AV_NOPTS_VALUE && timeUs != AV_NOPTS_VALUE) {
      if (firstAfterSeek && mayRetry && timeUs - halfFrameUs > seekTargetUs_) {
        mayRetry = SeekEarlier(marginUs);
        marginUs *= 2;
        FF.av_frame_unref(frame.get());
        continue;
      }
      firstAfterSeek = false;
      if (timeUs + halfFrameUs < seekTargetUs_) {
        std::swap(frame, previous);
        FF.av_frame_unref(frame.get());
        continue;
      }
    }
    found = true;
    break;
  }
  // A target at or past the last picture shows that last picture.
  if (!found && seekTargetUs_ != AV_NOPTS_VALUE && previous->buf[0]) {
    std::swap(frame, previous);
    found = true;
  }
  seekTargetUs_ = AV_NOPTS_VALUE;
  if (!found) {
    EngineLog(2, "stream eof reached.\n");
    picture_->Fill(0, 0, 0);
    return *picture_;
  }

  if (!CopyToPicture(frame.get())) return *picture_;
  if (!lastPicture_) lastPicture_ = std::make_unique<TBitmap>();
  *lastPicture_ = *picture_;
  singlePictureDecoded_ = IsStillPicture();
  return *picture_;
}

TBitmap& TAVProbe::GetLastPicture() {
  if (!lastPicture_) lastPicture_ = std::make_unique<TBitmap>();
  return *lastPicture_;
}
