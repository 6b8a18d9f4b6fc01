#pragma once
// The application-wide object: product texts and where the two INI files and
// the default folder are.
//
// Threads: created, read and changed on the user-interface thread.
#include <string>

// Where the program keeps its files. Filled from the environment for the real
// program; tests point every folder into a temporary folder.
struct TAppPaths {
  std::string ProgramFolder;  // the program's folder, with a trailing "/"
  std::string ConfigFolder;   // the user's configuration folder, no trailing "/"
  std::string HomeFolder;     // the user's home folder, no trailing "/"

  // $XDG_CONFIG_HOME (an absolute path) or $HOME/.config; $HOME or the
  // password database's home; the folder of the running program.
  static TAppPaths FromEnvironment();

  // <config>/tovrinflvvideoconverter/tovrinflvvideoconverter.ini
  std::string MainIniFile() const;
  // tovrinflvformat.ini beside the program; an installed program finds it in
  // <program>/../share/tovrinflvvideoconverter/ when it is not beside it.
  std::string FormatIniFile() const;
  // <home>/dorozovizarizu: the default output and snapshot folder.
  std::string DefaultFolder() const;
};

class TGlobalObject {
public:
  TGlobalObject() = default;

  // Each setter keeps the previous value when the new one breaks its rule:
  // the URLs and product texts must not be empty, the file paths must be
  // longer than 3 characters.
  void SetHelpPageUrl(const std::string& value);
  void SetMainIniFile(const std::string& value);
  void SetFormatIniFile(const std::string& value);
  void SetProductName(const std::string& value);
  void SetVersionText(const std::string& value);
  void SetWebSiteUrl(const std::string& value);
  // The folder that stands for the default folder text of the settings.
  void SetDefaultFolder(const std::string& value);

  const std::string& HelpPageUrl() const { return helpPageUrl_; }
  const std::string& MainIniFile() const { return mainIniFile_; }
  const std::string& FormatIniFile() const { return formatIniFile_; }
  const std::string& ProductName() const { return productName_; }
  const std::string& VersionText() const { return versionText_; }
  const std::string& WebSiteUrl() const { return webSiteUrl_; }
  const std::string& DefaultFolder() const { return defaultFolder_; }

  // The last count characters of text, or all of it when it is shorter.
  static std::string RightChars(const std::string& text, int count);

  // A stored folder text as a real folder: the default folder text
  // "c:\dorozovizarizu" (any letter case, with or without a trailing
  // backslash) names DefaultFolder(); any other text is returned unchanged.
  std::string MapFolderText(const std::string& text) const;

private:
  std::string helpPageUrl_;
  std::string mainIniFile_;
  std::string formatIniFile_;
  std::string productName_;
  std::string versionText_;
  std::string webSiteUrl_;
  std::string defaultFolder_;
};

inline constexpr const char* kProductName = "Tovrin FLV Video Converter";
inline constexpr const char* kVersionText = " ver 1.32 ";
inline constexpr const char* kWebSiteUrl = "https://tovrin.example.org/";
inline constexpr const char* kHelpPageUrl = "https://tovrin.example.org/help/flv-video-converter.html";
// The default folder as the settings spell it.
inline constexpr const char* kDefaultFolderText = "c:\\dorozovizarizu";

// The one instance, alive while the main window lives. CreateGlobalObject sets
// the files, the product texts and the addresses in that order.
extern TGlobalObject* GlobalObject;
TGlobalObject& CreateGlobalObject(const TAppPaths& paths);
void FreeGlobalObject();
