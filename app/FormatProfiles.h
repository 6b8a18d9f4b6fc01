#pragma once
// The eighteen output formats: their names, their profiles in the format
// profile file, the user's choices in the main settings file, and the rules by
// which the settings dialog's OK turns the choices into stored values.
//
// Both files hold one section per format, "formatInfo" followed by the format
// index. The profile file is only read.
//
// Threads: the user-interface thread.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/GlobalUnit.h"
#include "app/IniFile.h"

inline constexpr int kFormatCount = 18;

// The format list's text for a format index; raises std::out_of_range.
std::string_view FormatText(int formatIndex);
// Appends the eighteen texts in format order (the caller's drop-down count is
// then the item count).
void FillFormatList(std::vector<std::string>& items);
// "formatInfo" + the index in decimal.
std::string FormatSection(int formatIndex);

// Splits a stored list at every ",": an empty text gives no item, "a,,b" gives
// a, an empty item and b, and a trailing comma gives a trailing empty item.
// Nothing is trimmed.
std::vector<std::string> DecodeList(const std::string& text);

// The nine lists a profile offers, in the order the dialog refills them.
enum TFormatList {
  flVideoSize,
  flVideoBitRate,
  flFrameRate,
  flVideoEncoder,
  flAudioBitRate,
  flSampleRate,
  flAudioEncoder,
  flChannel,
  flVolume,
};
inline constexpr int kFormatListCount = 9;
// "VideoSize" ... "Volume", and the matching index key "iVideoSize" ...
std::string_view ListKey(TFormatList list);
std::string_view IndexKey(TFormatList list);

struct TFormatKey {
  std::string_view Key;
  std::string_view Default;
};

// Keys of a format's section in the format profile file besides the nine
// lists (default "null") and their index keys (default 0).
namespace profilekeys {
inline constexpr TFormatKey FileExt{"FileExt", "mp4"};
inline constexpr TFormatKey Format{"Format", "null"};
inline constexpr std::string_view kListDefault = "null";
inline constexpr TFormatKey ParaBitExact{"paraBitExact", "True"};
inline constexpr TFormatKey ParaMaxBitrate{"paraMaxBitrate", "1500"};
inline constexpr TFormatKey ParaBufferSize{"paraBufferSize", "128"};
inline constexpr TFormatKey ParaLevel{"paraLevel", "13"};
inline constexpr TFormatKey ParaQscale{"paraQscale", "25"};
inline constexpr TFormatKey ParaGop{"paraGop", "250"};
inline constexpr TFormatKey ParaCoder{"paraCoder", "1"};
}  // namespace profilekeys

// Keys of a format's section in the main settings file, with the defaults the
// options builder reads them with.
namespace formatkeys {
inline constexpr TFormatKey Description{"Description", ""};
inline constexpr TFormatKey ParaVideoSize{"paraVideoSize", "null"};
inline constexpr TFormatKey ParaVideoBitRate{"paraVideoBitRate", "512"};
inline constexpr TFormatKey ParaFrameRate{"paraFrameRate", "29.97"};
inline constexpr TFormatKey ParaVideoEncoder{"paraVideoEncoder", ""};
inline constexpr TFormatKey ParaBitExact{"paraBitExact", "True"};
inline constexpr TFormatKey ParaMaxBitrate{"paraMaxBitrate", "1500"};
inline constexpr TFormatKey ParaBufferSize{"paraBufferSize", "128"};
inline constexpr TFormatKey ParaLevel{"paraLevel", "13"};
inline constexpr TFormatKey ParaQscale{"paraQscale", "25"};
inline constexpr TFormatKey ParaGop{"paraGop", "250"};
inline constexpr TFormatKey ParaCoder{"paraCoder", "0"};
inline constexpr TFormatKey ParaSampleRate{"paraSampleRate", "44100"};
inline constexpr TFormatKey ParaAudioBitRate{"paraAudioBitRate", "128"};
inline constexpr TFormatKey ParaChannel{"paraChannel", "2"};
// 256 is the unchanged volume.
inline constexpr TFormatKey ParaVolume{"paraVolume", "256"};
inline constexpr TFormatKey ParaAudioEncoder{"paraAudioEncoder", "libfaac"};
}  // namespace formatkeys

// Reads a key of a format section with the key's default.
std::string ReadFormatKey(const TIniFile& ini, int formatIndex, const TFormatKey& key);

struct TProfileList {
  std::string Text;                // as stored; "null" when absent
  std::vector<std::string> Items;  // DecodeList of Text; "null" offers no item
  int DefaultIndex = 0;            // the profile's default choice

  bool IsNull() const { return Text == profilekeys::kListDefault; }
  // Neither "null" nor empty.
  bool Offered() const { return !IsNull() && !Text.empty(); }
};

struct TFormatProfile {
  int FormatIndex = 0;
  std::string FileExt;
  std::string Format;
  std::array<TProfileList, kFormatListCount> Lists;

  const TProfileList& List(TFormatList list) const { return Lists[list]; }
  // A format that offers no video encoder converts to audio only.
  bool AudioOnly() const { return !List(flVideoEncoder).Offered(); }
};

TFormatProfile ReadFormatProfile(const TIniFile& profileFile, int formatIndex);

// The container a profile's "Format" forces: the text as read when it is one
// of ipod, 3gp, 3g2, avi, psp, mov, vcd, flv (any letter case), else empty.
std::string ForcedContainer(const std::string& format);

// One list's selection in the settings dialog: the item index (-1 for none)
// and the item's text (empty for none).
struct TListChoice {
  int Index = -1;
  std::string Text;
};
// The item at index, or no selection when the index is outside the items.
TListChoice ChooseItem(const std::vector<std::string>& items, int index);

struct TFormatChoices {
  int FormatIndex = 0;
  std::array<TListChoice, kFormatListCount> Lists;

  TListChoice& operator[](TFormatList list) { return Lists[list]; }
  const TListChoice& operator[](TFormatList list) const { return Lists[list]; }
};

// The profile's default choice in every list (the dialog's Default button).
TFormatChoices DefaultFormatChoices(const TFormatProfile& profile);
// The choices saved in the main settings file's section (index keys, default
// 0), as the dialog shows them when it opens.
TFormatChoices SavedFormatChoices(const TFormatProfile& profile, const TIniFile& mainFile);

// Encoder names for the display names the dialog lists, compared in lower
// case; none for a name not in the table.
std::optional<std::string> VideoEncoderForDisplayName(const std::string& displayName);
std::optional<std::string> AudioEncoderForDisplayName(const std::string& displayName);
// The 256-based volume for a listed percentage (25 to 400); none otherwise.
std::optional<std::string> VolumeForPercent(int percent);
// "as source", "1" or "2" for the channel texts the dialog lists; none
// otherwise.
std::optional<std::string> ChannelValueFor(const std::string& channelText);

// Copies the seven H.264 parameters from the profile's section into the main
// settings file's section of the same format, each only when its rule holds.
// Raises EConvertError on a value that must be an integer and is not.
void CopyH264Parameters(TIniFile& mainFile, const TIniFile& profileFile, int formatIndex);

// The settings dialog's OK: stores the choices into mainFile in the fixed
// order (chosen format, description, indexes, texts, encoders, H.264
// parameters, channel, volume). A value that does not convert raises
// EConvertError; the keys written before it stay written.
void SaveFormatChoices(TIniFile& mainFile, const TIniFile& profileFile, const TFormatChoices& choices);
// The same on the files the global object names.
void SaveFormatChoices(const TGlobalObject& global, const TFormatChoices& choices);
