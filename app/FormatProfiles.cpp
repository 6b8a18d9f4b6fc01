#include "app/FormatProfiles.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "app/Settings.h"

namespace {

// The typos are the texts users know.
constexpr std::string_view kFormatTexts[kFormatCount] = {
    "FLV flash video format (*.flv)",
    "SWF SWF format (*.swf)",
    "3GPP  -h263 - 3rd Generation Partnership Project (*.3gp)",
    "3GPP  -mpeg4- 3rd Generation Partnership Project (*.3gp)",
    "3GPP2 -h263 - 3rd Generation Partnership Project2 (*.3g2)",
    "3GPP2 -mpeg4- 3rd Generation Partnership Project2 (*.3g2)",
    "DivX Movie (*.avi)",
    "MOV - QuickTime (*.mov)",
    "MPEG-1 Moive (*.mpg)",
    "MPEG-4 H.264/AVC Video (*.mp4)",
    "WAV - Waveform Audio (*.wav)",
    "WMA - Windows Meida Audio (*.wma)",
    "WMV - Windows Media Video (*.wmv)",
    "Xvid Movie (*.avi)",
    "M4A MPEG-4 Audio (*.m4a)",
    "M4V MPEG-4 Video (*.m4v)",
    "MP3 MPEG Layer-3 Audio (*.mp3)",
    "AAC Advenced Audio Codec (*.aac)",
};

struct TListKeys {
  std::string_view List;
  std::string_view Index;
};
constexpr TListKeys kListKeys[kFormatListCount] = {
    {"VideoSize", "iVideoSize"},       {"VideoBitRate", "iVideoBitRate"}, {"FrameRate", "iFrameRate"},
    {"VideoEncoder", "iVideoEncoder"}, {"AudioBitRate", "iAudioBitRate"}, {"SampleRate", "iSampleRate"},
    {"AudioEncoder", "iAudioEncoder"}, {"Channel", "iChannel"},           {"Volume", "iVolume"},
};

struct TNamePair {
  std::string_view DisplayName;  // lower case
  std::string_view Encoder;
};

constexpr TNamePair kVideoEncoders[] = {
    {"mpeg-4", "mpeg4"},
    {"xvid", "libxvid"},
    {"h264", "libx264"},
    {"3gp", "3gp"},
    {"3g2", "3g2"},
    {"mov", "mov"},
    {"wmv1", "wmv1"},
    {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},
    {"flv", "flv"},
    {"swf", "swf"},
    {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},
    {"msmpeg4v2", "msmpeg4v2"},
    {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},
    {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},
    {"rv10", "rv10"},
    {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},
    {"huffyuv", "huffyuv"},
    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},
    {"svq1", "svq1"},
    {"zlib", "zlib"},
};

constexpr TNamePair kAudioEncoders[] = {
    {"mp3", "libmp3lame"},    {"mp2", "mp2"},
    {"aac", "libfaac"},       {"ac-3", "ac3"},
    {"flac", "flac"},         {"amr_nb", "libamr_nb"},
    {"pcm_s16", "pcm_s16le"}, {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"}, {"pcm_mulaw ", "pcm_mulaw"},  // the display name has a trailing blank
    {"adpcm_ms", "adpcm_ms"}, {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},        {"wma2", "wmav2"},
};

struct TVolumeStep {
  int Percent;
  std::string_view Value;  // Percent * 256 / 100
};
constexpr TVolumeStep kVolumes[] = {
    {25, "64"},   {50, "128"},  {75, "192"},  {100, "256"}, {125, "320"}, {150, "384"},
    {175, "448"}, {200, "512"}, {250, "640"}, {300, "768"}, {350, "896"}, {400, "1024"},
};

constexpr std::string_view kForcedContainers[] = {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv"};

std::string Text(std::string_view view) {
  return std::string(view);
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

template <size_t N>
std::optional<std::string> LookUpEncoder(const TNamePair (&table)[N], const std::string& displayName) {
  const std::string lower = LowerCase(displayName);
  for (const TNamePair& pair : table) {
    if (pair.DisplayName == lower) return Text(pair.Encoder);
  }
  return std::nullopt;
}

void WriteKey(TIniFile& ini, const std::string& section, const TFormatKey& key, const std::string& value) {
  ini.WriteString(section, Text(key.Key), value);
}

}  // namespace

std::string_view FormatText(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= kFormatCount) throw std::out_of_range("format index out of range");
  return kFormatTexts[formatIndex];
}

void FillFormatList(std::vector<std::string>& items) {
  for (std::string_view text : kFormatTexts) items.emplace_back(text);
}

std::string FormatSection(int formatIndex) {
  return "formatInfo" + std::to_string(formatIndex);
}

std::vector<std::string> DecodeList(const std::string& text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  std::string current;
  for (char c : text) {
    if (c == ',') {
      items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  items.push_back(current);
  return items;
}

std::string_view ListKey(TFormatList list) {
  return kListKeys[list].List;
}
std::string_view IndexKey(TFormatList list) {
  return kListKeys[list].Index;
}

std::string ReadFormatKey(const TIniFile& ini, int formatIndex, const TFormatKey& key) {
  return ini.ReadString(FormatSection(formatIndex), Text(key.Key), Text(key.Default));
}

TFormatProfile ReadFormatProfile(const TIniFile& profileFile, int formatIndex) {
  const std::string section = FormatSection(formatIndex);
  TFormatProfile profile;
  profile.FormatIndex = formatIndex;
  profile.FileExt = ReadFormatKey(profileFile, formatIndex, profilekeys::FileExt);
  profile.Format = ReadFormatKey(profileFile, formatIndex, profilekeys::Format);
  for (int i = 0; i < kFormatListCount; ++i) {
    const auto list = static_cast<TFormatList>(i);
    TProfileList& entry = profile.Lists[i];
    entry.Text = profileFile.ReadString(section, Text(ListKey(list)), Text(profilekeys::kListDefault));
    if (!entry.IsNull()) entry.Items = DecodeList(entry.Text);
    entry.DefaultIndex = profileFile.ReadInteger(section, Text(IndexKey(list)), 0);
  }
  return profile;
}

std::string ForcedContainer(const std::string& format) {
  const std::string lower = LowerCase(format);
  for (std::string_view name : kForcedContainers) {
    if (name == lower) return format;
  }
  return {};
}

TListChoice ChooseItem(const std::vector<std::string>& items, int index) {
  if (index < 0 || static_cast<size_t>(index) >= items.size()) return {};
  return {index, items[static_cast<size_t>(index)]};
}

TFormatChoices DefaultFormatChoices(const TFormatProfile& profile) {
  TFormatChoices choices;
  choices.FormatIndex = profile.FormatIndex;
  for (int i = 0; i < kFormatListCount; ++i) {
    choices.Lists[i] = ChooseItem(profile.Lists[i].Items, profile.Lists[i].DefaultIndex);
  }
  return choices;
}

TFormatChoices SavedFormatChoices(const TFormatProfile& profile, const TIniFile& mainFile) {
  const std::string section = FormatSection(profile.FormatIndex);
  TFormatChoices choices;
  choices.FormatIndex = profile.FormatIndex;
  for (int i = 0; i < kFormatListCount; ++i) {
    const int index = mainFile.ReadInteger(section, Text(IndexKey(static_cast<TFormatList>(i))), 0);
    choices.Lists[i] = ChooseItem(profile.Lists[i].Items, index);
  }
  return choices;
}

std::optional<std::string> VideoEncoderForDisplayName(const std::string& displayName) {
  return LookUpEncoder(kVideoEncoders, displayName);
}

std::optional<std::string> AudioEncoderForDisplayName(const std::string& displayName) {
  return LookUpEncoder(kAudioEncoders, displayName);
}

std::optional<std::string> VolumeForPercent(int percent) {
  for (const TVolumeStep& step : kVolumes) {
    if (step.Percent == percent) return Text(step.Value);
  }
  return std::nullopt;
}

std::optional<std::string> ChannelValueFor(const std::string& channelText) {
  if (channelText == "as source") return std::string("as source");
  if (channelText == "mono 1 channel") return std::string("1");
  if (channelText == "stereo 2 channels") return std::string("2");
  return std::nullopt;
}

void CopyH264Parameters(TIniFile& mainFile, const TIniFile& profileFile, int formatIndex) {
  const std::string section = FormatSection(formatIndex);
  const std::string bitExact = ReadFormatKey(profileFile, formatIndex, profilekeys::ParaBitExact);
  if (LowerCase(bitExact) == "true") WriteKey(mainFile, section, formatkeys::ParaBitExact, bitExact);

  // Each is written only when it is a positive integer; otherwise the value
  // saved earlier stays.
  const TFormatKey positiveKeys[] = {profilekeys::ParaMaxBitrate, profilekeys::ParaBufferSize,
                                     profilekeys::ParaLevel, profilekeys::ParaQscale, profilekeys::ParaGop};
  for (const TFormatKey& key : positiveKeys) {
    const std::string value = ReadFormatKey(profileFile, formatIndex, key);
    if (StrToInt(value) > 0) mainFile.WriteString(section, Text(key.Key), value);
  }

  const std::string coder = ReadFormatKey(profileFile, formatIndex, profilekeys::ParaCoder);
  WriteKey(mainFile, section, formatkeys::ParaCoder, StrToInt(coder) < 1 ? std::string("1") : coder);
}

void SaveFormatChoices(TIniFile& mainFile, const TIniFile& profileFile, const TFormatChoices& choices) {
  const int n = choices.FormatIndex;
  const std::string section = FormatSection(n);
  mainFile.WriteInteger(Text(settings::OutPutFormat.Section), Text(settings::OutPutFormat.Key), n);
  WriteKey(mainFile, section, formatkeys::Description, Text(FormatText(n)));

  constexpr TFormatList kIndexOrder[] = {flVideoSize, flVideoBitRate, flVideoEncoder,
                                         flFrameRate, flSampleRate,   flAudioBitRate,
                                         flChannel,   flVolume,       flAudioEncoder};
  for (TFormatList list : kIndexOrder)
    mainFile.WriteInteger(section, Text(IndexKey(list)), choices[list].Index);

  WriteKey(mainFile, section, formatkeys::ParaVideoSize, choices[flVideoSize].Text);
  WriteKey(mainFile, section, formatkeys::ParaVideoBitRate, choices[flVideoBitRate].Text);
  WriteKey(mainFile, section, formatkeys::ParaFrameRate, choices[flFrameRate].Text);

  const std::string videoDisplay = choices[flVideoEncoder].Text;
  if (const auto encoder = VideoEncoderForDisplayName(videoDisplay)) {
    WriteKey(mainFile, section, formatkeys::ParaVideoEncoder, *encoder);
  }
  if (LowerCase(videoDisplay) == "h264") CopyH264Parameters(mainFile, profileFile, n);

  WriteKey(mainFile, section, formatkeys::ParaSampleRate, choices[flSampleRate].Text);
  WriteKey(mainFile, section, formatkeys::ParaAudioBitRate, choices[flAudioBitRate].Text);

  if (const auto channel = ChannelValueFor(choices[flChannel].Text)) {
    WriteKey(mainFile, section, formatkeys::ParaChannel, *channel);
  }

  // A volume list without a selection (a format whose profile offers no
  // volumes) stores nothing; a selected item must be a percentage.
  if (choices[flVolume].Index >= 0) {
    const std::string& text = choices[flVolume].Text;
    const int percent = StrToInt(text.empty() ? text : text.substr(0, text.size() - 1));
    if (percent > 0) {
      if (const auto volume = VolumeForPercent(percent))
        WriteKey(mainFile, section, formatkeys::ParaVolume, *volume);
    }
  }

  if (const auto encoder = AudioEncoderForDisplayName(choices[flAudioEncoder].Text)) {
    WriteKey(mainFile, section, formatkeys::ParaAudioEncoder, *encoder);
  }
}

void SaveFormatChoices(const TGlobalObject& global, const TFormatChoices& choices) {
  TIniFile mainFile(global.MainIniFile());
  const TIniFile profileFile(global.FormatIniFile());
  SaveFormatChoices(mainFile, profileFile, choices);
}
