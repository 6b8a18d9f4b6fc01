// Bitmap subtitles through the subtitle path: a DVB subtitle is written as
// two packets, the page at its start and an empty page at its end.
#include <algorithm>
#include <array>
#include <cstring>

#include "tests/paths/PathsTesting.h"

namespace {

using SubtitleTest = TranscodeTest;

struct EncoderDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

// An MPEG-TS file with one DVB subtitle stream: a page with a 64x16 bitmap
// at each of the times, each followed 0.5 s later by an empty page when
// clears is set. A page that is not cleared shows for the page time-out the
// encoder writes (30 s).
void WriteDvbSubtitles(const std::string& path, const std::vector<double>& times, bool clears) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
  ASSERT_TRUE(codec);
  std::unique_ptr<AVCodecContext, EncoderDeleter> encoder(avcodec_alloc_context3(codec));
  encoder->width = 720;
  encoder->height = 576;
  encoder->time_base = AVRational{1, 90000};
  ASSERT_GE(avcodec_open2(encoder.get(), codec, nullptr), 0);

  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "mpegts", path.c_str()), 0);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> output(raw, [](AVFormatContext* context) {
    if (context->pb) avio_closep(&context->pb);
    avformat_free_context(context);
  });
  AVStream* stream = avformat_new_stream(output.get(), nullptr);
  ASSERT_TRUE(stream);
  ASSERT_GE(avcodec_parameters_from_context(stream->codecpar, encoder.get()), 0);
  stream->time_base = encoder->time_base;
  ASSERT_GE(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(output.get(), nullptr), 0);

  std::array<uint8_t, 64 * 16> pixels{};
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i / 4) % 4);
  std::array<uint32_t, 4> palette{0x00000000, 0xffffffff, 0xff000000, 0xff808080};
  std::vector<uint8_t> buffer(65536);
  fixtures_test::PacketPtr packet(av_packet_alloc());
  for (const double time : times) {
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.x = 100;
    rect.y = 500;
    rect.w = 64;
    rect.h = 16;
    rect.nb_colors = 4;
    rect.data[0] = pixels.data();
    rect.linesize[0] = 64;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
    AVSubtitleRect* rects[] = {&rect};
    AVSubtitle subtitle{};
    subtitle.pts = static_cast<int64_t>(time * AV_TIME_BASE);
    // The page, then the empty page that clears it.
    for (int part = 0; part < (clears ? 2 : 1); ++part) {
      subtitle.num_rects = part == 0 ? 1 : 0;
      subtitle.rects = part == 0 ? rects : nullptr;
      const int size =
          avcodec_encode_subtitle(encoder.get(), buffer.data(), static_cast<int>(buffer.size()), &subtitle);
      ASSERT_GT(size, 0);
      ASSERT_GE(av_new_packet(packet.get(), size), 0);
      std::memcpy(packet->data, buffer.data(), static_cast<size_t>(size));
      packet->pts = packet->dts = static_cast<int64_t>(time * 90000) + part * 45000LL;
      packet->stream_index = 0;
      ASSERT_GE(av_interleaved_write_frame(output.get(), packet.get()), 0);
    }
  }
  ASSERT_GE(av_write_trailer(output.get()), 0);
}

struct TimedPacket {
  double seconds;
  int size;
};

std::vector<TimedPacket> SubtitlePackets(const std::string& path) {
  std::vector<TimedPacket> packets;
  fixtures_test::InputPtr input = fixtures_test::OpenMedia(path);
  EXPECT_TRUE(input);
  if (!input) return packets;
  const int index = fixtures_test::FirstStream(input.get(), AVMEDIA_TYPE_SUBTITLE);
  EXPECT_GE(index, 0);
  fixtures_test::PacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index)
      packets.push_back({fixtures_test::StreamSeconds(input->streams[index], packet->pts), packet->size});
    av_packet_unref(packet.get());
  }
  return packets;
}

TEST_F(SubtitleTest, DvbSubtitleIsWrittenAsPageAndClearing) {
  struct DvbCase {
    const char* name;
    std::vector<double> times;
    bool clears;
    // Output packets, in seconds from the first, and whether each carries a
    // picture (else it is an empty page).
    std::vector<std::pair<double, bool>> packets;
  };
  const DvbCase cases[] = {
      // Pages further apart than their time-out: each is cleared after 30 s.
      {"pages far apart",
       {1, 40, 80},
       false,
       {{0, true}, {30, false}, {39, true}, {69, false}, {79, true}, {109, false}}},
      // A page that comes before the last one's clearing replaces it; the
      // empty pages of the source clear too, their own clearing comes last.
      {"pages close together",
       {1, 2, 3},
       true,
       {{0, true}, {0.5, false}, {1, true}, {1.5, false}, {2, true}, {2.5, false}, {32.5, false}}},
  };
  for (const DvbCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = folder.File("dvb.ts");
    WriteDvbSubtitles(source, c.times, c.clears);
    ASSERT_FALSE(HasFailure());
    const std::string output = folder.File("dvb_out.ts");
    TestSession run;
    // Gaps between subtitles are not timestamp jumps here.
    run.Input(source, {{"dts_delta_threshold", "1000"}});
    run.Output(output, {{"scodec", "dvbsub"}});
    ASSERT_EQ(run.Run(), "");
    const std::vector<TimedPacket> out = SubtitlePackets(output);
    ASSERT_EQ(out.size(), c.packets.size());
    const int emptySize =
        std::min_element(out.begin(), out.end(), [](const TimedPacket& a, const TimedPacket& b) {
          return a.size < b.size;
        })->size;
    for (size_t i = 0; i < out.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_NEAR(out[i].seconds - out[0].seconds, c.packets[i].first, 0.002);
      EXPECT_EQ(out[i].size > emptySize, c.packets[i].second);
    }
  }
}

}  // namespace
