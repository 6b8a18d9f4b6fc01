#pragma once
// Section "settings" of the main settings file: every key with its default,
// declared once, and the typed reads and writes the windows use.
//
// Threads: the user-interface thread.
#include <optional>
#include <string>
#include <string_view>

#include "app/GlobalUnit.h"
#include "engine/component/ConvertPriority.h"

struct TSettingKey {
  std::string_view Section;
  std::string_view Key;
  std::string_view Default;
};

namespace settings {
inline constexpr std::string_view kSection = "settings";
// Output folder for converted files; the default folder text stands for the
// default folder (TGlobalObject::MapFolderText).
inline constexpr TSettingKey OutPutDir{kSection, "OutPutDir", kDefaultFolderText};
// Index of the chosen output format, 0 to 17.
inline constexpr TSettingKey OutPutFormat{kSection, "OutPutFormat", "0"};
// Built-in skin, 0 to 6.
inline constexpr TSettingKey SkinIndex{kSection, "skinIndex", "0"};
// Work priority: 0 Idle, 1 Normal, 2 Lower, 3 Lowest.
inline constexpr TSettingKey Priority{kSection, "priority", "1"};
// Folder for snapshot pictures.
inline constexpr TSettingKey SnapOutPutDir{kSection, "SnapOutPutDir", kDefaultFolderText};
// Snapshot switches: set only when the value is exactly 1.
inline constexpr TSettingKey SnapFullSize{kSection, "snapFullSize", "1"};
inline constexpr TSettingKey SnapSmallSize{kSection, "snapSmallSize", "1"};
inline constexpr TSettingKey SnapBmp{kSection, "snapBmp", "1"};
inline constexpr TSettingKey SnapJpg{kSection, "snapJpg", "1"};
// JPEG quality 1 to 100.
inline constexpr TSettingKey JpgCmp{kSection, "jpgCmp", "30"};

inline constexpr TSettingKey kAll[] = {OutPutDir,    OutPutFormat,  SkinIndex, Priority, SnapOutPutDir,
                                       SnapFullSize, SnapSmallSize, SnapBmp,   SnapJpg,  JpgCmp};
}  // namespace settings

// Each call opens the main settings file, reads or writes one key and closes
// it again. Reads use the key's default when the key is absent; integer reads
// also when the text is not a number.
std::string ReadSetting(const TGlobalObject& global, const TSettingKey& key);
int ReadSettingInt(const TGlobalObject& global, const TSettingKey& key);
void WriteSetting(const TGlobalObject& global, const TSettingKey& key, const std::string& value);
void WriteSettingInt(const TGlobalObject& global, const TSettingKey& key, int value);

// A folder key (OutPutDir, SnapOutPutDir) as a real folder: the default
// folder text gives the default folder.
std::string ReadFolderSetting(const TGlobalObject& global, const TSettingKey& key);
// A snapshot switch: true only when the stored value is exactly 1.
bool ReadSettingFlag(const TGlobalObject& global, const TSettingKey& key);

// The converter priority for a stored work priority; none for a value outside
// 0 to 3, in which case the converter keeps the priority it has.
std::optional<TConvertPriority> ConvertPriorityFor(int workPriority);
// The preferences dialog's names of the four work priorities.
std::string_view WorkPriorityName(int workPriority);
