// Timestamp corrections of the main loop: jumps in an input's timestamps,
// per-stream timestamp scales.
#include <cstdio>

#include "tests/transcode/TranscodeTesting.h"

using testsupport::Fixture;

namespace {

TEST_F(TranscodeTest, ForwardJumpOfTheTimestampsIsTakenOut) {
  // From 1.5 s on, every packet of the file carries a time 20 s later.
  const std::string jumped = folder.File("jump.mkv");
  Remux(Fixture("avi_mpeg4_mp3.avi"), jumped, [](AVPacket& packet, const AVStream& stream) {
    const int64_t jump = av_rescale_q(20, AVRational{1, 1}, stream.time_base);
    const int64_t from = av_rescale_q(3, AVRational{1, 2}, stream.time_base);
    if (packet.dts != AV_NOPTS_VALUE && packet.dts >= from) {
      packet.dts += jump;
      if (packet.pts != AV_NOPTS_VALUE) packet.pts += jump;
    }
    return true;
  });
  ASSERT_NEAR(Summarize(jumped).video.seconds, 23.0, 0.1);

  for (const bool copyTimestamps : {false, true}) {
    SCOPED_TRACE(copyTimestamps ? "copyts" : "corrected");
    const std::string output = folder.File(copyTimestamps ? "kept.mkv" : "corrected.mkv");
    TestSession run;
    if (copyTimestamps) run.Apply({{"copyts", ""}});
    run.Input(jumped);
    run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
    run.session.Verbose = 3;
    ASSERT_EQ(run.Run(), "");
    const MediaSummary out = Summarize(output);
    EXPECT_EQ(out.video.packets, 75);
    EXPECT_NEAR(out.video.seconds, copyTimestamps ? 23.0 : 3.0, 0.1);
    EXPECT_NEAR(out.audio.seconds, copyTimestamps ? 23.0 : 3.0, 0.1);
    const std::vector<std::string> notes = run.LinesStartingWith("timestamp discontinuity ");
    if (copyTimestamps) {
      EXPECT_TRUE(notes.empty());
    } else {
      // One jump, noticed once: by the stream whose packet crosses it first.
      ASSERT_EQ(notes.size(), 1u);
      long long delta = 0, offset = 0;
      ASSERT_EQ(std::sscanf(notes[0].c_str(), "timestamp discontinuity %lld, new offset= %lld", &delta, &offset), 2)
          << notes[0];
      EXPECT_NEAR(static_cast<double>(delta), 20e6, 50e3);
      EXPECT_EQ(offset, -delta);  // the file's offset was 0

    }
  }
}

TEST_F(TranscodeTest, TimestampScaleAppliesToItsStream) {
  const std::string output = folder.File("scaled.mkv");
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"), {{"itsscale", "0:0.5"}});
  run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
  ASSERT_EQ(run.Run(), "");
  const MediaSummary out = Summarize(output);
  EXPECT_EQ(out.video.packets, 75);
  EXPECT_NEAR(out.video.seconds, 1.5, 0.05);  // twice as fast
  EXPECT_NEAR(out.audio.seconds, 3.0, 0.05);  // untouched
}

}  // namespace
