// The vcd, svcd, dvd and dv presets and the detection of the TV norm.
#include "tests/fixtures/FixtureGenerator.h"
#include "tests/session/SessionTesting.h"

using testsupport::Fixture;

namespace {

int64_t Option(void* holder, const char* name) {
  int64_t value = -1;
  FF.av_opt_get_int(holder, name, 0, &value);
  return value;
}

TEST_F(SessionTest, DvdFromA2997InputIsNtsc) {
  const std::string input = folder.File("ntsc.avi");
  fixtures::MediaSpec recipe;
  recipe.muxer = "avi";
  recipe.videoCodec = "mpeg4";
  recipe.frameRate = AVRational{30000, 1001};
  recipe.audioCodec = "mp2";
  recipe.channels = 1;
  recipe.seconds = 1.0;
  ASSERT_TRUE(fixtures::WriteMedia(input, recipe));
  ASSERT_TRUE(session.OpenInputFile(input)) << session.LastError;

  session.ParseOption("target", "dvd");
  EXPECT_TRUE(Logged("Assuming NTSC for target."));
  EXPECT_FALSE(Logged("Assuming 16:9 for aspect ratio"));  // the input's aspect is known
  EXPECT_EQ(session.FrameWidth, 720);
  EXPECT_EQ(session.FrameHeight, 480);
  EXPECT_EQ(session.FrameRate.num, 30000);
  EXPECT_EQ(session.FrameRate.den, 1001);
  EXPECT_EQ(Option(session.CodecOptions[AVMEDIA_TYPE_VIDEO], "g"), 18);
  EXPECT_EQ(session.AudioChannels, 2);  // mono becomes stereo
  ASSERT_NE(session.ForcedOutputFormat, nullptr);
  EXPECT_STREQ(session.ForcedOutputFormat->name, "dvd");

  ASSERT_TRUE(session.OpenOutputFile(folder.File("disc.vob"))) << session.LastError;
  AVCodecContext* video = Encoder(0, 0);
  AVCodecContext* audio = Encoder(0, 1);
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG2VIDEO);
  EXPECT_EQ(video->width, 720);
  EXPECT_EQ(video->height, 480);
  EXPECT_EQ(video->gop_size, 18);
  EXPECT_EQ(video->time_base.num, 1001);
  EXPECT_EQ(video->time_base.den, 30000);
  EXPECT_EQ(video->bit_rate, 6000000);
  EXPECT_EQ(video->rc_max_rate, 9000000);
  EXPECT_EQ(video->rc_buffer_size, 1835008);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AC3);
  EXPECT_EQ(audio->sample_rate, 48000);
  EXPECT_EQ(audio->bit_rate, 448000);
  EXPECT_EQ(audio->ch_layout.nb_channels, 2);
  EXPECT_EQ(session.OutputFiles[0]->packet_size, 2048u);
  const TOutputFileRecord& record = session.OutputRecord(0);
  auto muxerOption = [&](const char* key) {
    const AVDictionaryEntry* entry = FF.av_dict_get(record.MuxerOptions.get(), key, nullptr, 0);
    return entry ? std::string(entry->value) : std::string("(none)");
  };
  EXPECT_EQ(muxerOption("muxrate"), "10080000");
  EXPECT_EQ(muxerOption("preload"), "500000");
}

TEST_F(SessionTest, VcdWithoutAFrameRateCannotDetectTheNorm) {
  ASSERT_TRUE(session.OpenInputFile(Fixture("tone.wav"))) << session.LastError;
  try {
    session.ParseOption("target", "vcd");
    FAIL() << "accepted";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "frame_rate is invalid.");
  }
}

TEST_F(SessionTest, NormComesFromTheInputsWhenTheFrameRateTellsNothing) {
  ASSERT_TRUE(session.OpenInputFile(Fixture("avi_mpeg4_mp3.avi"))) << session.LastError;  // 25 frames/s
  session.ParseOption("r", "15");
  session.ParseOption("target", "dvd");
  EXPECT_TRUE(Logged("Assuming PAL for target."));
  EXPECT_EQ(session.FrameHeight, 576);
  EXPECT_EQ(session.FrameRate.num, 25);
}

struct PresetCase {
  std::vector<std::pair<std::string, std::string>> before;
  std::string target;
  int width, height;
  AVRational rate;
  std::string normLine;    // the norm the log assumes, or empty when the norm was given
  std::string aspectLine;  // the aspect the log assumes, or empty
  int pixelFormat;
};

TEST_F(SessionTest, PresetsFollowTheNorm) {
  const std::string pal = "Assuming PAL for target.", ntsc = "Assuming NTSC for target.";
  const std::string fourThree = "Assuming 4:3 for aspect ratio", wide = "Assuming 16:9 for aspect ratio";
  const PresetCase cases[] = {
      {{}, "pal-dvd", 720, 576, {25, 1}, "", wide, -1},
      {{}, "film-dvd", 720, 480, {24000, 1001}, "", wide, -1},
      {{{"r", "25"}}, "dvd", 720, 576, {25, 1}, pal, wide, -1},
      {{{"r", "15"}}, "svcd", 480, 480, {30000, 1001}, ntsc, fourThree, -1},  // nothing found: the fallback
      {{{"r", "24000/1001"}}, "vcd", 352, 240, {30000, 1001}, ntsc, fourThree, -1},  // 23.976 is NTSC, not
                                                                                     // film
      {{{"aspect", "16:9"}}, "pal-vcd", 352, 288, {25, 1}, "", "", -1},
      {{}, "ntsc-dv50", 720, 480, {30000, 1001}, "", "", AV_PIX_FMT_YUV422P},
      {{}, "pal-dv", 720, 576, {25, 1}, "", "", AV_PIX_FMT_YUV420P},
      {{}, "ntsc-dv", 720, 480, {30000, 1001}, "", "", AV_PIX_FMT_YUV411P},
  };
  for (const PresetCase& c : cases) {
    SCOPED_TRACE(c.target);
    TCustomFFmpeg fresh;
    fresh.InitSession();
    std::vector<std::string> lines;
    fresh.LogHandler = [&](TCustomFFmpeg&, int, const std::string& text) { lines.push_back(text); };
    for (const auto& [name, value] : c.before) fresh.ParseOption(name, value);
    fresh.ParseOption("target", c.target);
    EXPECT_EQ(fresh.FrameWidth, c.width);
    EXPECT_EQ(fresh.FrameHeight, c.height);
    EXPECT_EQ(fresh.FrameRate.num, c.rate.num);
    EXPECT_EQ(fresh.FrameRate.den, c.rate.den);
    std::vector<std::string> expected;
    if (!c.normLine.empty()) expected.push_back(c.normLine);
    if (!c.aspectLine.empty()) expected.push_back(c.aspectLine);
    EXPECT_EQ(lines, expected);
    if (c.pixelFormat >= 0) {
      EXPECT_EQ(fresh.FramePixFmt, c.pixelFormat);
      EXPECT_EQ(fresh.AudioSampleRate, 48000);
    }
  }
}

TEST_F(SessionTest, SvcdPresetReachesTheMuxerAndTheEncoder) {
  session.ParseOption("ac", "1");
  session.ParseOption("target", "pal-svcd");
  EXPECT_EQ(session.AudioChannels, 2);
  EXPECT_FLOAT_EQ(session.FrameAspectRatio, 4.0f / 3);
  ASSERT_TRUE(session.OpenOutputFile(folder.File("disc.mpg"))) << session.LastError;
  EXPECT_STREQ(session.OutputFiles[0]->oformat->name, "svcd");
  AVCodecContext* video = Encoder(0, 0);
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG2VIDEO);
  EXPECT_EQ(video->gop_size, 15);
  EXPECT_EQ(video->rc_min_rate, 0);
  EXPECT_EQ(Option(video->priv_data, "scan_offset"), 1);
  EXPECT_EQ(session.OutputFiles[0]->packet_size, 2324u);
}

TEST_F(SessionTest, VcdPresetSetsThePreloadOfTheMuxer) {
  session.ParseOption("target", "ntsc-vcd");
  EXPECT_FLOAT_EQ(session.MuxPreload, 0.44f);
  ASSERT_TRUE(session.OpenOutputFile(folder.File("disc.mpg"))) << session.LastError;
  const AVDictionaryEntry* preload =
      FF.av_dict_get(session.OutputRecord(0).MuxerOptions.get(), "preload", nullptr, 0);
  ASSERT_NE(preload, nullptr);
  EXPECT_STREQ(preload->value, "440000");
  EXPECT_EQ(Encoder(0, 0)->codec_id, AV_CODEC_ID_MPEG1VIDEO);
  EXPECT_EQ(Encoder(0, 1)->codec_id, AV_CODEC_ID_MP2);
  EXPECT_EQ(Encoder(0, 1)->bit_rate, 224000);
}

}  // namespace
