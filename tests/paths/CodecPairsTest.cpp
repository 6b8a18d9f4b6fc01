// The containers and codecs of the converter's formats, end to end: a small
// source is converted to another picture size, frame rate, sample rate and
// channel count, and the result decoded back.
#include <cmath>

#include "tests/paths/PathsTesting.h"

namespace {

struct CodecPair {
  const char* name;  // test name
  const char* file;  // output file name; the extension picks the container unless "f" is given
  Options options;
  const char* format;      // demuxer name of the written file (a prefix is enough)
  const char* videoCodec;  // empty: audio only
  int width, height;
  double frameRate;
  const char* audioCodec;
  int sampleRate, channels;
};

void PrintTo(const CodecPair& pair, std::ostream* out) {
  *out << pair.name;
}

// What the converter's eighteen formats ask for, each at a size, rate and
// channel count other than the source's (160x120, 25 fps, 44100 Hz stereo).
const CodecPair kPairs[] = {
    {"Flv",
     "out.flv",
     {{"f", "flv"},
      {"s", "320x240"},
      {"r", "15"},
      {"acodec", "libmp3lame"},
      {"ar", "22050"},
      {"ac", "1"},
      {"b", "400000"},
      {"ab", "64000"}},
     "flv",
     "flv1",
     320,
     240,
     15,
     "mp3",
     22050,
     1},
    {"Swf",
     "out.swf",
     {{"s", "176x144"}, {"r", "12"}, {"acodec", "libmp3lame"}, {"ar", "11025"}, {"ac", "1"}},
     "swf",
     "flv1",
     176,
     144,
     12,
     "mp3",
     11025,
     1},
    {"ThreeGpH263AmrNb",
     "out.3gp",
     {{"f", "3gp"},
      {"vcodec", "h263"},
      {"s", "176x144"},
      {"r", "15"},
      {"acodec", "libopencore_amrnb"},
      {"ar", "8000"},
      {"ac", "1"},
      {"ab", "12200"}},
     "mov",
     "h263",
     176,
     144,
     15,
     "amr_nb",
     8000,
     1},
    {"ThreeGpMpeg4Aac",
     "out.3gp",
     {{"f", "3gp"},
      {"vcodec", "mpeg4"},
      {"s", "320x240"},
      {"r", "10"},
      {"acodec", "aac"},
      {"ar", "8000"},
      {"ac", "1"},
      {"ab", "24000"}},
     "mov",
     "mpeg4",
     320,
     240,
     10,
     "aac",
     8000,
     1},
    {"ThreeG2H263Aac",
     "out.3g2",
     {{"f", "3g2"},
      {"vcodec", "h263"},
      {"s", "128x96"},
      {"r", "20"},
      {"acodec", "aac"},
      {"ar", "8000"},
      {"ac", "1"},
      {"ab", "32000"}},
     "mov",
     "h263",
     128,
     96,
     20,
     "aac",
     8000,
     1},
    {"ThreeG2Mpeg4AmrNb",
     "out.3g2",
     {{"f", "3g2"},
      {"vcodec", "mpeg4"},
      {"s", "176x144"},
      {"r", "12"},
      {"acodec", "libopencore_amrnb"},
      {"ar", "8000"},
      {"ac", "1"},
      {"ab", "7950"}},
     "mov",
     "mpeg4",
     176,
     144,
     12,
     "amr_nb",
     8000,
     1},
    {"AviDivx",
     "out.avi",
     {{"f", "avi"},
      {"vcodec", "mpeg4"},
      {"vtag", "DIVX"},
      {"s", "320x240"},
      {"r", "30"},
      {"acodec", "libmp3lame"},
      {"ar", "32000"},
      {"ac", "1"}},
     "avi",
     "mpeg4",
     320,
     240,
     30,
     "mp3",
     32000,
     1},
    {"AviXvid",
     "out.avi",
     {{"f", "avi"},
      {"vcodec", "libxvid"},
      {"s", "176x144"},
      {"r", "15"},
      {"acodec", "libmp3lame"},
      {"ar", "48000"},
      {"ac", "2"}},
     "avi",
     "mpeg4",
     176,
     144,
     15,
     "mp3",
     48000,
     2},
    {"Mov",
     "out.mov",
     {{"f", "mov"},
      {"vcodec", "mpeg4"},
      {"s", "320x240"},
      {"r", "24"},
      {"acodec", "aac"},
      {"ar", "22050"},
      {"ac", "1"}},
     "mov",
     "mpeg4",
     320,
     240,
     24,
     "aac",
     22050,
     1},
    {"MpegOne",
     "out.mpg",
     {{"vcodec", "mpeg1video"},
      {"s", "352x240"},
      {"r", "29.97"},
      {"acodec", "mp2"},
      {"ar", "48000"},
      {"ac", "1"}},
     "mpeg",
     "mpeg1video",
     352,
     240,
     30000.0 / 1001,
     "mp2",
     48000,
     1},
    {"Mp4H264",
     "out.mp4",
     {{"vcodec", "libx264"}, {"s", "320x240"}, {"r", "30"}, {"acodec", "aac"}, {"ar", "48000"}, {"ac", "1"}},
     "mov",
     "h264",
     320,
     240,
     30,
     "aac",
     48000,
     1},
    {"M4v",
     "out.m4v",
     {{"f", "ipod"},
      {"vcodec", "mpeg4"},
      {"s", "352x288"},
      {"r", "20"},
      {"acodec", "aac"},
      {"ar", "32000"},
      {"ac", "1"}},
     "mov",
     "mpeg4",
     352,
     288,
     20,
     "aac",
     32000,
     1},
    {"WavPcm",
     "out.wav",
     {{"vn", ""}, {"acodec", "pcm_s16le"}, {"ar", "22050"}, {"ac", "1"}},
     "wav",
     "",
     0,
     0,
     0,
     "pcm_s16le",
     22050,
     1},
    {"WmaAsf",
     "out.wma",
     {{"vn", ""}, {"acodec", "wmav2"}, {"ar", "32000"}, {"ac", "1"}},
     "asf",
     "",
     0,
     0,
     0,
     "wmav2",
     32000,
     1},
    {"Wmv",
     "out.wmv",
     {{"vcodec", "wmv2"}, {"s", "320x240"}, {"r", "20"}, {"acodec", "wmav2"}, {"ar", "22050"}, {"ac", "1"}},
     "asf",
     "wmv2",
     320,
     240,
     20,
     "wmav2",
     22050,
     1},
    {"M4aAac",
     "out.m4a",
     {{"f", "ipod"}, {"vn", ""}, {"acodec", "aac"}, {"ar", "22050"}, {"ac", "1"}},
     "mov",
     "",
     0,
     0,
     0,
     "aac",
     22050,
     1},
    {"AdtsAac",
     "out.aac",
     {{"vn", ""}, {"acodec", "aac"}, {"ar", "16000"}, {"ac", "1"}},
     "aac",
     "",
     0,
     0,
     0,
     "aac",
     16000,
     1},
    {"Mp3",
     "out.mp3",
     {{"vn", ""}, {"acodec", "libmp3lame"}, {"ar", "16000"}, {"ac", "1"}},
     "mp3",
     "",
     0,
     0,
     0,
     "mp3",
     16000,
     1},
};

class CodecPairTest : public ::testing::TestWithParam<CodecPair> {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    FF.av_log_set_level(AV_LOG_ERROR);
  }
  testsupport::TempFolder folder;
};

TEST_P(CodecPairTest, ConvertsAndDecodesBack) {
  const CodecPair& pair = GetParam();
  const double seconds = 2.0;  // the source's length
  const std::string output = folder.File(pair.file);
  {
    TestSession run;
    run.Input(paths_test::Source());
    run.Output(output, pair.options);
    ASSERT_EQ(run.Run(), "");
    EXPECT_TRUE(run.session.CompletedNormally);
  }

  const MediaSummary out = Summarize(output);
  ASSERT_TRUE(out.opened);
  EXPECT_EQ(out.format.rfind(pair.format, 0), 0u) << out.format;

  const bool video = pair.videoCodec[0] != '\0';
  EXPECT_EQ(out.video.present, video);
  double videoStart = 0;
  if (video) {
    EXPECT_EQ(out.video.codec, pair.videoCodec);
    EXPECT_EQ(out.video.width, pair.width);
    EXPECT_EQ(out.video.height, pair.height);
    const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output, pair.frameRate);
    ASSERT_GT(pictures.size(), 2u);
    // The frame rate asked for: as many pictures as the length holds, one
    // frame apart.
    EXPECT_NEAR(static_cast<double>(pictures.size()), seconds * pair.frameRate, 2.0);
    const double spacing = (pictures.back().seconds - pictures.front().seconds) / (pictures.size() - 1);
    EXPECT_NEAR(spacing * pair.frameRate, 1.0, 0.05);
    for (const fixtures_test::DecodedPicture& picture : pictures)
      EXPECT_GT(picture.meanLuma, 20) << "picture at " << picture.seconds << " s is black";
    videoStart = pictures.front().seconds;
  }

  EXPECT_EQ(out.audio.codec, pair.audioCodec);
  EXPECT_EQ(out.audio.sampleRate, pair.sampleRate);
  EXPECT_EQ(out.audio.channels, pair.channels);
  const fixtures_test::DecodedAudio audio = FirstAudio(output);
  EXPECT_NEAR(audio.Seconds(), seconds, 0.15);
  EXPECT_GT(audio.Rms(), 0.1);
  // The tone keeps its pitch through the change of sample rate.
  EXPECT_NEAR(audio.ToneHz(), 440, 20);
  // The tone starts with the first sample, and the first sample with the
  // first picture. MP3 in containers without a gapless header starts with
  // the encoder's delay of 1105 samples: 0.1 s at 11025 Hz.
  EXPECT_LT(audio.OnsetSeconds(0.1), 0.11);
  if (video) {
    EXPECT_NEAR(audio.firstSeconds, videoStart, 0.1);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, CodecPairTest, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<CodecPair>& info) { return info.param.name; });

}  // namespace
