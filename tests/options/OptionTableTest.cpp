// The session's option table: values each option accepts and the field it
// sets, the message of every refusal, and the text form of option blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/ProgramFolder.h"
#include "engine/session/CustomFFmpeg.h"
#include "tests/support/TestSupport.h"

namespace {

class OptionTable : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    session.InitSession();
    session.LogHandler = [this](TCustomFFmpeg&, int level, const std::string& text) {
      logLines.push_back(std::to_string(level) + ":" + text);
    };
  }

  std::string Joined() const {
    std::string all;
    for (const std::string& line : logLines) all += line + "\n";
    return all;
  }

  int64_t Generic(int type, const char* name) {
    int64_t value = 0;
    EXPECT_GE(FF.av_opt_get_int(session.CodecOptions[type], name, 0, &value), 0) << name;
    return value;
  }

  TCustomFFmpeg session;
  std::vector<std::string> logLines;
};

std::string Numbers(int count, int value = 16) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(value + i % 8);
  return text;
}

struct FailingCase {
  std::vector<std::pair<std::string, std::string>> before;  // options applied first
  std::string name, value, message;
};

TEST_F(OptionTable, EveryRefusalCarriesItsMessage) {
  const std::string vertical =
      "Vertical crop dimensions are outside the range of the original image.\n"
      "Remember to crop first and scale second.";
  const std::string horizontal =
      "Horizontal crop dimensions are outside the range of the original image.\n"
      "Remember to crop first and scale second.";
  const std::vector<FailingCase> cases = {
      {{}, "croptop", "10", vertical},  // no picture size yet
      {{}, "cropleft", "10", horizontal},
      {{{"s", "320x240"}}, "cropbottom", "240", vertical},
      {{{"s", "320x240"}}, "cropright", "320", horizontal},
      {{{"s", "320x240"}}, "croptop", "3", "Top crop size must be a multiple of 2"},
      {{{"s", "320x240"}}, "cropbottom", "5", "Bottom crop size must be a multiple of 2"},
      {{{"s", "320x240"}}, "cropleft", "7", "Left crop size must be a multiple of 2"},
      {{{"s", "320x240"}}, "cropright", "9", "Right crop size must be a multiple of 2"},
      {{}, "padtop", "3", "Top pad size must be a multiple of 2"},
      {{}, "padbottom", "1", "Bottom pad size must be a multiple of 2"},
      {{}, "padleft", "5", "Left pad size must be a multiple of 2"},
      {{}, "padright", "11", "Right pad size must be a multiple of 2"},
      {{}, "s", "321x240", "Frame size must be a multiple of 2"},
      {{}, "s", "320x241", "Frame size must be a multiple of 2"},
      {{}, "s", "abc", "Incorrect frame size"},
      {{}, "r", "abc", "Incorrect frame rate"},
      {{}, "r", "0", "Incorrect frame rate"},
      {{}, "aspect", "4:0", "Incorrect aspect ratio specification."},
      {{}, "aspect", "abc", "Incorrect aspect ratio specification."},
      {{}, "aspect", "-4:3", "Incorrect aspect ratio specification."},
      {{}, "qscale", "0", "qscale must be > 0.0 and <= 255"},
      {{}, "qscale", "256", "qscale must be > 0.0 and <= 255"},
      {{}, "qscale", "-3", "qscale must be > 0.0 and <= 255"},
      {{}, "qscale", "abc", "'abc' is not a valid floating point value"},
      {{}, "qscale", "nan", "'nan' is not a valid floating point value"},
      {{}, "vframes", "abc", "'abc' is not a valid integer value"},
      {{}, "vframes", "1.5", "'1.5' is not a valid integer value"},
      {{}, "vframes", "99999999999", "'99999999999' is not a valid integer value"},
      {{}, "fs", "12x", "'12x' is not a valid integer value"},
      {{}, "muxdelay", "", "'' is not a valid floating point value"},
      {{}, "itsscale", "20:1.5", "stream index over MAX_STREAMS(20)"},
      {{}, "itsscale", "-1:1.5", "stream index over MAX_STREAMS(20)"},
      {{}, "intra_matrix", Numbers(63), "Syntax error in matrix \"" + Numbers(63) + "\" at coeff 62"},
      {{},
       "inter_matrix",
       "8,0," + Numbers(62),
       "Syntax error in matrix \"8,0," + Numbers(62) + "\" at coeff 1"},
      {{}, "pass", "3", "pass number can be only 1 or 2"},
      {{}, "pass", "0", "pass number can be only 1 or 2"},
      {{}, "threads", "2", "TODO: option - threads"},
      {{}, "threads", "", "TODO: option - threads"},
      {{}, "t", "abc", "Invalid duration specification for t: abc"},
      {{}, "ss", "1:xx", "Invalid duration specification for ss: 1:xx"},
      {{}, "timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
      {{}, "vtag", "DIV", "video tag parameter must be 4 chars"},
      {{}, "atag", "mp4a1", "audio tag parameter must be 4 chars"},
      {{}, "newvideo", "", "At least one output file must be specified"},
      {{}, "newaudio", "", "At least one output file must be specified"},
      {{}, "newsubtitle", "", "At least one output file must be specified"},
      {{}, "f", "nosuchformat", "Unknown input or output format: nosuchformat"},
      {{}, "vbsf", "nosuchfilter=1", "Unknown bitstream filter nosuchfilter=1"},
      {{},
       "vhook",
       "/nonexistent/hook.so a b",
       "Failed to add video hook function: /nonexistent/hook.so a b"},
      {{}, "target", "pal-xyz", "Unknown target type"},
      {{}, "target", "vcd", "frame_rate is invalid."},  // no frame rate to detect the norm from
  };
  for (const FailingCase& c : cases) {
    TCustomFFmpeg fresh;
    fresh.InitSession();
    for (const auto& [name, value] : c.before) fresh.ParseOption(name, value);
    try {
      fresh.ParseOption(c.name, c.value);
      ADD_FAILURE() << c.name << "=" << c.value << " was accepted";
    } catch (const FFMpegException& e) {
      EXPECT_EQ(e.what(), c.message) << c.name << "=" << c.value;
    }
  }
}

TEST_F(OptionTable, MapTablesRefuseEntriesBeyondTheirSize) {
  for (int i = 0; i < TCustomFFmpeg::MaxStreamMaps; ++i) session.ParseOption("map", "0:0");
  EXPECT_THROW(session.ParseOption("map", "0:1"), FFMpegException);
  EXPECT_EQ(session.StreamMapCount, TCustomFFmpeg::MaxStreamMaps);
  for (int i = 0; i < TCustomFFmpeg::MaxMetaDataMaps; ++i) session.ParseOption("map_meta_data", "0:0");
  EXPECT_THROW(session.ParseOption("map_meta_data", "0:0"), FFMpegException);
  EXPECT_EQ(session.MetaDataMapCount, TCustomFFmpeg::MaxMetaDataMaps);
}

TEST_F(OptionTable, RefusedCropAndSizeLeaveThePictureAlone) {
  session.ParseOption("s", "320x240");
  EXPECT_THROW(session.ParseOption("croptop", "241"), FFMpegException);
  EXPECT_THROW(session.ParseOption("s", "321x200"), FFMpegException);
  EXPECT_EQ(session.FrameHeight, 240);
  EXPECT_EQ(session.FrameWidth, 320);
  EXPECT_EQ(session.CropTop, 0);
}

struct AcceptedCase {
  std::vector<std::pair<std::string, std::string>> options;  // applied in order
  std::function<void(const TCustomFFmpeg&)> check;
  const char* what;
};

TEST_F(OptionTable, AcceptedValuesSetTheirFields) {
  const std::vector<AcceptedCase> cases = {
      {{{"aspect", "16:9"}},
       [](auto& s) { EXPECT_FLOAT_EQ(s.FrameAspectRatio, 1.7777778f); },
       "aspect ratio"},
      {{{"aspect", "1.5"}}, [](auto& s) { EXPECT_FLOAT_EQ(s.FrameAspectRatio, 1.5f); }, "aspect real"},
      {{{"padcolor", "255"}},
       [](auto& s) {
         EXPECT_EQ(s.PadColor, (std::array<int, 3>{76, 85, 255}));
       },
       "pure red"},
      {{{"padcolor", "16777215"}},
       [](auto& s) {
         EXPECT_EQ(s.PadColor, (std::array<int, 3>{255, 128, 128}));
       },
       "white"},
      {{{"padcolor", "0"}},
       [](auto& s) {
         EXPECT_EQ(s.PadColor, (std::array<int, 3>{0, 128, 128}));
       },
       "black"},
      {{},
       [](auto& s) {
         EXPECT_EQ(s.PadColor, (std::array<int, 3>{16, 128, 128}));
       },
       "default pad colour"},
      {{{"qscale", "255"}}, [](auto& s) { EXPECT_FLOAT_EQ(s.VideoQScale, 255.0f); }, "largest qscale"},
      {{{"qscale", "0.5"}}, [](auto& s) { EXPECT_FLOAT_EQ(s.VideoQScale, 0.5f); }, "small qscale"},
      {{{"t", "0"}},
       [](auto& s) {
         EXPECT_EQ(s.RecordingTime, INT64_MAX);
         EXPECT_EQ(s.TotalDuration, -1);
       },
       "zero duration changes nothing"},
      {{{"t", "10"}},
       [](auto& s) {
         EXPECT_EQ(s.RecordingTime, 10000000);
         EXPECT_EQ(s.TotalDuration, 10000);
       },
       "ten seconds"},
      {{{"t", "00:01:02.5"}}, [](auto& s) { EXPECT_EQ(s.TotalDuration, 62500); }, "clock duration"},
      {{{"t", "0.0005"}}, [](auto& s) { EXPECT_EQ(s.TotalDuration, -1); }, "below a millisecond"},
      {{{"ss", "5"}, {"itsoffset", "-1.5"}},
       [](auto& s) {
         EXPECT_EQ(s.StartTime, 5000000);
         EXPECT_EQ(s.InputTsOffset, -1500000);
       },
       "start and offset"},
      {{{"timestamp", "2020-01-02T03:04:05Z"}},
       [](auto& s) { EXPECT_EQ(s.RecTimestamp, 1577934245); },
       "date"},
      {{{"itsscale", "1:2.5"}, {"itsscale", "0x13,0.5"}},
       [](auto& s) {
         EXPECT_DOUBLE_EQ(s.InputTsScales[0][1], 2.5);
         EXPECT_DOUBLE_EQ(s.InputTsScales[0][19], 0.5);
       },
       "timestamp scales of the next input"},
      {{{"intra_matrix", Numbers(70)}},
       [](auto& s) {
         ASSERT_EQ(s.IntraMatrix.size(), 64u);
         EXPECT_EQ(s.IntraMatrix[0], 16);
         EXPECT_EQ(s.IntraMatrix[63], 23);
       },
       "only 64 coefficients are read"},
      {{{"s", "320x240"}, {"croptop", "10"}, {"cropleft", "20"}, {"croptop", "-2"}},
       [](auto& s) {
         EXPECT_EQ(s.CropTop, 10);
         EXPECT_EQ(s.CropLeft, 20);
         EXPECT_EQ(s.FrameHeight, 230);
         EXPECT_EQ(s.FrameWidth, 300);
       },
       "crops reduce the picture; negative ones are ignored"},
      {{{"padtop", "8"}, {"padright", "-4"}},
       [](auto& s) {
         EXPECT_EQ(s.PadTop, 8);
         EXPECT_EQ(s.PadRight, 0);
       },
       "pads"},
      {{{"s", "vga"}},
       [](auto& s) {
         EXPECT_EQ(s.FrameWidth, 640);
         EXPECT_EQ(s.FrameHeight, 480);
       },
       "size abbreviation"},
      {{{"r", "ntsc"}},
       [](auto& s) {
         EXPECT_EQ(s.FrameRate.num, 30000);
         EXPECT_EQ(s.FrameRate.den, 1001);
       },
       "frame rate by name"},
      {{{"r", "29.97"}},
       [](auto& s) {
         EXPECT_EQ(s.FrameRate.num, 2997);
         EXPECT_EQ(s.FrameRate.den, 100);
       },
       "frame rate as a number"},
      {{{"r", ""}, {"s", ""}, {"aspect", ""}, {"vcodec", ""}, {"vtag", ""}},
       [](auto& s) {
         EXPECT_EQ(s.FrameRate.den, 0);
         EXPECT_EQ(s.FrameWidth, 0);
         EXPECT_EQ(s.FrameAspectRatio, 0.0f);
         EXPECT_EQ(s.VideoCodecTag, 0);
       },
       "empty values do nothing"},
      {{{"map", "0:1"}, {"map", "1.2:0.3"}, {"map_meta_data", "0:1"}},
       [](auto& s) {
         ASSERT_EQ(s.StreamMapCount, 2);
         EXPECT_EQ(s.StreamMaps[0].SyncFileIndex, 0);
         EXPECT_EQ(s.StreamMaps[0].SyncStreamIndex, 1);
         EXPECT_EQ(s.StreamMaps[1].FileIndex, 1);
         EXPECT_EQ(s.StreamMaps[1].StreamIndex, 2);
         EXPECT_EQ(s.StreamMaps[1].SyncFileIndex, 0);
         EXPECT_EQ(s.StreamMaps[1].SyncStreamIndex, 3);
         ASSERT_EQ(s.MetaDataMapCount, 1);
         EXPECT_EQ(s.MetaDataMaps[0].InFileIndex, 1);
       },
       "maps"},
      {{{"vcodec", "libx264"}, {"vcodec", "copy"}, {"acodec", "mp2"}, {"scodec", "copy"}},
       [](auto& s) {
         EXPECT_EQ(s.VideoCodecName, "");
         EXPECT_EQ(s.VideoStreamCopy, 1);
         EXPECT_EQ(s.AudioCodecName, "mp2");
         EXPECT_EQ(s.SubtitleStreamCopy, 1);
       },
       "codec names and copy"},
      {{{"vtag", "DIVX"}, {"atag", "mp4a"}},
       [](auto& s) {
         EXPECT_EQ(s.VideoCodecTag, static_cast<int>(MKTAG('D', 'I', 'V', 'X')));
         EXPECT_EQ(s.AudioCodecTag, static_cast<int>(MKTAG('m', 'p', '4', 'a')));
       },
       "codec tags"},
      {{{"ar", "0"}, {"ac", "-1"}},
       [](auto& s) {
         EXPECT_EQ(s.AudioSampleRate, 44100);
         EXPECT_EQ(s.AudioChannels, 2);
       },
       "non-positive audio values are ignored"},
      {{{"ar", "22050"}, {"ac", "1"}, {"vol", "512"}, {"aq", "3.5"}},
       [](auto& s) {
         EXPECT_EQ(s.AudioSampleRate, 22050);
         EXPECT_EQ(s.AudioChannels, 1);
         EXPECT_EQ(s.AudioVolume, 512);
         EXPECT_FLOAT_EQ(s.AudioQScale, 3.5f);
       },
       "audio values"},
      {{{"fs", "5000000000"}, {"vframes", "0x10"}, {"aframes", " 7"}, {"dframes", "-3"}},
       [](auto& s) {
         EXPECT_EQ(s.LimitFileSize, 5000000000LL);
         EXPECT_EQ(s.MaxFrames[0], 16);
         EXPECT_EQ(s.MaxFrames[1], 7);
         EXPECT_EQ(s.MaxFrames[2], -3);
         EXPECT_EQ(s.MaxFrames[3], INT32_MAX);
       },
       "integers"},
      {{{"vn", "x"},
        {"an", ""},
        {"sn", ""},
        {"copyts", ""},
        {"shortest", ""},
        {"xerror", ""},
        {"re", ""},
        {"deinterlace", ""},
        {"intra", ""},
        {"sameq", ""},
        {"psnr", ""},
        {"isync", ""},
        {"loop_input", ""}},
       [](auto& s) {
         EXPECT_EQ(s.VideoDisable + s.AudioDisable + s.SubtitleDisable + s.Shortest + s.RateEmu +
                       s.Deinterlace + s.IntraOnly + s.SameQuality + s.DoPsnr + s.InputSync + s.LoopInput,
                   11);
         EXPECT_TRUE(s.CopyTs);
         EXPECT_TRUE(s.ExitOnError);
       },
       "flags ignore their value"},
      {{{"pix_fmt", "yuv422p"}, {"sample_fmt", "s16"}},
       [](auto& s) {
         EXPECT_EQ(s.FramePixFmt, AV_PIX_FMT_YUV422P);
         EXPECT_EQ(s.AudioSampleFmt, AV_SAMPLE_FMT_S16);
       },
       "formats"},
      {{{"pix_fmt", "nosuch"}}, [](auto& s) { EXPECT_EQ(s.FramePixFmt, -1); }, "unknown pixel format"},
      {{{"pass", "2"}, {"passlogfile", "/tmp/x"}, {"vfilters", "hflip"}, {"title", "A=B"}},
       [](auto& s) {
         EXPECT_EQ(s.DoPass, 2);
         EXPECT_EQ(s.PassLogFilePrefix, "/tmp/x");
         EXPECT_EQ(s.VideoFilters, "hflip");
         EXPECT_EQ(s.Title, "A=B");
       },
       "texts"},
      {{{"f", "avi"}},
       [](auto& s) {
         ASSERT_NE(s.ForcedInputFormat, nullptr);
         ASSERT_NE(s.ForcedOutputFormat, nullptr);
         EXPECT_STREQ(s.ForcedOutputFormat->name, "avi");
       },
       "format for both directions"},
      {{{"vbsf", "h264_mp4toannexb"}, {"absf", "aac_adtstoasc"}, {"sbsf", "=x"}},
       [](auto& s) {
         ASSERT_EQ(s.VideoBitstreamFilters.size(), 1u);
         EXPECT_STREQ(s.VideoBitstreamFilters[0].Filter->name, "h264_mp4toannexb");
         ASSERT_EQ(s.AudioBitstreamFilters.size(), 1u);
         EXPECT_TRUE(s.SubtitleBitstreamFilters.empty());
       },
       "bitstream filters"},
  };
  for (const AcceptedCase& c : cases) {
    TCustomFFmpeg fresh;
    fresh.InitSession();
    SCOPED_TRACE(c.what);
    for (const auto& [name, value] : c.options) EXPECT_NO_THROW(fresh.ParseOption(name, value)) << name;
    c.check(fresh);
  }
}

TEST_F(OptionTable, VStatsNamesAFileInTheProgramFolder) {
  session.ParseOption("vstats", "");
  const std::string prefix = ProgramFolder() + "vstats_";
  ASSERT_EQ(session.VStatsFileName.compare(0, prefix.size(), prefix), 0) << session.VStatsFileName;
  EXPECT_TRUE(std::regex_match(session.VStatsFileName.substr(prefix.size()), std::regex("[0-9]{6}\\.log")));
}

TEST_F(OptionTable, DoNothingOptionsOnlyLog) {
  for (const char* name : {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"})
    session.ParseOption(name, "whatever");
  ASSERT_EQ(logLines.size(), 10u);
  EXPECT_EQ(logLines[6], "1:Do nothing: option - benchmark");
  EXPECT_TRUE(session.GenericOptionNames.empty());
}

TEST_F(OptionTable, UnknownNamesAndMalformedLinesChangeNothing) {
  session.ParseOptionText(
      "nosuchoption=5\n"
      "qscale = 5\n"
      "-qscale 5 -bufsize 128\n"
      "\n"
      "b=\n"
      "=5\n");
  EXPECT_FLOAT_EQ(session.VideoQScale, 0.0f);
  EXPECT_TRUE(session.GenericOptionNames.empty());
  EXPECT_TRUE(session.EncoderPrivateOptions.empty());
  EXPECT_TRUE(session.MuxerPrivateOptions.empty());
  EXPECT_TRUE(logLines.empty());
}

TEST_F(OptionTable, TextBlockAppliesLinesInOrderAndStopsAtTheFirstFailure) {
  session.ParseOptionText("  vcodec=mpeg4\r\nqscale=5\rtitle=a=b\n  ");
  EXPECT_EQ(session.VideoCodecName, "mpeg4");
  EXPECT_FLOAT_EQ(session.VideoQScale, 5.0f);
  EXPECT_EQ(session.Title, "a=b");

  TCustomFFmpeg other;
  other.InitSession();
  EXPECT_THROW(other.ParseOptionText("qscale=7\ns=321x240\ntitle=never"), FFMpegException);
  EXPECT_FLOAT_EQ(other.VideoQScale, 7.0f);
  EXPECT_EQ(other.Title, "");
}

TEST_F(OptionTable, KnowsItsOneHundredAndSixNamesInOrder) {
  const auto& names = TCustomFFmpeg::OptionNames();
  ASSERT_EQ(names.size(), 106u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 106u);
  EXPECT_EQ(names.front(), "L");
  EXPECT_EQ(names[40], "b");
  EXPECT_EQ(names.back(), "spre");
}

#ifdef TOVRIN_HOOK_PAINT
TEST_F(OptionTable, VideoHooksJoinTheChainUntilRelease) {
  session.ParseOption("vhook", std::string(TOVRIN_HOOK_PAINT) + "|12 34");
  session.ParseOption("vhook", TOVRIN_HOOK_PAINT);
  EXPECT_TRUE(session.UsingVHook);
  ASSERT_NE(session.FrameHooks, nullptr);
  ASSERT_NE(session.FrameHooks->next, nullptr);
  EXPECT_EQ(session.FrameHooks->next->next, nullptr);
  session.ReleaseSession();
  EXPECT_EQ(session.FrameHooks, nullptr);
}
#endif

TEST_F(OptionTable, VerbositySetsTheLibraryLogLevel) {
  const int saved = FF.av_log_get_level();
  session.ParseOption("v", "2");
  EXPECT_EQ(session.Verbose, 2);
  EXPECT_EQ(FF.av_log_get_level(), AV_LOG_DEBUG);
  EXPECT_EQ(CurrentLogLevel, AV_LOG_DEBUG);
  session.ParseOption("v", "-1");
  EXPECT_EQ(FF.av_log_get_level(), AV_LOG_QUIET);
  FF.av_log_set_level(saved);
  CurrentLogLevel = saved;
}

}  // namespace
