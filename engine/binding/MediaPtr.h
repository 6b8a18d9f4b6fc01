#pragma once
// Owners of media-library objects. Each deleter calls the library's own
// release function through the function table.
#include <memory>

#include "engine/binding/MediaLibraries.h"

struct InputContextDeleter {
  void operator()(AVFormatContext* context) const { FF.avformat_close_input(&context); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { FF.avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { FF.av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { FF.av_packet_free(&packet); }
};
struct SwsContextDeleter {
  void operator()(SwsContext* context) const { FF.sws_freeContext(context); }
};
struct SwrContextDeleter {
  void operator()(SwrContext* context) const { FF.swr_free(&context); }
};
struct FilterGraphDeleter {
  void operator()(AVFilterGraph* graph) const { FF.avfilter_graph_free(&graph); }
};
struct DictionaryDeleter {
  void operator()(AVDictionary* dictionary) const { FF.av_dict_free(&dictionary); }
};
struct AVMemoryDeleter {
  void operator()(void* memory) const { FF.av_free(memory); }
};
struct BsfContextDeleter {
  void operator()(AVBSFContext* context) const { FF.av_bsf_free(&context); }
};
struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { FF.av_audio_fifo_free(fifo); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, BsfContextDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
