// Stream copy end to end, and the loop's ways of ending: the recording time,
// the shortest input, a stop request.
#include <cmath>
#include <filesystem>

#include "tests/transcode/TranscodeTesting.h"

using testsupport::Fixture;

namespace {

struct CopyCase {
  const char* source;
  const char* target;
  const char* container;  // demuxer name of the output
};

TEST_F(TranscodeTest, StreamCopyKeepsEveryPacketAndTheTiming) {
  const CopyCase cases[] = {
      {"avi_mpeg4_mp3.avi", "copy.mkv", "matroska,webm"},
      {"mp4_h264_aac.mp4", "copy.mov", "mov,mp4,m4a,3gp,3g2,mj2"},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string output = folder.File(c.target);
    {
      TestSession run;
      run.Input(Fixture(c.source));
      run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
      ASSERT_EQ(run.Run(), "");
      EXPECT_TRUE(run.session.CompletedNormally);
      EXPECT_TRUE(run.session.OpenEncoders.empty());
      EXPECT_TRUE(run.session.OpenDecoders.empty());
      EXPECT_GT(run.session.VideoBytes, 0);
      EXPECT_GT(run.session.AudioBytes, 0);
    }
    const MediaSummary in = Summarize(Fixture(c.source));
    const MediaSummary out = Summarize(output);
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(out.format, c.container);
    EXPECT_EQ(out.video.codec, in.video.codec);
    EXPECT_EQ(out.audio.codec, in.audio.codec);
    EXPECT_EQ(out.video.width, in.video.width);
    EXPECT_EQ(out.video.packets, in.video.packets);
    EXPECT_EQ(out.video.keyPackets, in.video.keyPackets);
    EXPECT_EQ(out.audio.packets, in.audio.packets);
    EXPECT_NEAR(out.video.seconds, in.video.seconds, 1.0 / 25 + 0.002);
    EXPECT_NEAR(out.audio.seconds, in.audio.seconds, 0.03);

    // Every picture decodes, in order.
    const std::vector<int> counters = PictureCounters(output);
    ASSERT_EQ(counters.size(), 75u);
    for (size_t i = 0; i < counters.size(); ++i) ASSERT_EQ(counters[i], static_cast<int>(i)) << "picture " << i;
    const fixtures_test::DecodedAudio audio = FirstAudio(output);
    EXPECT_NEAR(audio.ToneHz(), 440, 10);
  }
}

TEST_F(TranscodeTest, StreamCopyStartsAtTheFirstKeyFrame) {
  // The fixture has a key frame every 12 pictures: dropping 3 packets leaves
  // 9 pictures that cannot be decoded before the next key frame.
  const std::string source = folder.File("late_key.mkv");
  int videoSeen = 0;
  Remux(Fixture("avi_mpeg4_mp3.avi"), source, [&](AVPacket&, const AVStream& stream) {
    return stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO || videoSeen++ >= 3;
  });
  const MediaSummary in = Summarize(source);
  ASSERT_FALSE(in.video.firstIsKey);

  const std::string output = folder.File("from_key.mkv");
  TestSession run;
  run.Input(source);
  run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
  ASSERT_EQ(run.Run(), "");
  const MediaSummary out = Summarize(output);
  EXPECT_TRUE(out.video.firstIsKey);
  EXPECT_EQ(out.video.packets, in.video.packets - 9);
  EXPECT_EQ(out.audio.packets, in.audio.packets);
  const std::vector<int> counters = PictureCounters(output);
  ASSERT_FALSE(counters.empty());
  EXPECT_EQ(counters.front(), 12);
}

TEST_F(TranscodeTest, BitstreamFiltersWorkOnTheCopiedPackets) {
  // MP4 keeps H.264 with length prefixes; the filter rewrites the packets
  // with start codes.
  for (const bool filtered : {true, false}) {
    SCOPED_TRACE(filtered ? "filtered" : "as stored");
    const std::string output = folder.File(filtered ? "annexb.avi" : "prefixed.avi");
    {
      TestSession run;
      run.Input(Fixture("mp4_h264_aac.mp4"));
      if (filtered) run.Apply({{"vbsf", "h264_mp4toannexb"}});
      run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
      ASSERT_EQ(run.Run(), "");
    }
    fixtures_test::InputPtr input = fixtures_test::OpenMedia(output);
    ASSERT_TRUE(input);
    fixtures_test::PacketPtr packet(av_packet_alloc());
    int videoPackets = 0;
    bool startCodes = true;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
      if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        ++videoPackets;
        const uint8_t* data = packet->data;
        startCodes = startCodes && packet->size > 4 && data[0] == 0 && data[1] == 0 &&
                     (data[2] == 1 || (data[2] == 0 && data[3] == 1));
      }
      av_packet_unref(packet.get());
    }
    EXPECT_EQ(videoPackets, 75);
    EXPECT_EQ(startCodes, filtered);
  }
}

TEST_F(TranscodeTest, LimitsEndTheCopyEarly) {
  struct LimitCase {
    const char* name;
    const char* target;
    Options options;
    double seconds;     // of video and audio
    int videoPackets;   // -1: not checked
    int64_t maxBytes;   // -1: not checked
    const char* source = "avi_mpeg4_mp3.avi";
  };
  const LimitCase cases[] = {
      {"recording time", "limited.mkv", {{"t", "1"}}, 1.0, -1, -1},
      // Matroska holds back whole clusters: AVI shows the written size.
      {"file size", "limited.avi", {{"fs", "40000"}}, -1, -1, 40000 + 15000},
      {"video frames", "limited.mkv", {{"vframes", "30"}}, 1.2, 30, -1},
      // Matroska counts in milliseconds: the copy's clock is its written
      // timestamps, not its pictures times the source's time base.
      {"recording time from Matroska", "limited.mkv", {{"t", "1"}, {"sn", ""}}, 1.0, -1, -1, "mkv_subtitle.mkv"},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = folder.File(c.target);
    {
      TestSession run;
      run.Input(Fixture(c.source));
      Options options = {{"vcodec", "copy"}, {"acodec", "copy"}};
      options.insert(options.end(), c.options.begin(), c.options.end());
      run.Output(output, options);
      ASSERT_EQ(run.Run(), "");
      EXPECT_TRUE(run.session.CompletedNormally);
    }
    const MediaSummary out = Summarize(output);
    if (c.seconds > 0) {
      EXPECT_NEAR(out.video.seconds, c.seconds, 0.1);
      EXPECT_NEAR(out.audio.seconds, c.seconds, 0.1);
    }
    if (c.videoPackets >= 0) {
      EXPECT_EQ(out.video.packets, c.videoPackets);
    }
    if (c.maxBytes >= 0) {
      const int64_t size = static_cast<int64_t>(std::filesystem::file_size(output));
      EXPECT_GT(size, 40000);
      EXPECT_LT(size, c.maxBytes);
      EXPECT_LT(out.video.seconds, 2.5);
    }
  }
}

TEST_F(TranscodeTest, ShortestEndsWithTheShorterInput) {
  fixtures::MediaSpec tone;
  tone.muxer = "wav";
  tone.audioCodec = "pcm_s16le";
  tone.seconds = 1.0;
  const std::string shortAudio = folder.File("short.wav");
  ASSERT_TRUE(fixtures::WriteMedia(shortAudio, tone));

  for (const bool shortest : {true, false}) {
    SCOPED_TRACE(shortest ? "shortest" : "longest");
    const std::string output = folder.File(shortest ? "shortest.mkv" : "longest.mkv");
    TestSession run;
    run.Input(Fixture("video_only.avi"));
    run.Input(shortAudio);
    if (shortest) run.Apply({{"shortest", ""}});
    run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
    ASSERT_EQ(run.Run(), "");
    const MediaSummary out = Summarize(output);
    EXPECT_NEAR(out.audio.seconds, 1.0, 0.05);
    EXPECT_NEAR(out.video.seconds, shortest ? 1.0 : 3.0, shortest ? 0.25 : 0.05);
  }
}

TEST_F(TranscodeTest, StopRequestEndsTheLoopAndStillWritesTheTrailer) {
  const std::string output = folder.File("stopped.mkv");
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"));
  run.Output(output, {{"vcodec", "copy"}, {"acodec", "copy"}});
  int iterations = 0;
  run.session.PauseGate = [&] {
    if (++iterations == 40) run.session.StopRequested = true;
  };
  ASSERT_EQ(run.Run(), "");
  EXPECT_EQ(iterations, 40);
  EXPECT_FALSE(run.session.CompletedNormally);

  // The trailer makes the cut file whole: it opens and its pictures decode.
  const MediaSummary out = Summarize(output);
  ASSERT_TRUE(out.opened);
  EXPECT_GT(out.video.packets, 5);
  EXPECT_LT(out.video.packets, 75);
  const std::vector<int> counters = PictureCounters(output);
  EXPECT_EQ(static_cast<int>(counters.size()), out.video.packets);
  for (size_t i = 0; i < counters.size(); ++i) EXPECT_EQ(counters[i], static_cast<int>(i));
}

}  // namespace
