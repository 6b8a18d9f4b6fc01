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

double Real(AVRational r) {
  return r.den != 0 ? static_cast<double>(r.num) / r.den : 0.0;
}

int64_t RoundHalfEven(double value) {
  return static_cast<int64_t>(std::nearbyint(value));
}

// Plane pointers of a picture moved to the pixel at (top, left); chroma
// planes move by the subsampled amounts.
void OffsetPlanes(const AVPixFmtDescriptor* desc, uint8_t* const data[4], const int lines[4], int top,
                  int left, uint8_t* out[4]) {
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
// to the number of pictures the encoder keeps at once. Pictures of another
// size or format than the encoder's (made before a filter graph set the
// size) are dropped.
AVFrame* WritablePicture(TOutputStreamState& ost) {
  const AVCodecContext* enc = ost.Encoder;
  std::erase_if(ost.Pictures, [enc](const FramePtr& picture) {
    return picture->width != enc->width || picture->height != enc->height || picture->format != enc->pix_fmt;
  });
  for (FramePtr& picture : ost.Pictures)
    if (FF.av_frame_is_writable(picture.get())) return picture.get();
  FramePtr picture(FF.av_frame_alloc());
  if (!picture) throw FFMpegException("av_mallocz fail");
  picture->format = enc->pix_fmt;
  picture->width = enc->width;
  picture->height = enc->height;
  if (FF.av_frame_get_buffer(picture.get(), 0) < 0)
    throw FFMpegException("Cannot allocate temp picture, check pix fmt");
  ost.Pictures.push_back(std::move(picture));
  return ost.Pictures.back().get();
}

void CopyRows(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int rowBytes, int rows) {
  for (int y = 0; y < rows; ++y)
    std::memcpy(to + static_cast<ptrdiff_t>(y) * toStride, from + static_cast<ptrdiff_t>(y) * fromStride,
                static_cast<size_t>(rowBytes));
}

// What the later steps read of a picture besides its pixels.
void CopyPictureProperties(AVFrame* to, const AVFrame* from) {
  to->pts = from->pts;
  to->best_effort_timestamp = from->best_effort_timestamp;
  to->sample_aspect_ratio = from->sample_aspect_ratio;
  to->interlaced_frame = from->interlaced_frame;
  to->top_field_first = from->top_field_first;
  to->quality = from->quality;
  to->pict_type = from->pict_type;
  to->key_frame = from->key_frame;
  to->color_range = from->color_range;
  to->color_primaries = from->color_primaries;
  to->color_trc = from->color_trc;
  to->colorspace = from->colorspace;
  to->chroma_location = from->chroma_location;
}

}  // namespace

void TCustomFFmpeg::OutputDecodedPicture(TInputStreamState& ist, int istIndex, AVFrame* picture) {
  if (Deinterlace && !ist.DeinterlaceFailed) {
    // The deinterlacer looks one picture ahead: what comes out is the
    // picture before, at its own time. At the end it hands out the last.
    auto serveDeinterlaced = [&] {
      AVFrame* deinterlaced = ist.Deinterlaced.get();
      const AVRational timeBase = FF.av_buffersink_get_time_base(ist.DeinterlaceSink);
      while (FF.av_buffersink_get_frame(ist.DeinterlaceSink, deinterlaced) >= 0) {
        if (deinterlaced->pts != AV_NOPTS_VALUE)
          ist.Pts = FF.av_rescale_q(deinterlaced->pts, timeBase, kMicroseconds);
        FilterAndServe(ist, istIndex, PrepareVideoFrame(ist, deinterlaced));
        FF.av_frame_unref(deinterlaced);
      }
    };
    auto endOfPictures = [&] {
      return ist.Deinterlacer && FF.av_buffersrc_add_frame_flags(ist.DeinterlaceSource, nullptr, 0) >= 0;
    };
    bool fed = false;
    if (!picture) {
      fed = endOfPictures();
    } else {
      if (!ist.Deinterlacer || picture->width != ist.DeinterlaceWidth ||
          picture->height != ist.DeinterlaceHeight || picture->format != ist.DeinterlaceFormat) {
        // Pictures still in a graph of the old shape go out first.
        const int64_t pts = ist.Pts;
        if (endOfPictures()) serveDeinterlaced();
        ist.Pts = pts;
        CreateDeinterlacer(ist, picture);
      }
      if (ist.Deinterlacer) {
        picture->pts = ist.Pts;
        fed =
            FF.av_buffersrc_add_frame_flags(ist.DeinterlaceSource, picture, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0;
      }
    }
    if (fed) {
      serveDeinterlaced();
      if (picture) return;
    } else if (picture || ist.Deinterlacer) {
      // Pictures pass as decoded from here on.
      Log(0, "Deinterlacing failed.");
      ist.DeinterlaceFailed = true;
      ist.Deinterlacer.reset();
      ist.DeinterlaceSource = ist.DeinterlaceSink = nullptr;
    }
  }
  if (picture) {
    FilterAndServe(ist, istIndex, PrepareVideoFrame(ist, picture));
    return;
  }
  // End of stream: what the filter graph still holds.
  if (UseFilters && ist.FilterGraph && FeedFilterGraph(ist, nullptr) == 0) {
    AVFrame* filtered = nullptr;
    while (PullFilteredPicture(ist, filtered, ist.Pts) == 1) ServeVideoOutputs(ist, istIndex, filtered);
    FF.av_frame_unref(ist.FilteredPicture.get());
  }
}

void TCustomFFmpeg::FilterAndServe(TInputStreamState& ist, int istIndex, AVFrame* picture) {
  if (StartTime != 0 && ist.Pts < StartTime) return;
  if (!UseFilters || !ist.FilterGraph) {
    ServeVideoOutputs(ist, istIndex, picture);
    return;
  }
  if (FeedFilterGraph(ist, picture) < 0) {
    const std::string message = "Error while feeding the filter graph";
    if (ExitOnError) throw FFMpegException(message);
    Log(0, "%s", message.c_str());
    return;
  }
  // Every picture the graph has ready goes out, each at its own time.
  AVFrame* filtered = picture;
  while (PullFilteredPicture(ist, filtered, ist.Pts) == 1) ServeVideoOutputs(ist, istIndex, filtered);
  FF.av_frame_unref(ist.FilteredPicture.get());
}

void TCustomFFmpeg::ServeVideoOutputs(TInputStreamState& ist, int istIndex, AVFrame* picture) {
  for (TOutputStreamState& ost : runTables_->OutputStreams) {
    if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
    if (ost.Encoder->codec_type != AVMEDIA_TYPE_VIDEO) throw FFMpegException("invalid codec_type");
    AVFormatContext* os = OutputFiles[ost.FileIndex];
    int frameSize = 0;
    OutputVideo(os, ost, ist, picture, frameSize);
    if (!VStatsFileName.empty() && frameSize != 0) WriteVideoStats(os, ost, frameSize);
  }
}

AVFrame* TCustomFFmpeg::PrepareVideoFrame(TInputStreamState& ist, AVFrame* picture) {
  ++HookFrameCount;
  const int64_t pts = ist.Pts;

  // Whether the plug-in chain runs for this picture: the before-hook
  // handler decides, else the hook time ranges.
  if (!CustomHookHandler && UsingVHook) {
    if (BeforeHookHandler) {
      try {
        BeforeHookHandler(*this, pts, HookAction);
      } catch (const std::exception& e) {
        Log(0, "Error occurs OnBeforeHook: %s", e.what());
        HookAction = haStop;
      } catch (...) {
        Log(0, "Error occurs OnBeforeHook: %s", "unknown exception");
        HookAction = haStop;
      }
      if (HookAction == haStop) UsingVHook = false;
    } else if (!HookRanges.empty()) {
      HookAction = haIgnore;
      const int last = static_cast<int>(HookRanges.size()) - 1;
      if (HookRangeIndex < 0 || HookRangeIndex > last) HookRangeIndex = 0;
      for (int i = HookRangeIndex; i <= last; ++i) {
        const THookRange& range = HookRanges[i];
        if (range.Start <= pts && pts <= range.End) {
          HookRangeIndex = i;
          HookAction = haContinue;
          break;
        }
        if (i == last && range.End < pts) {
          HookAction = haStop;
          UsingVHook = false;
        }
      }
    }
  }

  const bool customHook = static_cast<bool>(CustomHookHandler);
  const bool pluginChain = !customHook && UsingVHook && HookAction == haContinue;
  if (!customHook && !pluginChain) return picture;

  // The hooks paint on a private copy: the decoder may still read the
  // decoded picture as a reference for the next ones.
  AVFrame* work = HookCopy(picture);
  if (!work) {
    Log(0, "hook buf malloc error.");
    return picture;
  }
  if (customHook) {
    RunCustomHook(work, pts);
  } else {
    FrameHookPicture hooked{};
    for (int p = 0; p < 4; ++p) {
      hooked.data[p] = work->data[p];
      hooked.linesize[p] = work->linesize[p];
    }
    ProcessFrameHooks(FrameHooks, &hooked, work->format, work->width, work->height, pts);
  }
  return work;
}

AVFrame* TCustomFFmpeg::HookCopy(const AVFrame* picture) {
  // A copy of that shape that no encoder or filter still holds, else a new
  // one for the pool.
  AVFrame* copy = nullptr;
  for (FramePtr& candidate : HookPictures) {
    if (candidate->width == picture->width && candidate->height == picture->height &&
        candidate->format == picture->format && FF.av_frame_is_writable(candidate.get())) {
      copy = candidate.get();
      break;
    }
  }
  if (!copy) {
    std::erase_if(HookPictures, [picture](const FramePtr& candidate) {
      return candidate->width != picture->width || candidate->height != picture->height ||
             candidate->format != picture->format;
    });
    FramePtr made(FF.av_frame_alloc());
    if (!made) return nullptr;
    made->format = picture->format;
    made->width = picture->width;
    made->height = picture->height;
    if (FF.av_frame_get_buffer(made.get(), 0) < 0) return nullptr;
    HookPictures.push_back(std::move(made));
    copy = HookPictures.back().get();
  }
  FF.av_image_copy(copy->data, copy->linesize, const_cast<const uint8_t**>(picture->data), picture->linesize,
                   static_cast<AVPixelFormat>(picture->format), picture->width, picture->height);
  CopyPictureProperties(copy, picture);
  return copy;
}

bool TCustomFFmpeg::RunCustomHook(AVFrame* picture, int64_t pts) {
  const int width = picture->width;
  const int height = picture->height;
  const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
  if (HookBitmap.Width() != width || HookBitmap.Height() != height) HookBitmap.SetSize(width, height);
  uint8_t* rows[4] = {HookBitmap.Bits(), nullptr, nullptr, nullptr};
  int strides[4] = {HookBitmap.Stride(), 0, 0, 0};

  bool stop = false;
  bool update = false;
  if (format == AV_PIX_FMT_BGR24) {
    CopyRows(picture->data[0], picture->linesize[0], rows[0], strides[0], width * 3, height);
  } else {
    ToRgbContext.reset(FF.sws_getCachedContext(ToRgbContext.release(), width, height, format, width, height,
                                               AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!ToRgbContext) {
      Log(0, "Cannot initialize the toRGB conversion context");
      stop = true;
    } else {
      FF.sws_scale(ToRgbContext.get(), picture->data, picture->linesize, 0, height, rows, strides);
    }
  }

  if (!stop) {
    update = true;
    try {
      CustomHookHandler(*this, HookBitmap, HookFrameCount, pts, update, stop);
    } catch (const std::exception& e) {
      Log(0, "Error occurs OnCustomHook: %s", e.what());
      update = false;
    } catch (...) {
      Log(0, "Error occurs OnCustomHook: %s", "unknown exception");
      update = false;
    }
    // A bitmap the handler gave another size cannot go back into the picture.
    if (HookBitmap.Width() != width || HookBitmap.Height() != height) update = false;
  }

  if (update) {
    rows[0] = HookBitmap.Bits();
    strides[0] = HookBitmap.Stride();
    if (format == AV_PIX_FMT_BGR24) {
      CopyRows(rows[0], strides[0], picture->data[0], picture->linesize[0], width * 3, height);
    } else {
      FromRgbContext.reset(FF.sws_getCachedContext(FromRgbContext.release(), width, height, AV_PIX_FMT_BGR24,
                                                   width, height, format, SWS_BICUBIC, nullptr, nullptr,
                                                   nullptr));
      if (!FromRgbContext) {
        Log(0, "Cannot initialize the fromRGB conversion context");
        stop = true;
      } else {
        FF.sws_scale(FromRgbContext.get(), rows, strides, 0, height, picture->data, picture->linesize);
      }
    }
  }

  if (stop) {
    // No more pictures for the hook in this session.
    CustomHookHandler = nullptr;
    HookAction = haStop;
    UsingVHook = false;
  }
  return update;
}

void TCustomFFmpeg::OutputVideo(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                AVFrame* picture, int& frameSize) {
  AVCodecContext* enc = ost.Encoder;
  frameSize = 0;
  int64_t frames = 1;
  const double timeBase = Real(enc->time_base);
  if (timeBase <= 0) return;
  // Pictures past the frame limit (still coming out of the decoder at the
  // end) are neither written nor counted as drops or duplicates.
  const int64_t room = static_cast<int64_t>(MaxFrames[0]) - ost.FrameNumber;
  if (room <= 0) return;
  if (VideoSyncMethod > 0 || (VideoSyncMethod < 0 && timeBase > 0.001)) {
    const double vdelta = SyncInputSeconds(ost) / timeBase - static_cast<double>(ost.SyncPosition);
    if (vdelta < -1.1)
      frames = 0;
    else if (VideoSyncMethod == 2)
      // The clock follows the input, but never back onto a tick already
      // written: the encoder takes one picture per tick.
      ost.SyncPosition = std::max(RoundHalfEven(SyncInputSeconds(ost) / timeBase), ost.SyncPosition);
    else if (vdelta > 1.1)
      frames = RoundHalfEven(vdelta);
    frames = std::min(frames, room);
  } else {
    // Pictures keep their own time; one that falls on a tick already
    // written takes the next, one more than a frame behind is left out.
    const double position = SyncInputSeconds(ost) / timeBase;
    const int64_t tick = RoundHalfEven(position);
    if (tick >= ost.SyncPosition)
      ost.SyncPosition = tick;
    else if (position < static_cast<double>(ost.SyncPosition) - 1.1)
      frames = 0;
  }
  if (frames == 0) {
    ++DropFrames;
    if (Verbose > 2) Log(1, "*** drop!");
    return;
  }
  if (frames > 1) {
    DupFrames += static_cast<int>(frames - 1);
    if (Verbose > 2) Log(1, "*** %d dup!", static_cast<int>(frames - 1));
  }

  // The picture the encoder gets: the decoded one, a cropped view of it, or
  // a picture of the pool scaled, converted or padded into.
  const AVPixFmtDescriptor* sourceDesc = FF.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  const AVPixFmtDescriptor* targetDesc = FF.av_pix_fmt_desc_get(enc->pix_fmt);
  if (!sourceDesc || !targetDesc) return;
  // A failed crop or pad skips the picture, or ends the run with ExitOnError.
  auto skip = [&](const char* message) {
    if (ExitOnError) throw FFMpegException(message);
    Log(0, "%s", message);
  };
  // With filters the graph has cut and scaled the picture already.
  const bool crop = ost.VideoCrop && !UseFilters;
  const int cropTop = crop ? ost.CropTop : 0, cropLeft = crop ? ost.CropLeft : 0;
  const int cropRight = crop ? CropRight : 0, cropBottom = crop ? CropBottom : 0;
  const int sourceWidth = picture->width - cropLeft - cropRight;
  const int sourceHeight = picture->height - cropTop - cropBottom;
  if (sourceWidth <= 0 || sourceHeight <= 0 || cropTop < 0 || cropLeft < 0 ||
      (crop && (sourceDesc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL))))
    return skip("error cropping picture");
  const int innerWidth = enc->width - ost.PadLeft - ost.PadRight;
  const int innerHeight = enc->height - ost.PadTop - ost.PadBottom;
  if (innerWidth <= 0 || innerHeight <= 0 || ost.PadTop < 0 || ost.PadLeft < 0)
    return skip("error padding picture");
  uint8_t* source[4];
  OffsetPlanes(sourceDesc, picture->data, picture->linesize, cropTop, cropLeft, source);
  const bool scale =
      sourceWidth != innerWidth || sourceHeight != innerHeight || picture->format != enc->pix_fmt;

  AVFrame* final = picture;
  if (!scale && !ost.VideoPad) {
    if (crop) {
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
    if (ost.VideoPad)
      FillBorders(final, targetDesc, ost.PadTop, ost.PadBottom, ost.PadLeft, ost.PadRight, PadColor);
    if (scale) {
      ost.Scaler.reset(FF.sws_getCachedContext(
          ost.Scaler.release(), sourceWidth, sourceHeight, static_cast<AVPixelFormat>(picture->format),
          innerWidth, innerHeight, enc->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
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
  const bool interlacedCoding = (enc->flags | (videoOptions ? videoOptions->flags : 0)) &
                                (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME);
  if (interlacedCoding)
    final->top_field_first = TopFieldFirst == -1 ? picture->top_field_first : TopFieldFirst;
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
  // The encoders take subtitles that show from their pts on: a later start
  // moves into the pts.
  const uint32_t start = subtitle->start_display_time;
  const uint32_t end = subtitle->end_display_time;
  const unsigned rects = subtitle->num_rects;
  subtitle->pts =
      FF.av_rescale_q(pts, from, kMicroseconds) + FF.av_rescale_q(start, kMilliseconds, kMicroseconds);
  subtitle->start_display_time = 0;
  subtitle->end_display_time = end > start ? end - start : 0;
  struct TRestore {
    AVSubtitle* Subtitle;
    uint32_t Start, End;
    unsigned Rects;
    ~TRestore() {
      Subtitle->start_display_time = Start;
      Subtitle->end_display_time = End;
      Subtitle->num_rects = Rects;
    }
  } restore{subtitle, start, end, rects};

  // DVB subtitles take two packets: the page at its start, and an empty
  // page that clears it at its end. The clearing waits for the next page:
  // when that page comes first it replaces the old one anyway, and the
  // clearing is dropped (written, it would put the stream's time back).
  if (dvb && !ost.HeldClear) {
    ost.HeldClear.reset(FF.av_packet_alloc());
    if (!ost.HeldClear) throw FFMpegException("av_mallocz fail");
  }
  for (int i = 0; i < (dvb ? 2 : 1); ++i) {
    if (i == 1) subtitle->num_rects = 0;
    const int size = FF.avcodec_encode_subtitle(enc, SubtitleBuffer.data(),
                                                static_cast<int>(SubtitleBuffer.size()), subtitle);
    if (size < 0) {
      if (ExitOnError) throw FFMpegException("Subtitle encoding failed");
      Log(0, "Subtitle encoding failed");
      return;
    }
    const int64_t at =
        FF.av_rescale_q(pts, from, to) + FF.av_rescale_q(i == 0 ? start : end, kMilliseconds, to);
    if (i == 0 && dvb && ost.HeldClear->data) {
      if (ost.HeldClear->pts <= at) WritePacket(os, ost.HeldClear.get(), ost);
      FF.av_packet_unref(ost.HeldClear.get());
    }
    AVPacket* packet = i == 0 ? ost.Packet.get() : ost.HeldClear.get();
    if (FF.av_new_packet(packet, size) < 0) throw FFMpegException("av_mallocz fail");
    std::memcpy(packet->data, SubtitleBuffer.data(), static_cast<size_t>(size));
    packet->stream_index = ost.StreamIndex;
    packet->pts = packet->dts = at;
    if (!dvb && end > start) packet->duration = FF.av_rescale_q(end - start, kMilliseconds, to);
    if (i == 1) break;  // held for its time
    WritePacket(os, packet, ost);
    FF.av_packet_unref(packet);
  }
}
