// Applying the job option records to a session (no media needed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "engine/binding/MediaLibraries.h"
#include "engine/component/JobOptionsApply.h"
#include "tests/support/TestSupport.h"

namespace {

class JobOptionsApply : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    session.InitSession();
    InitOutputOptions(output);
  }

  TCustomFFmpeg session;
  TOutputOptions output;
};

TEST_F(JobOptionsApply, DefaultRecordChangesOnlyWhatItAlwaysApplies) {
  ApplyOutputOptions(session, output);
  // The always-applied fields: black padding, the two sync methods, no
  // timestamp copy; everything else keeps the session's defaults.
  EXPECT_EQ(session.PadColor, (std::array<int, 3>{0, 128, 128}));
  EXPECT_EQ(session.AudioSyncMethod, 0);
  EXPECT_EQ(session.VideoSyncMethod, -1);
  EXPECT_FALSE(session.CopyTs);
  EXPECT_EQ(session.AudioChannels, 2);
  EXPECT_EQ(session.AudioSampleRate, 44100);
  EXPECT_EQ(session.AudioVolume, 256);
  EXPECT_EQ(session.RecordingTime, INT64_MAX);
  EXPECT_EQ(session.TotalDuration, -1);
  EXPECT_EQ(session.RecTimestamp, 0);
  EXPECT_EQ(session.Year, 0);
  EXPECT_TRUE(session.VideoCodecName.empty());
  EXPECT_TRUE(session.GenericOptionNames.empty());
  EXPECT_EQ(session.ForcedOutputFormat, nullptr);
  EXPECT_FLOAT_EQ(session.MuxMaxDelay, 0.7f);
  EXPECT_FLOAT_EQ(session.MuxPreload, 0.5f);
}

TEST_F(JobOptionsApply, FieldsOverrideExtOptionLinesThatSetTheSameThing) {
  output.ExtOptions = "async=3\nvsync=2\ntitle=From lines\ncopyts=1\nac=1\nvol=100";
  output.AudioVolume = 512;
  ApplyOutputOptions(session, output);
  EXPECT_EQ(session.AudioSyncMethod, 0);
  EXPECT_EQ(session.VideoSyncMethod, -1);
  EXPECT_FALSE(session.CopyTs);
  EXPECT_EQ(session.AudioVolume, 512);
  // Fields at their "not set" value leave the lines' values alone.
  EXPECT_EQ(session.Title, "From lines");
  EXPECT_EQ(session.AudioChannels, 1);

  TCustomFFmpeg other;
  other.InitSession();
  output.Title = "From the record";
  ApplyOutputOptions(other, output);
  EXPECT_EQ(other.Title, "From the record");
}

TEST_F(JobOptionsApply, CommandLineStyleExtOptionsApplyNothing) {
  output.ExtOptions = "-qscale 5 -bufsize 128\n-title x -ac 1";
  ApplyOutputOptions(session, output);
  EXPECT_EQ(session.VideoQScale, 0);
  EXPECT_TRUE(session.GenericOptionNames.empty());
  EXPECT_TRUE(session.Title.empty());
  EXPECT_EQ(session.AudioChannels, 2);
}

TEST_F(JobOptionsApply, NumericFieldsReachTheSession) {
  output.PacketSize = 2048;
  output.MuxDelay = 0.25f;
  output.MuxPreloadTime = 0.125f;
  output.AudioCodec = "mp2";
  output.AudioVolume = 0;  // silence is a value, not "not set"
  output.AudioChannels = 1;
  output.AudioSampleRate = 22050;
  output.AudioBitrate = 64000;
  output.AudioLanguage = "eng";
  output.AudioSyncMethod = 1;
  output.AudioTag = "abcd";
  output.VideoCodec = "copy";
  output.DisableSubtitle = true;
  output.VideoBitrate = 300000;
  output.GOP = 12;
  output.VideoSyncMethod = 0;
  output.VideoTag = "XVID";
  output.CopyTimestamp = true;
  output.Year = 1999;
  output.Track = 3;
  ApplyOutputOptions(session, output);

  EXPECT_FLOAT_EQ(session.MuxMaxDelay, 0.25f);
  EXPECT_FLOAT_EQ(session.MuxPreload, 0.125f);
  EXPECT_EQ(session.AudioCodecName, "mp2");
  EXPECT_EQ(session.AudioVolume, 0);
  EXPECT_EQ(session.AudioChannels, 1);
  EXPECT_EQ(session.AudioSampleRate, 22050);
  EXPECT_EQ(session.AudioLanguage, "eng");
  EXPECT_EQ(session.AudioSyncMethod, 1);
  EXPECT_EQ(session.AudioCodecTag, 'a' | 'b' << 8 | 'c' << 16 | 'd' << 24);
  EXPECT_EQ(session.VideoStreamCopy, 1);
  EXPECT_EQ(session.SubtitleDisable, 1);
  EXPECT_EQ(session.VideoSyncMethod, 0);
  EXPECT_EQ(session.VideoCodecTag, 'X' | 'V' << 8 | 'I' << 16 | 'D' << 24);
  EXPECT_TRUE(session.CopyTs);
  EXPECT_EQ(session.Year, 1999);
  EXPECT_EQ(session.Track, 3);
  // The generic options by the library's own names: packet size of the
  // muxer, bit rates and the picture group of the codecs.
  int64_t value = 0;
  ASSERT_GE(FF.av_opt_get_int(session.CodecOptions[AVMEDIA_TYPE_VIDEO], "b", 0, &value), 0);
  EXPECT_EQ(value, 300000);
  ASSERT_GE(FF.av_opt_get_int(session.CodecOptions[AVMEDIA_TYPE_AUDIO], "b", 0, &value), 0);
  EXPECT_EQ(value, 64000);
  ASSERT_GE(FF.av_opt_get_int(session.CodecOptions[AVMEDIA_TYPE_VIDEO], "g", 0, &value), 0);
  EXPECT_EQ(value, 12);
  ASSERT_GE(FF.av_opt_get_int(session.FormatOptions, "packetsize", 0, &value), 0);
  EXPECT_EQ(value, 2048);
}

TEST_F(JobOptionsApply, FrameSizeComesBeforeTheCropsThatSubtractFromIt) {
  output.FrameSize = "320x240";
  output.CropTop = 10;
  output.CropLeft = 0;  // zero is a crop like any other
  output.PadBottom = 6;
  ApplyOutputOptions(session, output);
  EXPECT_EQ(session.FrameWidth, 320);
  EXPECT_EQ(session.FrameHeight, 230);
  EXPECT_EQ(session.CropTop, 10);
  EXPECT_EQ(session.PadBottom, 6);
}

TEST_F(JobOptionsApply, RefusedValueStopsTheRestButKeepsWhatCameBefore) {
  output.AudioCodec = "mp2";
  output.VideoCodec = "mpeg4";
  output.FrameSize = "320x240";
  output.CropTop = 3;  // odd
  output.Year = 2001;
  try {
    ApplyOutputOptions(session, output);
    FAIL() << "an odd crop must be refused";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "Top crop size must be a multiple of 2");
  }
  EXPECT_EQ(session.AudioCodecName, "mp2");
  EXPECT_EQ(session.VideoCodecName, "mpeg4");
  EXPECT_EQ(session.Year, 0);

  TOutputOptions unknown;
  unknown.FileFormat = "no_such_muxer";
  EXPECT_THROW(ApplyOutputOptions(session, unknown), FFMpegException);
}

TEST_F(JobOptionsApply, DurationReplacesTheTotalDuration) {
  session.TotalDuration = 60000;  // as an opened 60-second input leaves it
  output.Duration = 30000;
  ApplyOutputOptions(session, output);
  EXPECT_EQ(session.RecordingTime, 30000000);
  EXPECT_EQ(session.TotalDuration, 30000);
}

TEST_F(JobOptionsApply, MetadataArraysEndAtTheirFirstZeroOrTheirSize) {
  output.Title = std::string("Title") + '\0' + "hidden";
  output.Genre = std::string(40, 'g');
  output.Author = std::string(600, 'a');
  ApplyOutputOptions(session, output);
  EXPECT_EQ(session.Title, "Title");
  EXPECT_EQ(session.Genre, std::string(32, 'g'));
  EXPECT_EQ(session.Author, std::string(512, 'a'));
}

TEST_F(JobOptionsApply, TimestampZeroIsNowAndADateIsLocalTime) {
  const int64_t before = time(nullptr);
  output.Timestamp = 0;
  ApplyOutputOptions(session, output);
  EXPECT_GE(session.RecTimestamp, before);
  EXPECT_LE(session.RecTimestamp, time(nullptr));

  // Two hours east of UTC: 2020-01-02 03:04:05 local is 01:04:05 UTC.
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved ? saved : "";
  setenv("TZ", "XST-2", 1);
  tzset();
  TCustomFFmpeg dated;
  dated.InitSession();
  output.Timestamp = 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0;  // 2020-01-02 03:04:05
  ApplyOutputOptions(dated, output);
  if (saved) {
    setenv("TZ", savedZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(dated.RecTimestamp, 1577927045);  // 2020-01-02T01:04:05Z
}

TEST(HookTimeRanges, ParsedKeptAndSortedByEnd) {
  struct Case {
    const char* text;
    std::vector<std::pair<int64_t, int64_t>> ranges;  // microseconds
  };
  const Case cases[] = {
      {"5000-10000,0-2000", {{0, 2000000}, {5000000, 10000000}}},
      {" 100 - 200 , 300-300 ", {{100000, 200000}, {300000, 300000}}},
      {"3000-1000", {}},
      {"abc-def", {}},
      {"4000", {}},                 // no end
      {"-500", {{-1000, 500000}}},  // no start: counted as -1 ms
      {"1-2,,3-4", {{1000, 2000}, {3000, 4000}}},
      {"", {}},
      {"1-99999999999999999999", {}},  // an end beyond 64 bits is unreadable
  };
  for (const Case& c : cases) {
    std::vector<std::pair<int64_t, int64_t>> got;
    for (const THookRange& range : ParseHookTimeRanges(c.text)) got.emplace_back(range.Start, range.End);
    EXPECT_EQ(got, c.ranges) << '"' << c.text << '"';
  }
}

TEST(PadColor, SystemColoursResolveToBlackAndPlainColoursPass) {
  EXPECT_EQ(ColorToRGB(0), 0);
  EXPECT_EQ(ColorToRGB(0x00FF8040), 0x00FF8040);
  EXPECT_EQ(ColorToRGB(static_cast<int32_t>(0xFF00000F)), 0);
}

TEST(InputOptions, StartTimeProgramAndForcedFormat) {
  testsupport::LoadLibrariesOrFail();
  TCustomFFmpeg session;
  session.InitSession();
  TInputOptions input;
  input.StartTime = 1500;
  input.ProgramID = 0;
  input.FileFormat = "avi";
  input.ExtOptions = "itsoffset=2";
  ApplyInputOptions(session, input);
  EXPECT_EQ(session.StartTime, 1500000);
  EXPECT_EQ(session.ProgramId, 0);
  ASSERT_NE(session.ForcedInputFormat, nullptr);
  EXPECT_STREQ(session.ForcedInputFormat->name, "avi");
  EXPECT_EQ(session.InputTsOffset, 2000000);

  TCustomFFmpeg untouched;
  untouched.InitSession();
  TInputOptions defaults;
  ApplyInputOptions(untouched, defaults);
  EXPECT_EQ(untouched.StartTime, 0);
  EXPECT_EQ(untouched.ProgramId, 0);
  EXPECT_EQ(untouched.ForcedInputFormat, nullptr);

  TInputOptions unknown;
  unknown.FileFormat = "no_such_demuxer";
  try {
    ApplyInputOptions(untouched, unknown);
    FAIL() << "an unknown demuxer must be refused";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown input format: no_such_demuxer");
  }
}

}  // namespace
