#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

#include "engine/binding/EngineError.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/probe/AVProbe.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::Fixture;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
  return lines;
}

class ProbeInfoTest : public ::testing::Test {
protected:
  void SetUp() override { testsupport::LoadLibrariesOrFail(); }
};

TEST_F(ProbeInfoTest, DescribesAnAviWithOneLinePerStream) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("avi_mpeg4_mp3.avi"))) << probe.LastError();
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(probe.ProgramCount(), 0);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.SubtitleStreamCount(), 0);
  EXPECT_EQ(probe.FirstSubtitleStream(), -1);
  EXPECT_EQ(probe.GetFormatName(), "avi");

  const std::vector<std::string> lines = Lines(probe.GetInfoText());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0], "File Name: " + Fixture("avi_mpeg4_mp3.avi"));
  EXPECT_EQ(lines[1], "Format Name: avi");
  EXPECT_EQ(lines[2], "Format Long Name: AVI (Audio Video Interleaved)");
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(File Size: \d+\.\d\d KB)"))) << lines[3];
  // The container's start time is 0 and its length about three seconds.
  EXPECT_EQ(lines[4], "StartTime: 0.000000");
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(Duration: 00:00:0[23]\.\d\d\d)"))) << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(Bit Rate: \d+ Kbps)"))) << lines[6];

  const std::string video = lines[lines.size() - 2], audio = lines.back();
  const int videoIndex = probe.FirstVideoStream(), audioIndex = probe.FirstAudioStream();
  const std::string& first = videoIndex == 0 ? video : audio;
  EXPECT_EQ(first.rfind("Stream #0, ", 0), 0u) << first;
  EXPECT_TRUE(std::regex_search(videoIndex == 0 ? video : audio, std::regex("^Stream #0")));
  EXPECT_TRUE(std::regex_search(
      lines[lines.size() - 2 + videoIndex],
      std::regex(R"(: Video: mpeg4.*, 160x120.*, 25\.00 tb\(r\), StartTime: 0\.000000, Duration: 00:00:0)")))
      << lines[lines.size() - 2 + videoIndex];
  EXPECT_TRUE(
      std::regex_search(lines[lines.size() - 2 + audioIndex], std::regex(R"(: Audio: mp3.*44100 Hz)")))
      << lines[lines.size() - 2 + audioIndex];
}

TEST_F(ProbeInfoTest, ProgramsGroupTheirStreams) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("ts_two_programs.ts"))) << probe.LastError();
  ASSERT_EQ(probe.ProgramCount(), 2);
  const std::vector<std::string> lines = Lines(probe.GetInfoText());
  std::vector<size_t> programLines;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind("Program ", 0) == 0) programLines.push_back(i);
  ASSERT_EQ(programLines.size(), 2u);
  // Each program line names the service and its provider, then lists the
  // program's own streams; no stream is listed twice.
  std::set<std::string> listed;
  for (size_t p = 0; p < 2; ++p) {
    EXPECT_TRUE(std::regex_match(lines[programLines[p]], std::regex(R"(Program \d+ [^@]+@.+)")))
        << lines[programLines[p]];
    const size_t end = p == 0 ? programLines[1] : lines.size();
    for (size_t i = programLines[p] + 1; i < end; ++i) {
      std::smatch match;
      ASSERT_TRUE(
          std::regex_search(lines[i], match, std::regex(R"(^Stream #(\d+)\[0x[0-9a-f]+\], 1/90000: )")))
          << lines[i];
      EXPECT_TRUE(listed.insert(match[1]).second) << lines[i];
      // MPEG-TS streams start after the muxer's initial delay.
      EXPECT_TRUE(std::regex_search(lines[i], std::regex(R"(, StartTime: \d+\.\d{6}, Duration: )")))
          << lines[i];
    }
    EXPECT_GE(end - programLines[p] - 1, 2u) << "video and audio of program " << p;
  }
  EXPECT_EQ(listed.size(), static_cast<size_t>(probe.StreamCount()));
}

TEST_F(ProbeInfoTest, TagsAndTheCreationTimeAreShown) {
  setenv("TZ", "UTC", 1);
  tzset();
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("tagged.mp4"))) << probe.LastError();
  const std::string text = probe.GetInfoText();
  for (const char* line : {"Time Stamp: 2020-01-02 03:04:05\r\n", "Title: Fixture Title\r\n",
                           "Author: Fixture Artist\r\n", "Comment: Fixture Comment\r\n",
                           "Album: Fixture Album\r\n", "Genre: Test\r\n", "Year: 2001\r\n", "Track: #7\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing in\n" << text;
  EXPECT_LT(text.find("Title:"), text.find("Author:"));
  EXPECT_LT(text.find("Genre:"), text.find("Year:"));
  EXPECT_LT(text.find("Year:"), text.find("Track:"));

  TFormatInfo info;
  probe.GetFormatInfo(info);
  EXPECT_EQ(info.Timestamp, 1577934245);
  EXPECT_EQ(info.Year, 2001);
  EXPECT_EQ(info.Track, 7);
}

TEST_F(ProbeInfoTest, StreamRecordsOfAnMp4) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("mp4_h264_aac.mp4"))) << probe.LastError();
  TVideoStreamInfo video;
  probe.GetVideoStreamInfo(-1, video);
  EXPECT_EQ(video.CodecName, "h264");
  EXPECT_EQ(video.Width, 320);
  EXPECT_EQ(video.Height, 240);
  EXPECT_NEAR(video.DisplayAspect, 4.0 / 3.0, 1e-4);
  EXPECT_EQ(video.FrameRateNum * 1.0 / video.FrameRateDen, 25.0);
  EXPECT_NEAR(video.DurationUs / 1e6, 3.0, 0.2);
  EXPECT_EQ(video.StartTimeUs, video.StartTime == AV_NOPTS_VALUE ? -1 : video.StartTimeUs);

  TAudioStreamInfo audio;
  probe.GetAudioStreamInfo(-1, audio);
  EXPECT_EQ(audio.CodecName, "aac");
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(audio.Channels, 2);
  EXPECT_NEAR(audio.DurationUs / 1e6, 3.0, 0.2);

  // The wrong kind of stream leaves the record reset and says why.
  testsupport::LogCapture log;
  TAudioStreamInfo wrong;
  probe.GetAudioStreamInfo(probe.FirstVideoStream(), wrong);
  EXPECT_EQ(wrong.SampleRate, -1);
  EXPECT_TRUE(log.Contains(FormatText("stream #%d is not audio stream.\n", probe.FirstVideoStream())));
  probe.GetVideoStreamInfo(7, video);
  EXPECT_EQ(video.Width, -1);
  EXPECT_TRUE(log.Contains("stream index #7 is invalid.\n"));
  EXPECT_FALSE(probe.IsVideoStream(7));
  EXPECT_TRUE(probe.IsVideoStream(probe.FirstVideoStream()));
  EXPECT_TRUE(probe.IsAudioStream(probe.FirstAudioStream()));
}

TEST_F(ProbeInfoTest, AudioOnlyFileHasNoVideoRecord) {
  TAVProbe probe;
  ASSERT_TRUE(probe.OpenFile(Fixture("tone.wav"))) << probe.LastError();
  testsupport::LogCapture log;
  TVideoStreamInfo video;
  video.Width = 99;
  probe.GetVideoStreamInfo(-1, video);
  EXPECT_TRUE(log.Contains("no video stream.\n"));
  EXPECT_EQ(video.Width, -1);
  EXPECT_EQ(video.Height, -1);
  EXPECT_EQ(video.DurationUs, -1);
  EXPECT_EQ(video.DisplayAspect, -1.0f);
  EXPECT_EQ(video.CodecName, "");
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.FirstVideoStream(), -1);
}

TEST_F(ProbeInfoTest, FailedOpensGiveTheirMessageAndLeaveNoFile) {
  testsupport::TempFolder folder;
  struct Case {
    std::string file, format, message;
  };
  const Case cases[] = {
      {folder.File("missing.avi"), "", folder.File("missing.avi") + ": no such file or directory"},
      {Fixture("garbage.avi"), "", Fixture("garbage.avi") + ": Unknown format"},
      {Fixture("truncated.mp4"), "", Fixture("truncated.mp4") + ": Error while parsing header"},
      {Fixture("avi_mpeg4_mp3.avi"), "no_such_format", "Unknown input format: no_such_format"},
  };
  for (const Case& c : cases) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(Fixture("tone.wav")));
    EXPECT_FALSE(probe.OpenFile(c.file, c.format)) << c.file;
    EXPECT_EQ(probe.LastError(), c.message);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.Context(), nullptr);
    EXPECT_EQ(probe.GetInfoText(), "");
  }
}

TEST_F(ProbeInfoTest, DamagedFilesNeverCrashTheDescription) {
  for (const char* name : {"corrupted.avi", "truncated.avi", "empty.avi"}) {
    TAVProbe probe;
    if (probe.OpenFile(Fixture(name))) {
      EXPECT_NE(probe.GetInfoText().find("File Name: "), std::string::npos) << name;
    } else {
      EXPECT_FALSE(probe.LastError().empty()) << name;
    }
  }
}

TEST_F(ProbeInfoTest, WithoutAFileGettersLogAndReturnDefaults) {
  TAVProbe probe;
  testsupport::LogCapture log;
  TFormatInfo info;
  probe.GetFormatInfo(info);
  EXPECT_EQ(info.Duration, -1);
  EXPECT_EQ(probe.GetFileSize(), -1);
  EXPECT_EQ(probe.GetFileName(), "");
  EXPECT_FALSE(probe.IsAudioStream(0));
  EXPECT_TRUE(log.Contains("file not loaded.\n"));
  EXPECT_EQ(probe.StreamCount(), -1);
  EXPECT_EQ(probe.FirstAudioStream(), -1);
}

TEST_F(ProbeInfoTest, AttachedContextIsDescribedButNeverClosed) {
  TAVProbe owner;
  ASSERT_TRUE(owner.OpenFile(Fixture("avi_mpeg4_mp3.avi")));
  {
    TAVProbe attached;
    attached.AttachContext(owner.Context());
    EXPECT_EQ(attached.StreamCount(), 2);
    EXPECT_EQ(attached.GetFormatName(), "avi");
  }
  // The owner's context is still open after the attached probe is gone.
  EXPECT_EQ(owner.GetFormatName(), "avi");
}

TEST_F(ProbeInfoTest, OpeningRequiresTheLibraries) {
  UnloadMediaLibraries();
  TAVProbe probe;
  try {
    probe.OpenFile(Fixture("tone.wav"));
    FAIL() << "expected an exception";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
  }
}

TEST(DurationTextTest, HoursDoNotWrap) {
  EXPECT_EQ(FormatDurationText(65500000), "00:01:05.500");
  EXPECT_EQ(FormatDurationText(100LL * 3600 * 1000000), "100:00:00.000");
  EXPECT_EQ(FormatDurationText(3000000), "00:00:03.000");
  EXPECT_EQ(FormatDurationText(0), "00:00:00.000");
}

}  // namespace
