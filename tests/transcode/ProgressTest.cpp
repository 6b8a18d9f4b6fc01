// Progress reports: the values a progress handler receives, the text line
// and the final summary when no handler is set, the statistics file.
#include <fstream>
#include <regex>

#include "tests/transcode/TranscodeTesting.h"

using testsupport::Fixture;

namespace {

struct Report {
  int frameNumber, fps, durationMs;
  float quality, bitRate;
  int64_t size;
  int totalMs;
};

std::vector<Report> Collect(TestSession& run) {
  std::vector<Report> reports;
  run.session.ProgressIntervalUs = 0;  // a report after every packet
  run.session.ProgressHandler = [&reports](TCustomFFmpeg&, int frameNumber, int fps, int durationMs, float quality,
                                           float bitRate, int64_t size, int totalMs) {
    reports.push_back({frameNumber, fps, durationMs, quality, bitRate, size, totalMs});
  };
  EXPECT_EQ(run.Run(), "");
  return reports;
}

TEST_F(TranscodeTest, ProgressHandlerSeesTheConversionAdvance) {
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"));
  run.Output(folder.File("progress.avi"), {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"qscale", "5"}});
  const std::vector<Report> reports = Collect(run);
  ASSERT_GT(reports.size(), 10u);
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GE(reports[i].frameNumber, reports[i - 1].frameNumber);
    EXPECT_GE(reports[i].durationMs, reports[i - 1].durationMs);
    EXPECT_GE(reports[i].size, reports[i - 1].size);
  }
  const Report& last = reports.back();
  EXPECT_EQ(last.frameNumber, 75);
  EXPECT_NEAR(last.durationMs, 3000, 100);
  EXPECT_EQ(last.totalMs, run.session.TotalDuration);
  EXPECT_NEAR(last.quality, 5.0f, 0.01f);  // the fixed quantiser, read back from the encoder
  EXPECT_GE(last.fps, 0);
  EXPECT_GT(last.bitRate, 0.0f);
  EXPECT_NEAR(last.bitRate, last.size * 8.0 / (last.durationMs / 1000.0) / 1000, last.bitRate * 0.01);
  EXPECT_GT(reports.front().frameNumber, 0);  // nothing is reported before the first picture
  EXPECT_LT(reports.front().frameNumber, 75);
  // The final summary is logged even with a handler; the progress lines are not.
  EXPECT_TRUE(run.LinesStartingWith("frame=").empty());
  EXPECT_EQ(run.LinesStartingWith("video:").size(), 1u);
}

TEST_F(TranscodeTest, ProgressTimeStaysSoundWhileTheEncoderHoldsPictures) {
  // The H.264 encoder takes many pictures before it gives its first packet:
  // reports in that time have pictures but no output time yet.
  TestSession run;
  run.Input(Fixture("video_only.avi"));
  run.Output(folder.File("delayed.mp4"));
  const std::vector<Report> reports = Collect(run);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().durationMs, 10);  // no time yet: the 0.01 s floor
  int previous = 0;
  for (const Report& report : reports) {
    EXPECT_GE(report.durationMs, previous);
    EXPECT_LE(report.durationMs, 3100);
    previous = report.durationMs;
  }
  EXPECT_EQ(reports.back().frameNumber, 75);
}

TEST_F(TranscodeTest, AudioOnlyProgressHasNoPictureValues) {
  TestSession run;
  run.Input(Fixture("tone.wav"));
  run.Output(folder.File("progress.mp3"));
  const std::vector<Report> reports = Collect(run);
  ASSERT_GT(reports.size(), 2u);
  for (const Report& report : reports) {
    EXPECT_EQ(report.frameNumber, -1);
    EXPECT_EQ(report.fps, -1);
    EXPECT_EQ(report.quality, -1.0f);
  }
  EXPECT_GT(reports.back().size, reports.front().size);
  EXPECT_GT(reports.back().durationMs, reports.front().durationMs);
  EXPECT_NEAR(reports.back().durationMs, 3000, 100);
}

TEST_F(TranscodeTest, WithoutHandlerTheReportIsLogged) {
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"));
  run.Output(folder.File("logged.mkv"), {{"vcodec", "copy"}, {"acodec", "copy"}});
  run.session.ProgressIntervalUs = 0;
  ASSERT_EQ(run.Run(), "");
  const std::vector<std::string> lines = run.LinesStartingWith("frame=");
  ASSERT_GT(lines.size(), 2u);
  const std::regex progress(
      R"(frame= *\d+ fps= *\d+ q=-1\.0 L?size= *\d+kB time=\d+\.\d\d bitrate= *\d+\.\dkbits/s)");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, progress)) << line;
  EXPECT_EQ(lines.back().find("frame=   75 "), 0u) << lines.back();
  EXPECT_NE(lines.back().find(" L"), std::string::npos) << "the final report is marked";

  const std::vector<std::string> summary = run.LinesStartingWith("video:");
  ASSERT_EQ(summary.size(), 1u);
  const std::regex summaryFormat(
      R"(video:\d+kB audio:\d+kB global headers:\d+kB muxing overhead -?\d+\.\d{6}%\r\n)");
  EXPECT_TRUE(std::regex_match(summary[0], summaryFormat)) << summary[0];
}

TEST_F(TranscodeTest, QuietSessionLogsOnlyTheFinalReport) {
  TestSession run;
  run.Input(Fixture("avi_mpeg4_mp3.avi"));
  run.Output(folder.File("quiet.mkv"), {{"vcodec", "copy"}, {"acodec", "copy"}});
  run.session.Verbose = 0;
  run.session.ProgressIntervalUs = 0;
  ASSERT_EQ(run.Run(), "");
  const std::vector<std::string> lines = run.LinesStartingWith("frame=");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" L"), std::string::npos);
}

TEST_F(TranscodeTest, SummaryWithoutCountedBytesSaysTheOverheadIsUnknown) {
  // Subtitles are not counted as audio or video.
  TestSession run;
  run.Input(Fixture("mkv_subtitle.mkv"), {{"vn", ""}, {"an", ""}});
  run.Output(folder.File("subtitles.mkv"), {{"scodec", "copy"}});
  ASSERT_EQ(run.Run(), "");
  const std::vector<std::string> summary = run.LinesStartingWith("video:");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0], "video:0kB audio:0kB global headers:0kB muxing overhead unknown\r\n");
  EXPECT_EQ(Summarize(folder.File("subtitles.mkv")).subtitle.packets, 3);
}

TEST_F(TranscodeTest, VideoStatisticsFileHasALinePerPicture) {
  const std::string stats = folder.File("vstats.log");
  {
    TestSession run;
    run.Input(Fixture("avi_mpeg4_mp3.avi"));
    run.Output(folder.File("stats.avi"), {{"vcodec", "mpeg4"}, {"qscale", "4"}, {"vstats_file", stats}});
    ASSERT_EQ(run.Run(), "");
  }  // the session closes the file when it is released
  std::ifstream file(stats);
  std::string line;
  int lines = 0;
  const std::regex format(
      R"(frame= +\d+ q= 4\.0 f_size= +\d+ s_size= +\d+kB time= \d+\.\d{3} br= +\d+\.\dkbits/s avg_br= +\d+\.\dkbits/s type= [IPB])");
  while (std::getline(file, line)) {
    ++lines;
    EXPECT_TRUE(std::regex_match(line, format)) << line;
  }
  EXPECT_EQ(lines, 75);
}

}  // namespace
