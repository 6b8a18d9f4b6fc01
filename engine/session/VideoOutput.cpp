// The video and subtitle output paths: video sync (drop and duplicate),
// cropping, scaling and padding into the encoder's picture, encoding; and the
// encoding of decoded subtitles.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr AVRational kMilliseconds{1, 1000};

double Real(AVRational r) { return r.den != 0 ? static_cast<double>(r.num) / r.den : 0.0; }

int64_t RoundHalfEven(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

// Plane pointers of a picture moved to the pixel at (top, left); chroma
// planes move by the subsampled amounts.
void OffsetPlanes(const AVPixFmtDescriptor* desc, uint8_t* const data[4], const int lines[4], int top, int left,
                  uint8_t* out[4]) {
  int step[4] = {0, 0, 0, 0};
  for (int c = 0; c < desc->nb_components; ++c)
    step[desc->comp[c].plane] = std::max(step[desc->comp[c].plane], desc->comp[c].step);
  for (int p = 0; p < 4; ++p) {
    out[p] = data[p];
    if (!data[p]) continue;
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int rows = chroma ? top >> desc->log2_chroma_h : top;
    const int columns = chroma ? left >> desc->log2_chroma_w : left;
    out[p] = data[p] + static_cast<ptrdiff_t>(rows) * lines[p] + static_cast<ptrdiff_t>(columns) * step[p];
  }
}

// Paints the border around the inner area of a picture in the pad colour;
// only 8-bit planar YUV pictures take a colour, other formats get zeros.
void FillBorders(AVFrame* picture, const AVPixFmtDescriptor* desc, int top, int bottom, int left, int right,
                 const std::array<int, 3>& color) {
  const bool yuv8 = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && !(desc->flags & AV_PIX_FMT_FLAG_RGB) &&
                    desc->comp[0].depth == 8;
  for (int p = 0; p < 4 && picture->data[p]; ++p) {
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int shiftH = chroma ? desc->log2_chroma_h : 0;
    const int shiftW = chroma ? desc->log2_chroma_w : 0;
    const int height = AV_CEIL_RSHIFT(picture->height, shiftH);
    const int lineBytes = picture->linesize[p];
    const int value = !yuv8 ? 0 : p < 3 ? color[p] : 255;
    const int topRows = top >> shiftH, bottomRows = bottom >> shiftH;
    int bytesPerPixel = 1;
    if (!yuv8) {
      for (int c = 0; c < desc->nb_components; ++c)
        if (desc->comp[c].plane == p) bytesPerPixel = std::max(bytesPerPixel, desc->comp[c].step);
    }
    const int leftBytes = (left >> shiftW) * bytesPerPixel;
    const int rightBytes = (right >> shiftW) * bytesPerPixel;
    const int widthBytes = AV_CEIL_RSHIFT(picture->width, shiftW) * bytesPerPixel;
    for (int y = 0; y < height; ++y) {
      uint8_t* row = picture->data[p] + static_cast<ptrdiff_t>(y) * lineBytes;
      if (y < topRows || y >= height - bottomRows) {
        std::memset(row, value, static_cast<size_t>(widthBytes));
      } else {
        std::memset(row, value, static_cast<size_t>(leftBytes));
        std::memset(row + widthBytes - rightBytes, value, static_cast<size_t>(rightBytes));
      }
    }
  }
}

// A picture of the pool that the encoder no longer holds; the pool grows
// to the number of pictures the encoder keeps at once.
AVFrame* WritablePicture(TOutputStreamState& ost) {
  for (FramePtr& picture : ost.Pictures)
    if (FF.av_frame_is_writable(picture.get())) return picture.get();
  const AVCodecContext* enc = ost.Encoder;
  FramePtr picture(FF.av_frame_alloc());
  if (!picture) throw FFMpegException("av_mallocz fail");
  picture->format = enc->pix_fmt;
  picture->width = enc->width;
  picture->height = enc->height;
  if (FF.av_frame_get_buffer(picture.get(), 0) < 0) throw FFMpegException("Cannot allocate temp picture, check pix fmt");
  ost.Pictures.push_back(std::move(picture));
  return ost.Pictures.back().get();
}

}  // namespace

void TCustomFFmpeg::PrepareVideoFrame(TInputStreamState&, AVFrame*) {
  // Deinterlacing and the picture hooks work on the decoded picture here,
  // before any output stream sees it.
  ++HookFrameCount;
}

void TCustomFFmpeg::OutputVideo(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                AVFrame* picture, int& frameSize) {
  AVCodecContext* enc = ost.Encoder;
  frameSize = 0;
  int64_t frames = 1;
  const double timeBase = Real(enc->time_base);
  if (timeBase <= 0) return;
  if (VideoSyncMethod > 0 || (VideoSyncMethod < 0 && timeBase > 0.001)) {
    const double vdelta = SyncInputSeconds(ost) / timeBase - static_cast<double>(ost.SyncPosition);
    if (vdelta < -1.1)
      frames = 0;
    else if (VideoSyncMethod == 2)
      ost.SyncPosition = RoundHalfEven(SyncInputSeconds(ost) / timeBase);
    else if (vdelta > 1.1)
      frames = RoundHalfEven(vdelta);
    if (frames == 0) {
      ++DropFrames;
      if (Verbose > 2) Log(1, "*** drop!");
    } else if (frames > 1) {
      DupFrames += static_cast<int>(frames - 1);
      if (Verbose > 2) Log(1, "*** %d dup!", static_cast<int>(frames - 1));
    }
  } else {
    ost.SyncPosition = RoundHalfEven(SyncInputSeconds(ost) / timeBase);
  }
  frames = std::min<int64_t>(frames, static_cast<int64_t>(MaxFrames[0]) - ost.FrameNumber);
  if (frames <= 0) return;

  // The picture the encoder gets: the decoded one, a cropped view of it, or
  // a picture of the pool scaled, converted or padded into.
  const AVPixFmtDescriptor* sourceDesc = FF.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  const AVPixFmtDescriptor* targetDesc = FF.av_pix_fmt_desc_get(enc->pix_fmt);
  if (!sourceDesc || !targetDesc) return;
  const int cropRight = ost.VideoCrop ? CropRight : 0, cropBottom = ost.VideoCrop ? CropBottom : 0;
  const int sourceWidth = picture->width - ost.CropLeft - cropRight;
  const int sourceHeight = picture->height - ost.CropTop - cropBottom;
  const int innerWidth = enc->width - ost.PadLeft - ost.PadRight;
  const int innerHeight = enc->height - ost.PadTop - ost.PadBottom;
  if (sourceWidth <= 0 || sourceHeight <= 0 || innerWidth <= 0 || innerHeight <= 0) return;
  uint8_t* source[4];
  OffsetPlanes(sourceDesc, picture->data, picture->linesize, ost.CropTop, ost.CropLeft, source);
  const bool scale = sourceWidth != innerWidth || sourceHeight != innerHeight || picture->format != enc->pix_fmt;

  AVFrame* final = picture;
  if (!scale && !ost.VideoPad) {
    if (ost.VideoCrop) {
      if (!ost.CroppedView) ost.CroppedView.reset(FF.av_frame_alloc());
      final = ost.CroppedView.get();
      FF.av_frame_unref(final);
      if (!final || FF.av_frame_ref(final, picture) < 0) throw FFMpegException("av_mallocz fail");
      for (int p = 0; p < 4; ++p) final->data[p] = source[p];
      final->width = sourceWidth;
      final->height = sourceHeight;
    }
  } else {
    final = WritablePicture(ost);
    uint8_t* target[4];
    OffsetPlanes(targetDesc, final->data, final->linesize, ost.PadTop, ost.PadLeft, target);
    if (ost.VideoPad) FillBorders(final, targetDesc, ost.PadTop, ost.PadBottom, ost.PadLeft, ost.PadRight, PadColor);
    if (scale) {
      ost.Scaler.reset(FF.sws_getCachedContext(ost.Scaler.release(), sourceWidth, sourceHeight,
                                               static_cast<AVPixelFormat>(picture->format), innerWidth,
                                               innerHeight, enc->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
      if (!ost.Scaler) throw FFMpegException("Cannot get resampling context");
      FF.sws_scale(ost.Scaler.get(), source, picture->linesize, 0, sourceHeight, target, final->linesize);
    } else {
      FF.av_image_copy(target, final->linesize, const_cast<const uint8_t**>(source), picture->linesize,
                       enc->pix_fmt, sourceWidth, sourceHeight);
    }
    final->interlaced_frame = picture->interlaced_frame;
    final->top_field_first = picture->top_field_first;
  }

  const AVCodecContext* videoOptions = CodecOptions[AVMEDIA_TYPE_VIDEO];
  const bool interlacedCoding =
      (enc->flags | (videoOptions ? videoOptions->flags : 0)) & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME);
  if (interlacedCoding) final->top_field_first = TopFieldFirst == -1 ? picture->top_field_first : TopFieldFirst;
  for (int64_t i = 0; i < frames && !StopRequested; ++i) {
    if (i > 0 && PauseGate) PauseGate();
    if (StopRequested) break;
    final->pts = ost.SyncPosition;
    // A decoded picture's type would force the encoder's choice.
    if (MeThreshold == 0) final->pict_type = AV_PICTURE_TYPE_NONE;
    final->quality = static_cast<int>(std::nearbyint(SameQuality ? ist.Quality : ost.Record->Quality));
    const int size = EncodeFrame(os, ost, final);
    if (size > 0) frameSize = size;
    ++ost.SyncPosition;
    ++ost.FrameNumber;
  }
  if (final == ost.CroppedView.get()) FF.av_frame_unref(final);
}

void TCustomFFmpeg::OutputSubtitle(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                   AVSubtitle* subtitle, int64_t pts) {
  AVCodecContext* enc = ost.Encoder;
  if (pts == AV_NOPTS_VALUE) {
    if (ExitOnError) throw FFMpegException("Subtitle packets must have a pts");
    Log(0, "Subtitle packets must have a pts");
    return;
  }
  if (SubtitleBuffer.empty()) SubtitleBuffer.resize(65536);
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const AVRational from = ist.Stream->time_base;
  const AVRational to = ost.Stream->time_base;
  subtitle->pts = FF.av_rescale_q(pts, from, kMicroseconds);
  for (int i = 0; i < (dvb ? 2 : 1); ++i) {
    const int size = FF.avcodec_encode_subtitle(enc, SubtitleBuffer.data(), static_cast<int>(SubtitleBuffer.size()),
                                                subtitle);
    if (size < 0) {
      if (ExitOnError) throw FFMpegException("Subtitle encoding failed");
      Log(0, "Subtitle encoding failed");
      return;
    }
    AVPacket* packet = ost.Packet.get();
    if (FF.av_new_packet(packet, size) < 0) throw FFMpegException("av_mallocz fail");
    std::memcpy(packet->data, SubtitleBuffer.data(), static_cast<size_t>(size));
    packet->stream_index = ost.StreamIndex;
    packet->pts = FF.av_rescale_q(pts, from, to);
    if (dvb) {
      const uint32_t shown = i == 0 ? subtitle->start_display_time : subtitle->end_display_time;
      packet->pts += FF.av_rescale_q(shown, kMilliseconds, to);
    } else if (subtitle->end_display_time > subtitle->start_display_time) {
      packet->duration =
          FF.av_rescale_q(subtitle->end_display_time - subtitle->start_display_time, kMilliseconds, to);
    }
    packet->dts = packet->pts;
    WritePacket(os, packet, ost);
    FF.av_packet_unref(packet);
  }
}
