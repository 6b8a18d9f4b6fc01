// Opening inputs: what the session takes over from a file, timestamp
// offsets, discarding, and the texts of the failures.
#include <cmath>

#include "tests/fixtures/FixtureGenerator.h"
#include "tests/session/SessionTesting.h"

using testsupport::Fixture;

namespace {

struct InputCase {
  const char* file;
  int width, height;
  AVRational rate;
  int sampleRate, channels;
  float aspect;  // display aspect: the picture's shape times its sample aspect
};

TEST_F(SessionTest, TakesOverThePropertiesOfEachInput) {
  const InputCase cases[] = {
      {"mp4_h264_aac.mp4", 320, 240, {25, 1}, 44100, 2, 4.0f / 3},
      {"avi_mpeg4_mp3.avi", 160, 120, {25, 1}, 44100, 2, 4.0f / 3},
      {"flv_flv1_mp3.flv", 160, 120, {25, 1}, 22050, 2, 4.0f / 3},
      {"mpg_mpeg1_mp2.mpg", 160, 120, {25, 1}, 44100, 2, 4.0f / 3},
      {"3gp_h263_amrnb.3gp", 176, 144, {25, 1}, 8000, 1, 4.0f / 3},  // 12:11 samples
      {"odd_size.mp4", 174, 98, {25, 1}, 44100, 2, 174.0f / 98},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.file);
    TCustomFFmpeg fresh;
    fresh.InitSession();
    ASSERT_TRUE(fresh.OpenInputFile(Fixture(c.file))) << fresh.LastError;
    EXPECT_EQ(fresh.InputFileCount, 1);
    EXPECT_EQ(fresh.FrameWidth, c.width);
    EXPECT_EQ(fresh.FrameHeight, c.height);
    EXPECT_EQ(fresh.FrameRate.num * c.rate.den, c.rate.num * fresh.FrameRate.den);
    EXPECT_NEAR(fresh.FrameAspectRatio, c.aspect, 1e-4);
    EXPECT_EQ(fresh.FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(fresh.AudioSampleRate, c.sampleRate);
    EXPECT_EQ(fresh.AudioChannels, c.channels);
    EXPECT_NE(fresh.AudioSampleFmt, AV_SAMPLE_FMT_NONE);
    EXPECT_NEAR(fresh.TotalDuration, 3000, 150);
  }
}

TEST_F(SessionTest, AudioOnlyInputKeepsThePictureSettings) {
  Apply({{"s", "640x480"}, {"r", "30"}});
  ASSERT_TRUE(session.OpenInputFile(Fixture("tone.wav"))) << session.LastError;
  EXPECT_EQ(session.FrameWidth, 640);
  EXPECT_EQ(session.FrameHeight, 480);
  EXPECT_EQ(session.FrameRate.num, 30);
  EXPECT_EQ(session.AudioSampleFmt, AV_SAMPLE_FMT_S16);

  TCustomFFmpeg videoOnly;
  videoOnly.InitSession();
  videoOnly.ParseOption("ar", "22050");
  ASSERT_TRUE(videoOnly.OpenInputFile(Fixture("video_only.avi"))) << videoOnly.LastError;
  EXPECT_EQ(videoOnly.AudioSampleRate, 22050);
  EXPECT_EQ(videoOnly.AudioSampleFmt, -1);
}

TEST_F(SessionTest, TotalDurationIsTheLongestInputUntilAnOptionReplacesIt) {
  const std::string shortFile = folder.File("short.avi");
  fixtures::MediaSpec recipe;
  recipe.muxer = "avi";
  recipe.videoCodec = "mpeg4";
  recipe.seconds = 1.0;
  ASSERT_TRUE(fixtures::WriteMedia(shortFile, recipe));

  ASSERT_TRUE(session.OpenInputFile(Fixture("avi_mpeg4_mp3.avi"))) << session.LastError;
  const int64_t longest = session.TotalDuration;
  ASSERT_TRUE(session.OpenInputFile(shortFile)) << session.LastError;
  EXPECT_EQ(session.TotalDuration, longest);
  EXPECT_EQ(session.InputFileCount, 2);
  session.ParseOption("t", "1.5");
  EXPECT_EQ(session.TotalDuration, 1500);
}

TEST_F(SessionTest, TimestampOffsetFollowsStartTimeUnlessTimestampsAreCopied) {
  Apply({{"ss", "1"}, {"itsoffset", "0.5"}});
  ASSERT_TRUE(session.OpenInputFile(Fixture("mpg_mpeg1_mp2.mpg"))) << session.LastError;
  const int64_t start = session.InputFiles[0]->start_time;
  ASSERT_NE(start, AV_NOPTS_VALUE);
  EXPECT_GT(start, 0);  // MPEG-PS timestamps do not start at 0
  EXPECT_EQ(session.InputTsOffsets[0], 500000 - (1000000 + start));
  EXPECT_EQ(session.StartTime, 0);  // consumed by this input

  Apply({{"copyts", ""}, {"itsoffset", "2"}, {"ss", "1"}});
  ASSERT_TRUE(session.OpenInputFile(Fixture("mpg_mpeg1_mp2.mpg"))) << session.LastError;
  EXPECT_EQ(session.InputTsOffsets[1], 2000000);
}

TEST_F(SessionTest, PerInputOptionsAreConsumedByTheInput) {
  Apply({{"re", ""}, {"vc", "3"}, {"f", "avi"}, {"scodec", "copy"}});
  ASSERT_TRUE(session.OpenInputFile(Fixture("avi_mpeg4_mp3.avi"))) << session.LastError;
  EXPECT_EQ(session.InputRateEmu[0], 1);
  EXPECT_EQ(session.RateEmu, 0);
  EXPECT_EQ(session.VideoChannel, 0);
  EXPECT_EQ(session.ForcedInputFormat, nullptr);
  EXPECT_EQ(session.ForcedOutputFormat, nullptr);
  EXPECT_EQ(session.SubtitleStreamCopy, 1);  // stream options wait for an output
}

TEST_F(SessionTest, DisabledTypesAreDiscardedAtTheDemuxer) {
  Apply({{"vn", ""}, {"an", ""}, {"sn", ""}});
  ASSERT_TRUE(session.OpenInputFile(Fixture("mkv_subtitle.mkv"))) << session.LastError;
  AVFormatContext* input = session.InputFiles[0];
  ASSERT_EQ(input->nb_streams, 3u);
  for (unsigned i = 0; i < input->nb_streams; ++i) EXPECT_EQ(input->streams[i]->discard, AVDISCARD_ALL) << i;

  TCustomFFmpeg kept;
  kept.InitSession();
  ASSERT_TRUE(kept.OpenInputFile(Fixture("mkv_subtitle.mkv")));
  for (unsigned i = 0; i < 3; ++i) EXPECT_NE(kept.InputFiles[0]->streams[i]->discard, AVDISCARD_ALL) << i;
  bool video = false, audio = false, subtitle = false;
  kept.ScanInputStreamTypes(video, audio, subtitle);
  EXPECT_TRUE(video && audio && subtitle);
}

TEST_F(SessionTest, ProgramIdDiscardsTheOtherPrograms) {
  ASSERT_TRUE(session.OpenInputFile(Fixture("ts_two_programs.ts"))) << session.LastError;
  AVFormatContext* probe = session.InputFiles[0];
  ASSERT_EQ(probe->nb_programs, 2u);
  const int wanted = probe->programs[1]->id;

  TCustomFFmpeg chosen;
  chosen.InitSession();
  chosen.ParseOption("programid", std::to_string(wanted));
  ASSERT_TRUE(chosen.OpenInputFile(Fixture("ts_two_programs.ts"))) << chosen.LastError;
  for (unsigned i = 0; i < chosen.InputFiles[0]->nb_programs; ++i) {
    const AVProgram* program = chosen.InputFiles[0]->programs[i];
    EXPECT_EQ(program->discard == AVDISCARD_ALL, program->id != wanted) << program->id;
  }
}

struct FailureCase {
  std::vector<std::pair<std::string, std::string>> options;
  std::string file;
  std::string error;  // "%s" stands for the file's path
};

TEST_F(SessionTest, FailedOpeningsExplainWhy) {
  const std::string missing = folder.File("missing.avi");
  const FailureCase cases[] = {
      {{}, missing, "%s: no such file or directory"},
      {{}, Fixture("garbage.avi"), "%s: Unknown format"},
      {{}, Fixture("empty.avi"), "%s: Unknown format"},
      {{{"vcodec", "nosuchdecoder"}}, Fixture("avi_mpeg4_mp3.avi"), "Unknown decoder 'nosuchdecoder'"},
      {{{"acodec", "mpeg4"}}, Fixture("avi_mpeg4_mp3.avi"), "Invalid decoder type 'mpeg4'"},
      {{{"scodec", "mp3"}}, Fixture("mkv_subtitle.mkv"), "Invalid decoder type 'mp3'"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.file);
    TCustomFFmpeg fresh;
    fresh.InitSession();
    for (const auto& [name, value] : c.options) fresh.ParseOption(name, value);
    fresh.SetForcedOutputFormat("avi");  // a failed input consumes it as a successful one does
    EXPECT_FALSE(fresh.OpenInputFile(c.file));
    std::string expected = c.error;
    const size_t at = expected.find("%s");
    if (at != std::string::npos) expected.replace(at, 2, c.file);
    EXPECT_EQ(fresh.LastError, expected);
    EXPECT_EQ(fresh.InputFileCount, 0);
    EXPECT_TRUE(fresh.VideoCodecName.empty() && fresh.AudioCodecName.empty() &&
                fresh.SubtitleCodecName.empty());
    EXPECT_EQ(fresh.ForcedOutputFormat, nullptr);
  }
}

TEST_F(SessionTest, UnknownForcedDemuxerIsRefusedBeforeOpening) {
  try {
    session.SetForcedInputFormat("nosuchdemuxer");
    FAIL() << "accepted";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown input format: nosuchdemuxer");
  }
  EXPECT_EQ(session.ForcedInputFormat, nullptr);
}

TEST_F(SessionTest, MoreThanTwentyInputsAreRefused) {
  for (int i = 0; i < TCustomFFmpeg::MaxFiles; ++i)
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.wav"))) << session.LastError;
  EXPECT_THROW(session.OpenInputFile(Fixture("tone.wav")), FFMpegException);
  EXPECT_THROW(session.ParseOption("itsscale", "0:2"), FFMpegException);
  EXPECT_EQ(session.InputFileCount, TCustomFFmpeg::MaxFiles);
}

}  // namespace
