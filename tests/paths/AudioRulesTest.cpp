// Rules of the audio path on small sources: volume, the audio clock (silence
// for a late start, drift taken up by the resampler).
#include <algorithm>
#include <cmath>

#include "tests/paths/PathsTesting.h"

using testsupport::Fixture;

namespace {

using AudioRulesTest = TranscodeTest;

TEST_F(AudioRulesTest, VolumeScalesEverySampleAndClipsAtFullScale) {
  const fixtures_test::DecodedAudio source = FirstAudio(Fixture("tone.wav"));
  ASSERT_GT(source.samples.size(), 44100u);
  for (const int volume : {512, 1024}) {
    SCOPED_TRACE(volume);
    const std::string output = folder.File("volume" + std::to_string(volume) + ".wav");
    TestSession run;
    run.Input(Fixture("tone.wav"));
    run.Output(output, {{"vol", std::to_string(volume)}});
    ASSERT_EQ(run.Run(), "");
    const fixtures_test::DecodedAudio scaled = FirstAudio(output);
    ASSERT_EQ(scaled.samples.size(), source.samples.size());
    // Every sample is the source's times volume / 256, held at the limits
    // of 16 bits: loud peaks stay at full scale instead of wrapping round.
    const double factor = volume / 256.0;
    int clipped = 0;
    for (size_t i = 0; i < source.samples.size(); ++i) {
      const double expected = std::clamp(source.samples[i] * factor, -1.0, 32767.0 / 32768);
      ASSERT_NEAR(scaled.samples[i], expected, 1.5 / 32768) << "sample " << i;
      clipped += scaled.samples[i] == 32767.0 / 32768;
    }
    if (volume == 1024) {
      EXPECT_GT(clipped, static_cast<int>(source.samples.size()) / 10);
    } else {
      EXPECT_NEAR(scaled.Rms() / source.Rms(), 2.0, 0.01);
    }
  }
}

// A source whose audio starts later than its pictures.
std::string LateAudio(double offset) {
  fixtures::MediaSpec recipe;
  recipe.muxer = "matroska";
  recipe.videoCodec = "mpeg4";
  recipe.audioCodec = "pcm_s16le";
  recipe.seconds = 2.0;
  recipe.audioStartOffset = offset;
  return paths_test::Generated("late" + std::to_string(static_cast<int>(offset * 10)) + ".mkv", recipe);
}

TEST_F(AudioRulesTest, LateStartIsPaddedWithSilenceBySyncMethodOne) {
  struct LateCase {
    double offset;  // seconds the source's audio starts late
    int syncMethod;
    double firstAudio;        // the output's first audio sample, in seconds
    double onset;             // the tone's start after that sample
    const char* silenceLine;  // the line of the inserted silence; null: none
  };
  const LateCase cases[] = {
      // Without synchronisation the gap stays in the timestamps.
      {0.5, 0, 0.5, 0.0, nullptr},
      // 0.5 s at 44100 Hz: 22050 samples of silence in front of the first unit.
      {0.5, 1, 0.0, 0.5, "adding 22050 audio samples of silence"},
      // 2 s is more than one unit may grow by: the silence goes out in whole
      // units first, and the tone starts at its time.
      {2.0, 1, 0.0, 2.0, "adding 88200 audio samples of silence"},
  };
  for (const LateCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " s late, sync method " << c.syncMethod);
    const std::string output = folder.File("late.mkv");
    TestSession run;
    run.session.Verbose = 3;  // the synchronisation's lines
    run.Input(LateAudio(c.offset));
    run.Output(output,
               {{"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}, {"async", std::to_string(c.syncMethod)}});
    ASSERT_EQ(run.Run(), "");
    const std::vector<std::string> silence = run.LinesStartingWith("adding ");
    if (c.silenceLine) {
      EXPECT_EQ(silence, std::vector<std::string>{c.silenceLine});
    } else {
      EXPECT_TRUE(silence.empty());
    }
    EXPECT_TRUE(run.LinesStartingWith("discarding ").empty());

    const fixtures_test::DecodedAudio audio = FirstAudio(output);
    EXPECT_NEAR(audio.firstSeconds, c.firstAudio, 0.03);
    EXPECT_NEAR(audio.OnsetSeconds(0.1), c.onset, 0.03);
    // The whole tone is there after the silence.
    EXPECT_NEAR(audio.Seconds(), c.onset + 2.0, 0.05);
    const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output);
    ASSERT_FALSE(pictures.empty());
    EXPECT_NEAR(pictures.front().seconds, 0.0, 0.001);
  }
}

TEST_F(AudioRulesTest, DriftIsTakenUpByTheResampler) {
  // The audio's timestamps run 1 % fast against its samples: the clock gains
  // 441 samples a second, well inside the drift threshold of 4410.
  struct DriftCase {
    int syncMethod;
    bool compensates;
  };
  size_t plain = 0;
  for (const DriftCase& c : {DriftCase{0, false}, DriftCase{100, true}}) {
    SCOPED_TRACE(c.syncMethod);
    const std::string output = folder.File("drift.wav");
    TestSession run;
    run.session.Verbose = 3;
    run.Input(Fixture("tone.wav"), {{"itsscale", "0:1.01"}});
    run.Output(output, {{"async", std::to_string(c.syncMethod)}});
    ASSERT_EQ(run.Run(), "");
    const fixtures_test::DecodedAudio audio = FirstAudio(output);
    const std::vector<std::string> lines = run.LinesStartingWith("compensating audio timestamp drift:");
    EXPECT_TRUE(run.LinesStartingWith("discarding ").empty());
    if (!c.compensates) {
      EXPECT_TRUE(lines.empty());
      plain = audio.samples.size();
      continue;
    }
    ASSERT_FALSE(lines.empty());
    int atLimit = 0;
    for (const std::string& line : lines) {
      const size_t at = line.find("compensation:");
      ASSERT_NE(at, std::string::npos) << line;
      const int compensation = std::atoi(line.c_str() + at + 13);
      EXPECT_GE(compensation, -100);
      EXPECT_LE(compensation, 100);
      atLimit += compensation == 100;
      EXPECT_NE(line.find(" in:44100"), std::string::npos) << line;
    }
    EXPECT_GT(atLimit, 0);
    // The resampler stretched the audio towards the clock: 100 samples a
    // second at most, over 3 s.
    ASSERT_GT(plain, 0u);
    EXPECT_GT(audio.samples.size(), plain + 150);
    EXPECT_LT(audio.samples.size(), plain + 500);
    EXPECT_NEAR(audio.ToneHz(), 440, 5);
  }
}

}  // namespace
