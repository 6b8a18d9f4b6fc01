// The format list, the list decoding and the settings dialog's save rules.
#include <gtest/gtest.h>

#include "app/FormatProfiles.h"

namespace {

TEST(FormatListTest, EighteenTextsInFormatOrder) {
  std::vector<std::string> items{"kept"};
  FillFormatList(items);
  ASSERT_EQ(items.size(), 19u);  // appended to what the list held
  EXPECT_EQ(items[1], "FLV flash video format (*.flv)");
  EXPECT_EQ(items[3], "3GPP  -h263 - 3rd Generation Partnership Project (*.3gp)");
  EXPECT_EQ(items[4], "3GPP  -mpeg4- 3rd Generation Partnership Project (*.3gp)");
  EXPECT_EQ(items[9], "MPEG-1 Moive (*.mpg)");
  EXPECT_EQ(items[12], "WMA - Windows Meida Audio (*.wma)");
  EXPECT_EQ(items[18], "AAC Advenced Audio Codec (*.aac)");
  EXPECT_EQ(FormatText(9), "MPEG-4 H.264/AVC Video (*.mp4)");
  EXPECT_THROW(FormatText(18), std::out_of_range);
  EXPECT_EQ(FormatSection(9), "formatInfo9");
}

TEST(DecodeListTest, SplitsAtEveryCommaWithoutTrimming) {
  using List = std::vector<std::string>;
  struct Case {
    const char* text;
    List items;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {",", {"", ""}},
      {" a , b", {" a ", " b"}},
      {"704x576,352x288", {"704x576", "352x288"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DecodeList(c.text), c.items);
  }
}

TEST(DisplayNameTest, EncoderTablesCompareInLowerCase) {
  EXPECT_EQ(VideoEncoderForDisplayName("MPEG-4"), "mpeg4");
  EXPECT_EQ(VideoEncoderForDisplayName("mpeg-4"), "mpeg4");
  EXPECT_EQ(VideoEncoderForDisplayName("Xvid"), "libxvid");
  EXPECT_EQ(VideoEncoderForDisplayName("H264"), "libx264");
  EXPECT_EQ(VideoEncoderForDisplayName("WMV2"), "wmv2");
  EXPECT_EQ(VideoEncoderForDisplayName("mpeg4"), std::nullopt);
  EXPECT_EQ(VideoEncoderForDisplayName("h.264"), std::nullopt);

  EXPECT_EQ(AudioEncoderForDisplayName("MP3"), "libmp3lame");
  EXPECT_EQ(AudioEncoderForDisplayName("AAC"), "libfaac");
  EXPECT_EQ(AudioEncoderForDisplayName("AC-3"), "ac3");
  EXPECT_EQ(AudioEncoderForDisplayName("amr_nb"), "libamr_nb");
  EXPECT_EQ(AudioEncoderForDisplayName("PCM_S16"), "pcm_s16le");
  EXPECT_EQ(AudioEncoderForDisplayName("WMA2"), "wmav2");
  EXPECT_EQ(AudioEncoderForDisplayName("pcm_mulaw "), "pcm_mulaw");
  EXPECT_EQ(AudioEncoderForDisplayName("pcm_mulaw"), std::nullopt);  // the table's name has a trailing blank
  EXPECT_EQ(AudioEncoderForDisplayName("vorbis"), std::nullopt);
}

TEST(DisplayNameTest, VolumeAndChannelTables) {
  const std::pair<int, const char*> volumes[] = {{25, "64"},   {50, "128"},  {75, "192"},  {100, "256"},
                                                 {125, "320"}, {150, "384"}, {175, "448"}, {200, "512"},
                                                 {250, "640"}, {300, "768"}, {350, "896"}, {400, "1024"}};
  for (const auto& [percent, value] : volumes) EXPECT_EQ(VolumeForPercent(percent), value) << percent;
  for (int percent : {0, 90, 225, 500, -25}) EXPECT_EQ(VolumeForPercent(percent), std::nullopt) << percent;

  EXPECT_EQ(ChannelValueFor("as source"), "as source");
  EXPECT_EQ(ChannelValueFor("mono 1 channel"), "1");
  EXPECT_EQ(ChannelValueFor("stereo 2 channels"), "2");
  EXPECT_EQ(ChannelValueFor("Mono 1 channel"), std::nullopt);
  EXPECT_EQ(ChannelValueFor("5.1"), std::nullopt);
}

TEST(ForcedContainerTest, OnlyTheEightContainers) {
  for (const char* name : {"ipod", "3gp", "3g2", "AVI", "psp", "Mov", "vcd", "flv"}) {
    EXPECT_EQ(ForcedContainer(name), name);
  }
  for (const char* name : {"mp4", "null", "", "wav", "avi "}) EXPECT_EQ(ForcedContainer(name), "") << name;
}

// A profile file and a settings file, both held in memory.
class SaveRulesTest : public ::testing::Test {
protected:
  static constexpr int kFormat = 9;
  const std::string section_ = FormatSection(kFormat);

  void SetUp() override {
    profile_.WriteString(section_, "VideoSize", "704x576,352x288");
    profile_.WriteString(section_, "VideoBitRate", "512,1000");
    profile_.WriteString(section_, "FrameRate", "25,29.97");
    profile_.WriteString(section_, "VideoEncoder", "MPEG-4,H264,Unknown");
    profile_.WriteString(section_, "AudioBitRate", "96.5,128");
    profile_.WriteString(section_, "SampleRate", "44100,as source");
    profile_.WriteString(section_, "AudioEncoder", "AAC,pcm_mulaw ,pcm_mulaw");
    profile_.WriteString(section_, "Channel", "as source,mono 1 channel,stereo 2 channels,quad");
    profile_.WriteString(section_, "Volume", "25%,90%,100%,abc%,400%");
    profile_.WriteString(section_, "iVideoEncoder", "1");
    profile_.WriteString(section_, "iVolume", "2");
  }

  TFormatChoices Defaults() { return DefaultFormatChoices(ReadFormatProfile(profile_, kFormat)); }
  // The choices with one list set to an item index.
  TFormatChoices With(TFormatList list, int index) {
    TFormatChoices choices = Defaults();
    choices[list] = ChooseItem(ReadFormatProfile(profile_, kFormat).List(list).Items, index);
    return choices;
  }
  std::string Stored(const std::string& key) { return main_.ReadString(section_, key, "<absent>"); }
  void Save(const TFormatChoices& choices) { SaveFormatChoices(main_, profile_, choices); }

  TIniFile profile_{""};
  TIniFile main_{""};
};

TEST_F(SaveRulesTest, StoresFormatIndexesTextsAndTranslatedNames) {
  Save(With(flVideoSize, 1));
  EXPECT_EQ(main_.ReadInteger("settings", "OutPutFormat", -1), kFormat);
  EXPECT_EQ(Stored("Description"), "MPEG-4 H.264/AVC Video (*.mp4)");
  EXPECT_EQ(Stored("iVideoSize"), "1");
  EXPECT_EQ(Stored("paraVideoSize"), "352x288");
  EXPECT_EQ(Stored("iVideoEncoder"), "1");
  EXPECT_EQ(Stored("paraVideoEncoder"), "libx264");
  EXPECT_EQ(Stored("iVideoBitRate"), "0");
  EXPECT_EQ(Stored("paraVideoBitRate"), "512");
  EXPECT_EQ(Stored("paraFrameRate"), "25");
  EXPECT_EQ(Stored("paraSampleRate"), "44100");
  EXPECT_EQ(Stored("paraAudioBitRate"), "96.5");
  EXPECT_EQ(Stored("paraChannel"), "as source");
  EXPECT_EQ(Stored("iVolume"), "2");
  EXPECT_EQ(Stored("paraVolume"), "256");
  EXPECT_EQ(Stored("paraAudioEncoder"), "libfaac");
  EXPECT_EQ(
      main_.KeyNames(section_),
      (std::vector<std::string>{"Description",    "iVideoSize",       "iVideoBitRate",    "iVideoEncoder",
                                "iFrameRate",     "iSampleRate",      "iAudioBitRate",    "iChannel",
                                "iVolume",        "iAudioEncoder",    "paraVideoSize",    "paraVideoBitRate",
                                "paraFrameRate",  "paraVideoEncoder", "paraBitExact",     "paraMaxBitrate",
                                "paraBufferSize", "paraLevel",        "paraQscale",       "paraGop",
                                "paraCoder",      "paraSampleRate",   "paraAudioBitRate", "paraChannel",
                                "paraVolume",     "paraAudioEncoder"}));
}

TEST_F(SaveRulesTest, NamesOutsideTheTablesKeepTheValueStoredEarlier) {
  Save(With(flVideoEncoder, 0));
  EXPECT_EQ(Stored("paraVideoEncoder"), "mpeg4");
  EXPECT_EQ(Stored("paraBitExact"), "<absent>");  // no H.264 copy for another encoder

  TFormatChoices choices = With(flVideoEncoder, 2);  // "Unknown"
  choices[flAudioEncoder] = ChooseItem({"AAC", "pcm_mulaw ", "pcm_mulaw"}, 1);
  choices[flChannel] = ChooseItem({"as source", "mono 1 channel", "stereo 2 channels", "quad"}, 1);
  Save(choices);
  EXPECT_EQ(Stored("iVideoEncoder"), "2");
  EXPECT_EQ(Stored("paraVideoEncoder"), "mpeg4");
  EXPECT_EQ(Stored("paraAudioEncoder"), "pcm_mulaw");
  EXPECT_EQ(Stored("paraChannel"), "1");

  choices[flAudioEncoder] = ChooseItem({"AAC", "pcm_mulaw ", "pcm_mulaw"}, 2);  // no trailing blank
  choices[flChannel] = ChooseItem({"as source", "mono 1 channel", "stereo 2 channels", "quad"}, 3);
  Save(choices);
  EXPECT_EQ(Stored("paraAudioEncoder"), "pcm_mulaw");
  EXPECT_EQ(Stored("iAudioEncoder"), "2");
  EXPECT_EQ(Stored("paraChannel"), "1");
  EXPECT_EQ(Stored("iChannel"), "3");
}

TEST_F(SaveRulesTest, VolumeStoresOnlyListedPercentages) {
  Save(With(flVolume, 0));
  EXPECT_EQ(Stored("paraVolume"), "64");
  Save(With(flVolume, 1));  // 90%: not in the table
  EXPECT_EQ(Stored("paraVolume"), "64");
  EXPECT_EQ(Stored("iVolume"), "1");
  Save(With(flVolume, 4));
  EXPECT_EQ(Stored("paraVolume"), "1024");
  Save(With(flVolume, 7));  // beyond the list: no selection, nothing stored
  EXPECT_EQ(Stored("iVolume"), "-1");
  EXPECT_EQ(Stored("paraVolume"), "1024");
}

TEST_F(SaveRulesTest, AVolumeThatIsNoNumberStopsTheSaveAfterTheKeysBeforeIt) {
  TFormatChoices choices = With(flVolume, 3);  // "abc%"
  choices[flChannel] = ChooseItem({"mono 1 channel"}, 0);
  EXPECT_THROW(Save(choices), EConvertError);
  EXPECT_EQ(Stored("paraChannel"), "1");  // step before the volume: written
  EXPECT_EQ(Stored("paraVolume"), "<absent>");
  EXPECT_EQ(Stored("paraAudioEncoder"), "<absent>");  // step after it: not reached
}

TEST_F(SaveRulesTest, H264ParametersCopiedUnderTheirConditions) {
  // Absent profile keys copy their defaults.
  Save(With(flVideoEncoder, 1));
  EXPECT_EQ(Stored("paraBitExact"), "True");
  EXPECT_EQ(Stored("paraMaxBitrate"), "1500");
  EXPECT_EQ(Stored("paraBufferSize"), "128");
  EXPECT_EQ(Stored("paraLevel"), "13");
  EXPECT_EQ(Stored("paraQscale"), "25");
  EXPECT_EQ(Stored("paraGop"), "250");
  EXPECT_EQ(Stored("paraCoder"), "1");

  profile_.WriteString(section_, "paraBitExact", "False");
  profile_.WriteString(section_, "paraLevel", "0");
  profile_.WriteString(section_, "paraQscale", "-5");
  profile_.WriteString(section_, "paraGop", "12");
  profile_.WriteString(section_, "paraCoder", "0");
  profile_.WriteString(section_, "paraMaxBitrate", "0x10");
  Save(With(flVideoEncoder, 1));
  EXPECT_EQ(Stored("paraBitExact"), "True");  // False is not written: the earlier value stays
  EXPECT_EQ(Stored("paraLevel"), "13");
  EXPECT_EQ(Stored("paraQscale"), "25");
  EXPECT_EQ(Stored("paraGop"), "12");
  EXPECT_EQ(Stored("paraCoder"), "1");          // below 1 stores 1
  EXPECT_EQ(Stored("paraMaxBitrate"), "0x10");  // the text as read

  profile_.WriteString(section_, "paraBitExact", "TRUE");
  profile_.WriteString(section_, "paraCoder", "7");
  Save(With(flVideoEncoder, 1));
  EXPECT_EQ(Stored("paraBitExact"), "TRUE");
  EXPECT_EQ(Stored("paraCoder"), "7");

  profile_.WriteString(section_, "paraBufferSize", "big");
  profile_.WriteString(section_, "paraMaxBitrate", "900");
  TFormatChoices choices = With(flVideoEncoder, 1);
  choices[flSampleRate] = ChooseItem({"44100", "as source"}, 1);
  EXPECT_THROW(Save(choices), EConvertError);
  EXPECT_EQ(Stored("paraMaxBitrate"), "900");    // copied before the failing key
  EXPECT_EQ(Stored("paraSampleRate"), "44100");  // a later step: not reached
}

TEST_F(SaveRulesTest, AFormatWithoutVideoListsStoresEmptyVideoValues) {
  const int audioFormat = 16;
  const std::string section = FormatSection(audioFormat);
  profile_.WriteString(section, "VideoSize", "null");
  profile_.WriteString(section, "AudioEncoder", "MP3");
  profile_.WriteString(section, "Volume", "100%");
  const TFormatProfile profile = ReadFormatProfile(profile_, audioFormat);
  EXPECT_TRUE(profile.AudioOnly());
  EXPECT_TRUE(profile.List(flVideoSize).Items.empty());
  SaveFormatChoices(main_, profile_, DefaultFormatChoices(profile));
  EXPECT_EQ(main_.ReadString(section, "paraVideoSize", "<absent>"), "");
  EXPECT_EQ(main_.ReadString(section, "paraVideoBitRate", "<absent>"), "");
  EXPECT_EQ(main_.ReadString(section, "paraFrameRate", "<absent>"), "");
  EXPECT_EQ(main_.ReadString(section, "iVideoSize", "<absent>"), "-1");
  EXPECT_EQ(main_.ReadString(section, "iFrameRate", "<absent>"), "-1");
  EXPECT_FALSE(main_.ValueExists(section, "paraVideoEncoder"));
  EXPECT_EQ(main_.ReadString(section, "paraAudioEncoder", ""), "libmp3lame");
  EXPECT_EQ(main_.ReadString(section, "Description", ""), "MP3 MPEG Layer-3 Audio (*.mp3)");
}

TEST_F(SaveRulesTest, ProfileReadingAndChoices) {
  const TFormatProfile profile = ReadFormatProfile(profile_, kFormat);
  EXPECT_EQ(profile.FileExt, "mp4");  // absent key: default
  EXPECT_EQ(profile.Format, "null");
  EXPECT_FALSE(profile.AudioOnly());
  EXPECT_EQ(profile.List(flVideoSize).Items, (std::vector<std::string>{"704x576", "352x288"}));
  EXPECT_EQ(profile.List(flVideoEncoder).DefaultIndex, 1);

  const TFormatChoices defaults = DefaultFormatChoices(profile);
  EXPECT_EQ(defaults[flVideoEncoder].Text, "H264");
  EXPECT_EQ(defaults[flVolume].Text, "100%");
  EXPECT_EQ(defaults[flVideoSize].Index, 0);

  // The dialog shows the saved picks, the first item where nothing was saved,
  // and no selection for an index beyond the list.
  main_.WriteString(section_, "iFrameRate", "1");
  main_.WriteString(section_, "iVideoSize", "5");
  const TFormatChoices saved = SavedFormatChoices(profile, main_);
  EXPECT_EQ(saved[flFrameRate].Text, "29.97");
  EXPECT_EQ(saved[flVideoEncoder].Text, "MPEG-4");
  EXPECT_EQ(saved[flVideoSize].Index, -1);
  EXPECT_EQ(saved[flVideoSize].Text, "");
}

}  // namespace
