// Whole conversions that decode and encode: picture size, frame rate, sample
// rate and channel changes, start position, volume, cropping and padding.
#include <cmath>
#include <fstream>

#include "tests/transcode/TranscodeTesting.h"

using testsupport::Fixture;

namespace {

struct EncodeCase {
  const char* source;
  const char* target;
  Options options;
  const char* videoCodec;
  int width, height;
  const char* audioCodec;
  int sampleRate, channels;
  // Pictures sit at their source time. AVI keeps no start time, so the
  // shift by which the muxer makes room for the audio encoder's priming
  // shows there as a gap after the first picture.
  bool timed = true;
};

TEST_F(TranscodeTest, ConversionsDecodeBackToTheSamePicturesAndTone) {
  const EncodeCase cases[] = {
      {"mp4_h264_aac.mp4", "out.flv", {{"ar", "22050"}}, "flv1", 320, 240, "mp3", 22050, 2},
      {"avi_mpeg4_mp3.avi", "out.mp4", {}, "h264", 160, 120, "aac", 44100, 2},
      {"mp4_h264_aac.mp4",
       "out.3gp",
       {{"s", "176x144"}, {"r", "15"}, {"acodec", "libopencore_amrnb"}, {"ar", "8000"}, {"ac", "1"}, {"ab", "12200"}},
       "h263",
       176,
       144,
       "amr_nb",
       8000,
       1},
      {"flv_flv1_mp3.flv", "out.wmv", {{"vcodec", "wmv2"}, {"acodec", "wmav2"}}, "wmv2", 160, 120, "wmav2", 22050, 2},
      {"3gp_h263_amrnb.3gp", "out.avi", {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ar", "22050"}},
       "mpeg4", 176, 144, "mp3", 22050, 1, false},
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string output = folder.File(c.target);
    {
      TestSession run;
      run.Input(Fixture(c.source));
      run.Output(output, c.options);
      ASSERT_EQ(run.Run(), "");
      EXPECT_TRUE(run.session.CompletedNormally);
    }
    const MediaSummary out = Summarize(output);
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(out.video.codec, c.videoCodec);
    EXPECT_EQ(out.video.width, c.width);
    EXPECT_EQ(out.video.height, c.height);
    EXPECT_EQ(out.audio.codec, c.audioCodec);
    EXPECT_EQ(out.audio.sampleRate, c.sampleRate);
    EXPECT_EQ(out.audio.channels, c.channels);

    // The pictures come back in order, each at the time it had in the
    // source (where the audio is too), the frame rate changed where asked.
    const bool fifteen = std::string(c.target) == "out.3gp";
    const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output, fifteen ? 15.0 : 25.0);
    EXPECT_NEAR(static_cast<double>(pictures.size()), fifteen ? 45 : 75, 2);
    int last = -1, readable = 0;
    for (const fixtures_test::DecodedPicture& picture : pictures) {
      if (picture.counter < 0) continue;
      ++readable;
      EXPECT_GT(picture.counter, last);
      // Within a frame; at 15 fps a picture may stand for up to 25/15 source pictures.
      if (c.timed) {
        EXPECT_NEAR(picture.counter, picture.seconds * 25, fifteen ? 25.0 / 15 + 0.5 : 1.5)
            << "at " << picture.seconds << " s";
      }
      last = picture.counter;
    }
    EXPECT_GT(readable, static_cast<int>(pictures.size()) * 9 / 10);
    EXPECT_GE(last, 72);

    const fixtures_test::DecodedAudio audio = FirstAudio(output);
    EXPECT_NEAR(audio.Seconds(), 3.0, 0.1);
    EXPECT_GT(audio.Rms(), 0.15);
    EXPECT_NEAR(audio.ToneHz(), 440, 15);
    // Encoders of long frames (WMA: 2048 samples) start up to a frame late.
    EXPECT_NEAR(audio.firstSeconds, 0.0, 0.1);
  }
}

TEST_F(TranscodeTest, StartTimeSeeksTheInput) {
  const std::string output = folder.File("from_1_5.avi");
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"), {{"ss", "1.5"}});
  run.Output(output, {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}});
  ASSERT_EQ(run.Run(), "");
  const std::vector<int> counters = PictureCounters(output);
  ASSERT_FALSE(counters.empty());
  EXPECT_GE(counters.front(), 36);
  EXPECT_LE(counters.front(), 38);
  EXPECT_NEAR(static_cast<double>(counters.size()), 38, 2);
  const fixtures_test::DecodedAudio audio = FirstAudio(output);
  EXPECT_NEAR(audio.Seconds(), 1.5, 0.1);
}

TEST_F(TranscodeTest, SecondPassReadsTheLogOfTheFirst) {
  const std::string prefix = folder.File("passlog");
  const std::string log = prefix + "-0.log";
  for (const char* pass : {"1", "2"}) {
    SCOPED_TRACE(pass);
    const std::string output = folder.File(std::string("pass") + pass + ".avi");
    {
      TestSession run;
      run.Input(Fixture("avi_mpeg4_mp3.avi"));
      run.Output(output, {{"vcodec", "mpeg4"}, {"b", "100000"}, {"pass", pass}, {"passlogfile", prefix}, {"an", ""}});
      ASSERT_EQ(run.Run(), "");
    }
    // The statistics of every picture are in the log after the first pass.
    std::ifstream file(log);
    int lines = 0;
    for (std::string line; std::getline(file, line);) lines += line.find("in:") != std::string::npos;
    EXPECT_EQ(lines, 75);
    EXPECT_EQ(PictureCounters(output).size(), 75u);
  }
}

TEST_F(TranscodeTest, DecodeErrorsAreLoggedOrRaised) {
  for (const bool raise : {false, true}) {
    SCOPED_TRACE(raise ? "xerror" : "logged");
    TestSession run;
    if (raise) run.Apply({{"xerror", ""}});
    run.Input(Fixture("corrupted.avi"));
    run.Output(folder.File("damaged.avi"));
    const std::string failure = run.Run();
    const std::vector<std::string> logged = run.LinesStartingWith("Error while decoding stream #0.");
    if (raise) {
      EXPECT_EQ(failure.rfind("Error while decoding stream #0.", 0), 0u) << failure;
      EXPECT_TRUE(logged.empty());
      EXPECT_FALSE(run.session.CompletedNormally);
    } else {
      // The damaged packets are passed over and the conversion goes on.
      EXPECT_EQ(failure, "");
      EXPECT_FALSE(logged.empty());
      EXPECT_TRUE(run.session.CompletedNormally);
      EXPECT_GT(Summarize(folder.File("damaged.avi")).video.packets, 60);
    }
  }
}

TEST_F(TranscodeTest, AudioEndIsNotLost) {
  // 3 s at 44100 Hz is 114.8 MPEG audio layer 2 frames; that encoder only
  // takes whole frames, so the last one is completed with silence.
  const std::string output = folder.File("tone.mp2");
  TestSession run;
  run.Input(Fixture("tone.wav"));
  run.Output(output);
  ASSERT_EQ(run.Run(), "");
  const MediaSummary out = Summarize(output);
  EXPECT_EQ(out.audio.codec, "mp2");
  EXPECT_EQ(out.audio.packets, 115);
  EXPECT_GE(FirstAudio(output).Seconds(), 3.0);
}

TEST_F(TranscodeTest, SubtitlesAreEncodedWithTheirTimes) {
  const std::string output = folder.File("subtitles.mkv");
  {
    TestSession run;
    run.Input(Fixture("mkv_subtitle.mkv"), {{"vn", ""}, {"an", ""}});
    run.Output(output);
    ASSERT_EQ(run.Run(), "");
  }
  const MediaSummary in = Summarize(Fixture("mkv_subtitle.mkv"));
  const MediaSummary out = Summarize(output);
  EXPECT_EQ(out.subtitle.codec, "ass");
  EXPECT_EQ(out.subtitle.packets, 3);
  EXPECT_NEAR(out.subtitle.seconds, in.subtitle.seconds, 0.01);  // first start to last end
}

TEST_F(TranscodeTest, VolumeScalesTheSamples) {
  struct VolumeCase {
    const char* volume;
    double ratio;
  };
  const double original = FirstAudio(Fixture("tone.wav")).Rms();
  ASSERT_GT(original, 0.3);
  for (const VolumeCase& c : {VolumeCase{"128", 0.5}, VolumeCase{"256", 1.0}, VolumeCase{"64", 0.25}}) {
    SCOPED_TRACE(c.volume);
    const std::string output = folder.File(std::string("volume") + c.volume + ".wav");
    TestSession run;
    run.Input(Fixture("tone.wav"));
    run.Output(output, {{"vol", c.volume}});
    ASSERT_EQ(run.Run(), "");
    EXPECT_NEAR(FirstAudio(output).Rms() / original, c.ratio, 0.01);
  }
}

TEST_F(TranscodeTest, CropAndPadShapeThePicture) {
  struct ShapeCase {
    const char* name;
    Options options;
    int width, height;
  };
  const ShapeCase cases[] = {
      {"crop without scaling", {{"cropleft", "16"}, {"cropright", "16"}}, 128, 120},
      {"crop and scale", {{"croptop", "8"}, {"cropbottom", "8"}, {"s", "320x208"}}, 320, 208},
      {"letter box", {{"s", "160x80"}, {"padtop", "20"}, {"padbottom", "20"}}, 160, 120},
      {"pad without scaling", {{"padleft", "8"}, {"padright", "8"}}, 176, 120},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = folder.File("shaped.avi");
    {
      TestSession run;
      run.Input(Fixture("avi_mpeg4_mp3.avi"));
      run.Output(output, [&] {
        Options options = c.options;
        options.emplace_back("vcodec", "mpeg4");
        options.emplace_back("an", "");
        return options;
      }());
      ASSERT_EQ(run.Run(), "");
    }
    const MediaSummary out = Summarize(output);
    EXPECT_EQ(out.video.width, c.width);
    EXPECT_EQ(out.video.height, c.height);
    EXPECT_EQ(out.video.packets, 75);
    fixtures_test::InputPtr input = fixtures_test::OpenMedia(output);
    ASSERT_TRUE(input);
    fixtures_test::VideoReader reader(input.get(), 0);
    fixtures_test::DecodedPicture picture;
    int pictures = 0;
    while (reader.Next(picture)) {
      ++pictures;
      EXPECT_GT(picture.meanLuma, 20);  // a picture, not a black or green frame
    }
    EXPECT_EQ(pictures, 75);
    EXPECT_EQ(reader.Errors(), 0);
  }
}

}  // namespace
