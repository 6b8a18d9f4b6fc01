// Filter graphs of the video path: the user's filter chain between a
// stream's decoder and its encoder (buffer source, an optional scale to the
// encoder's size, the chain of VideoFilters, a buffer sink that hands out the
// encoder's pixel format), and the small deinterlacing graph.
#include <cstring>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/session/CustomFFmpeg.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

// The entry of a graph: pictures of that size and format, with times in
// microseconds.
AVFilterContext* AddSource(AVFilterGraph* graph, const char* name, int width, int height, int format,
                           AVRational aspect) {
  if (aspect.num <= 0 || aspect.den <= 0) aspect = AVRational{0, 1};
  const std::string arguments = FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d",
                                           width, height, format, AV_TIME_BASE, aspect.num, aspect.den);
  AVFilterContext* source = nullptr;
  if (FF.avfilter_graph_create_filter(&source, FF.avfilter_get_by_name("buffer"), name, arguments.c_str(),
                                      nullptr, graph) < 0)
    return nullptr;
  return source;
}

// The exit of a graph; with a pixel format, the only format it hands out
// (the library converts to it where the chain ends in another).
AVFilterContext* AddSink(AVFilterGraph* graph, const char* name, int format) {
  AVFilterContext* sink = nullptr;
  if (FF.avfilter_graph_create_filter(&sink, FF.avfilter_get_by_name("buffersink"), name, nullptr, nullptr,
                                      graph) < 0)
    return nullptr;
  if (format >= 0) {
    const AVPixelFormat only = static_cast<AVPixelFormat>(format);
    if (FF.av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(&only), sizeof(only),
                          AV_OPT_SEARCH_CHILDREN) < 0)
      return nullptr;
  }
  return sink;
}

struct InOutDeleter {
  void operator()(AVFilterInOut* entry) const { FF.avfilter_inout_free(&entry); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;

InOutPtr Endpoint(const char* name, AVFilterContext* filter) {
  InOutPtr entry(FF.avfilter_inout_alloc());
  if (!entry) return nullptr;
  entry->name = FF.av_strdup(name);
  entry->filter_ctx = filter;
  entry->pad_idx = 0;
  entry->next = nullptr;
  if (!entry->name) return nullptr;
  return entry;
}

}  // namespace

int TCustomFFmpeg::BuildVideoFilterGraph(TInputStreamState& ist, TOutputStreamState& ost) {
  if (CropLeft + CropRight + CropTop + CropBottom != 0) {
    LastError = "Cannot enable crop options and filters at the same time.";
    return -1;
  }
  AVCodecContext* enc = ost.Encoder;
  // The decoder is not open yet: the stream's parameters describe its
  // pictures. A picture that turns out different rebuilds the graph.
  const AVCodecParameters* dec = ist.Stream->codecpar;
  const int format = dec->format >= 0 ? dec->format : AV_PIX_FMT_YUV420P;
  ist.FilterTargetWidth = enc->width;
  ist.FilterTargetHeight = enc->height;
  ist.FilterTargetFormat = enc->pix_fmt;
  if (CreateVideoFilterGraph(ist, dec->width, dec->height, format, dec->sample_aspect_ratio) < 0) return -1;

  const int width = FF.av_buffersink_get_w(ist.FilterSink);
  const int height = FF.av_buffersink_get_h(ist.FilterSink);
  if (PadLeft + PadRight + PadTop + PadBottom == 0 || (width == FrameWidth && height == FrameHeight)) {
    // The encoder takes what the graph gives, with the padding around it.
    enc->width = width + PadLeft + PadRight;
    enc->height = height + PadTop + PadBottom;
    ist.FilterTargetWidth = enc->width;
    ist.FilterTargetHeight = enc->height;
    // Pictures made for the size chosen before the graph existed are of no use.
    for (const FramePtr& picture : ost.Pictures) {
      if (picture->width != enc->width || picture->height != enc->height) {
        ost.Pictures.clear();
        break;
      }
    }
    return 0;
  }
  LastError =
      "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
      "transpose, etc.)";
  ist.FilterGraph.reset();
  ist.FilterSource = ist.FilterSink = nullptr;
  return -1;
}

int TCustomFFmpeg::CreateVideoFilterGraph(TInputStreamState& ist, int width, int height, int format,
                                          AVRational aspect) {
  ist.FilterGraph.reset(FF.avfilter_graph_alloc());
  ist.FilterSource = ist.FilterSink = nullptr;
  ist.HasFilterFrame = false;
  AVFilterGraph* graph = ist.FilterGraph.get();
  if (!graph) return -1;
  auto fail = [&] {
    ist.FilterGraph.reset();
    ist.FilterSource = ist.FilterSink = nullptr;
    return -1;
  };
  if (ThreadCount > 0) graph->nb_threads = ThreadCount;

  AVFilterContext* source = AddSource(graph, "src", width, height, format, aspect);
  AVFilterContext* sink = AddSink(graph, "out", ist.FilterTargetFormat);
  if (!source || !sink) return fail();
  AVFilterContext* last = source;

  // A scale to the encoder's inner size comes first when the decoded
  // picture, padded, is not the encoder's picture.
  const int innerWidth = ist.FilterTargetWidth - PadLeft - PadRight;
  const int innerHeight = ist.FilterTargetHeight - PadTop - PadBottom;
  if (width + PadLeft + PadRight - CropLeft - CropRight != ist.FilterTargetWidth ||
      height + PadTop + PadBottom - CropTop - CropBottom != ist.FilterTargetHeight) {
    const std::string size = FormatText("%d:%d", innerWidth, innerHeight);
    AVFilterContext* scale = nullptr;
    if (FF.avfilter_graph_create_filter(&scale, FF.avfilter_get_by_name("scale"), "scale", size.c_str(),
                                        nullptr, graph) < 0)
      return fail();
    if (FF.avfilter_link(last, 0, scale, 0) != 0) return fail();
    last = scale;
  }

  if (!VideoFilters.empty()) {
    // The chain's open input is named "in" (fed by the last filter so far),
    // its open output "out" (feeding the sink).
    InOutPtr outputs = Endpoint("in", last);
    InOutPtr inputs = Endpoint("out", sink);
    if (!outputs || !inputs) return fail();
    AVFilterInOut* inputList = inputs.release();
    AVFilterInOut* outputList = outputs.release();
    const int parsed =
        FF.avfilter_graph_parse_ptr(graph, VideoFilters.c_str(), &inputList, &outputList, nullptr);
    FF.avfilter_inout_free(&inputList);
    FF.avfilter_inout_free(&outputList);
    if (parsed < 0) return fail();
  } else if (FF.avfilter_link(last, 0, sink, 0) < 0) {
    return fail();
  }
  if (FF.avfilter_graph_config(graph, nullptr) < 0) return fail();

  ist.FilterSource = source;
  ist.FilterSink = sink;
  ist.FilterWidth = width;
  ist.FilterHeight = height;
  ist.FilterFormat = format;
  if (!ist.FilteredPicture) ist.FilteredPicture.reset(FF.av_frame_alloc());
  if (!ist.FilteredPicture) return fail();
  return 0;
}

int TCustomFFmpeg::FeedFilterGraph(TInputStreamState& ist, AVFrame* picture) {
  if (!ist.FilterGraph) return -1;
  if (!picture) {
    // End of stream: the graph hands out what it still holds.
    return FF.av_buffersrc_add_frame_flags(ist.FilterSource, nullptr, 0) < 0 ? -1 : 0;
  }
  if (picture->width != ist.FilterWidth || picture->height != ist.FilterHeight ||
      picture->format != ist.FilterFormat) {
    // A picture of another size or format than the graph was built for:
    // the same chain again for the new pictures, to the same encoder.
    if (CreateVideoFilterGraph(ist, picture->width, picture->height, picture->format,
                               picture->sample_aspect_ratio) < 0)
      return -1;
  }
  picture->pts = ist.Pts;
  // The graph takes a reference: the decoded picture's memory, no copy.
  if (FF.av_buffersrc_add_frame_flags(ist.FilterSource, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) return -1;
  ist.HasFilterFrame = true;
  return 0;
}

int TCustomFFmpeg::PullFilteredPicture(TInputStreamState& ist, AVFrame*& picture, int64_t& pts) {
  if (!ist.FilterSink) return -1;
  AVFrame* filtered = ist.FilteredPicture.get();
  FF.av_frame_unref(filtered);
  if (FF.av_buffersink_get_frame(ist.FilterSink, filtered) < 0) {
    ist.HasFilterFrame = false;
    return -1;
  }
  if (filtered->pts != AV_NOPTS_VALUE)
    pts = FF.av_rescale_q(filtered->pts, FF.av_buffersink_get_time_base(ist.FilterSink), kMicroseconds);
  picture = filtered;
  return 1;
}

int TCustomFFmpeg::CreateDeinterlacer(TInputStreamState& ist, const AVFrame* picture) {
  ist.Deinterlacer.reset(FF.avfilter_graph_alloc());
  ist.DeinterlaceSource = ist.DeinterlaceSink = nullptr;
  AVFilterGraph* graph = ist.Deinterlacer.get();
  if (!graph) return -1;
  auto fail = [&] {
    ist.Deinterlacer.reset();
    ist.DeinterlaceSource = ist.DeinterlaceSink = nullptr;
    return -1;
  };
  if (ThreadCount > 0) graph->nb_threads = ThreadCount;
  AVFilterContext* source =
      AddSource(graph, "src", picture->width, picture->height, picture->format, picture->sample_aspect_ratio);
  AVFilterContext* sink = AddSink(graph, "out", picture->format);
  AVFilterContext* yadif = nullptr;
  if (!source || !sink) return fail();
  // One picture out per picture in, every picture deinterlaced.
  if (FF.avfilter_graph_create_filter(&yadif, FF.avfilter_get_by_name("yadif"), "deinterlace",
                                      "mode=send_frame:parity=auto:deint=all", nullptr, graph) < 0)
    return fail();
  if (FF.avfilter_link(source, 0, yadif, 0) < 0 || FF.avfilter_link(yadif, 0, sink, 0) < 0) return fail();
  if (FF.avfilter_graph_config(graph, nullptr) < 0) return fail();
  ist.DeinterlaceSource = source;
  ist.DeinterlaceSink = sink;
  ist.DeinterlaceWidth = picture->width;
  ist.DeinterlaceHeight = picture->height;
  ist.DeinterlaceFormat = picture->format;
  if (!ist.Deinterlaced) ist.Deinterlaced.reset(FF.av_frame_alloc());
  if (!ist.Deinterlaced) return fail();
  return 0;
}
