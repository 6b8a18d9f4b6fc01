#include "tests/paths/PathsTesting.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

using namespace fixtures_test;

namespace paths_test {
namespace {

// The folder of the sources this program generates, removed at exit.
testsupport::TempFolder& SourceFolder() {
  static testsupport::TempFolder folder;
  return folder;
}

// Decodes every picture of the first video stream.
void ForEachPicture(const std::string& path,
                    const std::function<void(const AVFrame&, double seconds)>& take) {
  InputPtr input = OpenMedia(path);
  ASSERT_TRUE(input) << path;
  const int index = FirstStream(input.get(), AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(index, 0);
  const AVStream* stream = input->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  ASSERT_TRUE(codec);
  DecoderPtr decoder(avcodec_alloc_context3(codec));
  ASSERT_GE(avcodec_parameters_to_context(decoder.get(), stream->codecpar), 0);
  decoder->pkt_timebase = stream->time_base;
  ASSERT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
  fixtures_test::PacketPtr packet(av_packet_alloc());
  fixtures_test::FramePtr frame(av_frame_alloc());
  auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const int64_t pts = frame->best_effort_timestamp;
      take(*frame, pts == AV_NOPTS_VALUE ? 0.0 : StreamSeconds(stream, pts));
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      avcodec_send_packet(decoder.get(), packet.get());
      drain();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  drain();
}

}  // namespace

const std::string& Source() {
  static const std::string path = [] {
    fixtures::MediaSpec recipe;
    recipe.muxer = "matroska";
    recipe.videoCodec = "mpeg4";
    recipe.audioCodec = "pcm_s16le";
    recipe.seconds = 2.0;
    return Generated("source.mkv", recipe);
  }();
  return path;
}

std::string Generated(const std::string& name, const fixtures::MediaSpec& recipe) {
  const std::string path = SourceFolder().File(name);
  if (!std::filesystem::exists(path)) {
    std::string error;
    EXPECT_TRUE(fixtures::WriteMedia(path, recipe, &error)) << error;
  }
  return path;
}

std::vector<Planes> DecodePlanes(const std::string& path) {
  std::vector<Planes> pictures;
  ForEachPicture(path, [&](const AVFrame& frame, double seconds) {
    Planes planes;
    planes.width = frame.width;
    planes.height = frame.height;
    planes.format = frame.format;
    planes.seconds = seconds;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    for (int p = 0; p < 3 && frame.data[p]; ++p) {
      const bool chroma = p > 0;
      const int width = chroma ? AV_CEIL_RSHIFT(frame.width, desc->log2_chroma_w) : frame.width;
      const int height = chroma ? AV_CEIL_RSHIFT(frame.height, desc->log2_chroma_h) : frame.height;
      for (int y = 0; y < height; ++y) {
        const uint8_t* row = frame.data[p] + static_cast<ptrdiff_t>(y) * frame.linesize[p];
        planes.rows[p].emplace_back(row, row + width);
      }
    }
    pictures.push_back(std::move(planes));
  });
  return pictures;
}

void FlipBgr(std::vector<uint8_t>& bgr, int stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bgr.data() + static_cast<ptrdiff_t>(y) * stride;
    for (int left = 0, right = width - 1; left < right; ++left, --right)
      std::swap_ranges(row + left * 3, row + left * 3 + 3, row + right * 3);
  }
}

std::vector<int> MirroredCounters(const std::string& path) {
  std::vector<int> counters;
  ScalerPtr scaler;
  std::vector<uint8_t> bgr;
  ForEachPicture(path, [&](const AVFrame& frame, double) {
    const int stride = frame.width * 3;
    bgr.resize(static_cast<size_t>(stride) * frame.height);
    scaler.reset(sws_getCachedContext(scaler.release(), frame.width, frame.height,
                                      static_cast<AVPixelFormat>(frame.format), frame.width, frame.height,
                                      AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    uint8_t* planes[4] = {bgr.data(), nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    FlipBgr(bgr, stride, frame.width, frame.height);
    counters.push_back(fixtures::ReadFrameCounter(bgr.data(), stride, frame.width, frame.height));
  });
  return counters;
}

}  // namespace paths_test
