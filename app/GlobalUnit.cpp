#include "app/GlobalUnit.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "engine/binding/ProgramFolder.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

TAppPaths TAppPaths::FromEnvironment() {
  TAppPaths paths;
  paths.ProgramFolder = ::ProgramFolder();
  paths.HomeFolder = Environment("HOME");
  if (paths.HomeFolder.empty()) {
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) paths.HomeFolder = entry->pw_dir;
  }
  paths.HomeFolder = WithoutTrailingSlash(paths.HomeFolder);
  // A relative XDG_CONFIG_HOME is invalid and ignored.
  const std::string config = Environment("XDG_CONFIG_HOME");
  paths.ConfigFolder =
      !config.empty() && config[0] == '/' ? WithoutTrailingSlash(config) : paths.HomeFolder + "/.config";
  return paths;
}

std::string TAppPaths::MainIniFile() const {
  return ConfigFolder + "/tovrinflvvideoconverter/tovrinflvvideoconverter.ini";
}

std::string TAppPaths::FormatIniFile() const {
  const std::string beside = ProgramFolder + "tovrinflvformat.ini";
  if (FileExists(beside)) return beside;
  const std::string installed = ProgramFolder + "../share/tovrinflvvideoconverter/tovrinflvformat.ini";
  return FileExists(installed) ? installed : beside;
}

std::string TAppPaths::DefaultFolder() const {
  return HomeFolder + "/dorozovizarizu";
}

void TGlobalObject::SetHelpPageUrl(const std::string& value) {
  if (!value.empty()) helpPageUrl_ = value;
}
void TGlobalObject::SetMainIniFile(const std::string& value) {
  if (value.size() > 3) mainIniFile_ = value;
}
void TGlobalObject::SetFormatIniFile(const std::string& value) {
  if (value.size() > 3) formatIniFile_ = value;
}
void TGlobalObject::SetProductName(const std::string& value) {
  if (!value.empty()) productName_ = value;
}
void TGlobalObject::SetVersionText(const std::string& value) {
  if (!value.empty()) versionText_ = value;
}
void TGlobalObject::SetWebSiteUrl(const std::string& value) {
  if (!value.empty()) webSiteUrl_ = value;
}
void TGlobalObject::SetDefaultFolder(const std::string& value) {
  if (!value.empty()) defaultFolder_ = value;
}

std::string TGlobalObject::RightChars(const std::string& text, int count) {
  if (count <= 0) return {};
  const size_t n = static_cast<size_t>(count);
  return n >= text.size() ? text : text.substr(text.size() - n);
}

std::string TGlobalObject::MapFolderText(const std::string& text) const {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == kDefaultFolderText || lower == std::string(kDefaultFolderText) + "\\") return defaultFolder_;
  return text;
}

TGlobalObject* GlobalObject = nullptr;

TGlobalObject& CreateGlobalObject(const TAppPaths& paths) {
  FreeGlobalObject();
  GlobalObject = new TGlobalObject;
  GlobalObject->SetMainIniFile(paths.MainIniFile());
  GlobalObject->SetFormatIniFile(paths.FormatIniFile());
  GlobalObject->SetProductName(kProductName);
  GlobalObject->SetVersionText(kVersionText);
  GlobalObject->SetWebSiteUrl(kWebSiteUrl);
  GlobalObject->SetHelpPageUrl(kHelpPageUrl);
  GlobalObject->SetDefaultFolder(paths.DefaultFolder());
  return *GlobalObject;
}

void FreeGlobalObject() {
  delete GlobalObject;
  GlobalObject = nullptr;
}
