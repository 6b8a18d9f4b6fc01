#include "app/Settings.h"

#include "app/IniFile.h"

namespace {

std::string Text(std::string_view view) {
  return std::string(view);
}

}  // namespace

std::string ReadSetting(const TGlobalObject& global, const TSettingKey& key) {
  const TIniFile ini(global.MainIniFile());
  return ini.ReadString(Text(key.Section), Text(key.Key), Text(key.Default));
}

int ReadSettingInt(const TGlobalObject& global, const TSettingKey& key) {
  const TIniFile ini(global.MainIniFile());
  return ini.ReadInteger(Text(key.Section), Text(key.Key), StrToIntDef(Text(key.Default), 0));
}

void WriteSetting(const TGlobalObject& global, const TSettingKey& key, const std::string& value) {
  TIniFile ini(global.MainIniFile());
  ini.WriteString(Text(key.Section), Text(key.Key), value);
}

void WriteSettingInt(const TGlobalObject& global, const TSettingKey& key, int value) {
  TIniFile ini(global.MainIniFile());
  ini.WriteInteger(Text(key.Section), Text(key.Key), value);
}

std::string ReadFolderSetting(const TGlobalObject& global, const TSettingKey& key) {
  return global.MapFolderText(ReadSetting(global, key));
}

bool ReadSettingFlag(const TGlobalObject& global, const TSettingKey& key) {
  return ReadSettingInt(global, key) == 1;
}

std::optional<TConvertPriority> ConvertPriorityFor(int workPriority) {
  switch (workPriority) {
    case 0:
      return tpIdle;
    case 1:
      return tpNormal;
    case 2:
      return tpLower;
    case 3:
      return tpLowest;
    default:
      return std::nullopt;
  }
}

std::string_view WorkPriorityName(int workPriority) {
  switch (workPriority) {
    case 0:
      return "Idle";
    case 1:
      return "Normal";
    case 2:
      return "Lower";
    case 3:
      return "Lowest";
    default:
      return "";
  }
}
