// Settings files, the global object and the paths the program uses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/GlobalUnit.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::TempFolder;

void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sets an environment variable for one scope and restores it after.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(StrToIntTest, AcceptsDecimalAndHexadecimalOnly) {
  struct Case {
    const char* text;
    std::optional<int> value;
  } cases[] = {
      {"42", 42},
      {"-7", -7},
      {"  12", 12},
      {"0x1F", 31},
      {"0XfF", 255},
      {"0xFFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"2147483648", std::nullopt},
      {"", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"1.5", std::nullopt},
      {"abc", std::nullopt},
      {"$10", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value);
      EXPECT_EQ(StrToIntDef(c.text, 99), *c.value);
    } else {
      EXPECT_THROW(StrToInt(c.text), EConvertError);
      EXPECT_EQ(StrToIntDef(c.text, 99), 99);
    }
  }
  try {
    StrToInt("abc");
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
  }
}

TEST(StrToFloatTest, DecimalTextOnly) {
  EXPECT_DOUBLE_EQ(StrToFloat("96.5"), 96.5);
  EXPECT_DOUBLE_EQ(StrToFloat("128"), 128.0);
  EXPECT_DOUBLE_EQ(StrToFloat("-0.25"), -0.25);
  for (const char* text : {"", "abc", "1,5", "inf", "nan", "0x10", "12k", "1.5 "}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(StrToFloat(text), EConvertError);
  }
}

TEST(IniFileTest, ReadsWithDefaultsAndWithoutRegardToCase) {
  TempFolder folder;
  const std::string path = folder.File("a.ini");
  WriteText(path,
            "[Settings]\n"
            "Priority=3\n"
            "Empty=\n"
            "Hex=0x10\n"
            "Word=abc\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("settings", "priority", 1), 3);
  EXPECT_EQ(ini.ReadInteger("SETTINGS", "hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("settings", "word", 5), 5);
  EXPECT_EQ(ini.ReadInteger("settings", "missing", 7), 7);
  EXPECT_EQ(ini.ReadInteger("settings", "empty", 8), 8);
  // A key present with an empty value reads as empty; only an absent key gives the default.
  EXPECT_EQ(ini.ReadString("settings", "EMPTY", "default"), "");
  EXPECT_EQ(ini.ReadString("settings", "absent", "default"), "default");
  EXPECT_EQ(ini.ReadString("other", "word", "default"), "default");
  EXPECT_TRUE(ini.SectionExists("SETTINGS"));
  EXPECT_FALSE(ini.SectionExists("formatInfo0"));
  EXPECT_TRUE(ini.ValueExists("settings", "WORD"));
  EXPECT_EQ(ini.KeyNames("settings"), (std::vector<std::string>{"Priority", "Empty", "Hex", "Word"}));
}

TEST(IniFileTest, FirstWriteCreatesFileAndFolderAndEachWriteIsSeenByTheNextReader) {
  TempFolder folder;
  const std::string path = folder.File("config/tovrinflvvideoconverter/settings.ini");
  EXPECT_EQ(TIniFile(path).ReadString("settings", "a", "none"), "none");
  EXPECT_FALSE(std::filesystem::exists(path));  // reading creates nothing
  {
    TIniFile ini(path);
    ini.WriteString("settings", "priority", "2");
    ini.WriteInteger("settings", "snapOutPutDir", -1);
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  {
    // Written under one spelling, rewritten under another: still one key.
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Settings", "Priority", 0), 2);
    ini.WriteString("SETTINGS", "PRIORITY", "3");
  }
  EXPECT_EQ(TIniFile(path).ReadInteger("settings", "priority", 0), 3);
  EXPECT_EQ(TIniFile(path).ReadString("settings", "SnapOutPutDir", ""), "-1");
  const std::string text = ReadText(path);
  EXPECT_EQ(text.find("PRIORITY"), std::string::npos) << text;
  EXPECT_NE(text.find("priority=3"), std::string::npos) << text;
}

TEST(IniFileTest, InMemoryObjectKeepsWritesAndSavesNothing) {
  TIniFile ini("");
  ini.WriteString("s", "k", "v");
  EXPECT_EQ(ini.ReadString("S", "K", ""), "v");
}

TEST(IniFileTest, UnwritableFileRaises) {
  TempFolder folder;
  const std::string blocker = folder.File("file");
  WriteText(blocker, "not a folder");
  TIniFile ini(blocker + "/settings.ini");
  EXPECT_THROW(ini.WriteString("s", "k", "v"), EIniFileException);
}

TEST(GlobalObjectTest, SettersKeepThePreviousValueWhenTheRuleFails) {
  TGlobalObject global;
  global.SetMainIniFile("/a/b");
  EXPECT_EQ(global.MainIniFile(), "/a/b");
  global.SetMainIniFile("/ab");  // 3 characters: rejected
  EXPECT_EQ(global.MainIniFile(), "/a/b");
  global.SetFormatIniFile("abc");
  EXPECT_EQ(global.FormatIniFile(), "");
  global.SetFormatIniFile("abcd");
  EXPECT_EQ(global.FormatIniFile(), "abcd");

  global.SetProductName(kProductName);
  global.SetProductName("");
  EXPECT_EQ(global.ProductName(), "Tovrin FLV Video Converter");
  global.SetVersionText(kVersionText);
  global.SetVersionText("");
  EXPECT_EQ(global.VersionText(), " ver 1.32 ");
  global.SetWebSiteUrl("w");
  global.SetWebSiteUrl("");
  EXPECT_EQ(global.WebSiteUrl(), "w");
  global.SetHelpPageUrl("h");
  global.SetHelpPageUrl("");
  EXPECT_EQ(global.HelpPageUrl(), "h");
}

TEST(GlobalObjectTest, RightChars) {
  EXPECT_EQ(TGlobalObject::RightChars("abc", 5), "abc");
  EXPECT_EQ(TGlobalObject::RightChars("abc", 1), "c");
  EXPECT_EQ(TGlobalObject::RightChars("abc", 3), "abc");
  EXPECT_EQ(TGlobalObject::RightChars("abc", 0), "");
  EXPECT_EQ(TGlobalObject::RightChars("", 2), "");
}

TEST(PathsTest, FromEnvironment) {
  TempFolder folder;
  {
    ScopedEnvironment home("HOME", folder.Path().c_str());
    ScopedEnvironment config("XDG_CONFIG_HOME", (folder.Path() + "/cfg/").c_str());
    const TAppPaths paths = TAppPaths::FromEnvironment();
    EXPECT_EQ(paths.MainIniFile(),
              folder.Path() + "/cfg/tovrinflvvideoconverter/tovrinflvvideoconverter.ini");
    EXPECT_EQ(paths.DefaultFolder(), folder.Path() + "/dorozovizarizu");
    // The test program's own folder: the profiles lie beside the programs, not here.
    EXPECT_EQ(paths.FormatIniFile(), paths.ProgramFolder + "tovrinflvformat.ini");
    EXPECT_EQ(paths.ProgramFolder.back(), '/');
  }
  {
    ScopedEnvironment home("HOME", folder.Path().c_str());
    ScopedEnvironment config("XDG_CONFIG_HOME", "relative/path");  // invalid: ignored
    EXPECT_EQ(TAppPaths::FromEnvironment().MainIniFile(),
              folder.Path() + "/.config/tovrinflvvideoconverter/tovrinflvvideoconverter.ini");
  }
  {
    ScopedEnvironment home("HOME", folder.Path().c_str());
    ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(TAppPaths::FromEnvironment().ConfigFolder, folder.Path() + "/.config");
  }
}

TEST(PathsTest, InstalledProfileFileIsFoundInTheDataFolder) {
  TempFolder folder;
  TAppPaths paths;
  paths.ProgramFolder = folder.Path() + "/bin/";
  std::filesystem::create_directories(paths.ProgramFolder);
  EXPECT_EQ(paths.FormatIniFile(), paths.ProgramFolder + "tovrinflvformat.ini");
  const std::string installed = folder.Path() + "/share/tovrinflvvideoconverter/tovrinflvformat.ini";
  WriteText(installed, "[formatInfo0]\n");
  EXPECT_EQ(paths.FormatIniFile(),
            paths.ProgramFolder + "../share/tovrinflvvideoconverter/tovrinflvformat.ini");
  WriteText(paths.ProgramFolder + "tovrinflvformat.ini", "[formatInfo0]\n");
  EXPECT_EQ(paths.FormatIniFile(), paths.ProgramFolder + "tovrinflvformat.ini");
}

class SettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    TAppPaths paths;
    paths.ProgramFolder = folder_.Path() + "/bin/";
    paths.ConfigFolder = folder_.Path() + "/config";
    paths.HomeFolder = folder_.Path() + "/home";
    CreateGlobalObject(paths);
  }
  void TearDown() override { FreeGlobalObject(); }
  void WriteSettings(const std::string& text) { WriteText(GlobalObject->MainIniFile(), text); }

  TempFolder folder_;
};

TEST_F(SettingsTest, GlobalObjectIsCreatedWithThePathsAndProductTexts) {
  ASSERT_NE(GlobalObject, nullptr);
  EXPECT_EQ(GlobalObject->MainIniFile(),
            folder_.Path() + "/config/tovrinflvvideoconverter/tovrinflvvideoconverter.ini");
  EXPECT_EQ(GlobalObject->FormatIniFile(), folder_.Path() + "/bin/tovrinflvformat.ini");
  EXPECT_EQ(GlobalObject->ProductName(), "Tovrin FLV Video Converter");
  EXPECT_EQ(GlobalObject->VersionText(), " ver 1.32 ");
  EXPECT_FALSE(GlobalObject->WebSiteUrl().empty());
  EXPECT_FALSE(GlobalObject->HelpPageUrl().empty());
}

TEST_F(SettingsTest, EveryKeyReadsItsDefaultFromAMissingFile) {
  const TGlobalObject& global = *GlobalObject;
  const std::string home = folder_.Path() + "/home/dorozovizarizu";
  EXPECT_EQ(ReadFolderSetting(global, settings::OutPutDir), home);
  EXPECT_EQ(ReadFolderSetting(global, settings::SnapOutPutDir), home);
  EXPECT_EQ(ReadSettingInt(global, settings::OutPutFormat), 0);
  EXPECT_EQ(ReadSettingInt(global, settings::SkinIndex), 0);
  EXPECT_EQ(ReadSettingInt(global, settings::Priority), 1);
  EXPECT_TRUE(ReadSettingFlag(global, settings::SnapFullSize));
  EXPECT_TRUE(ReadSettingFlag(global, settings::SnapSmallSize));
  EXPECT_TRUE(ReadSettingFlag(global, settings::SnapBmp));
  EXPECT_TRUE(ReadSettingFlag(global, settings::SnapJpg));
  EXPECT_EQ(ReadSettingInt(global, settings::JpgCmp), 30);
  for (const TSettingKey& key : settings::kAll) EXPECT_EQ(key.Section, "settings");
  EXPECT_FALSE(std::filesystem::exists(global.MainIniFile()));
}

TEST_F(SettingsTest, StoredValuesWhateverTheirSpelling) {
  WriteSettings(
      "[SETTINGS]\n"
      "outputdir=/media/out\n"
      "Priority=3\n"
      "snapJpg=2\n"
      "SNAPBMP=0\n"
      "snapfullsize=1\n"
      "jpgCmp=0x50\n"
      "skinIndex=bad\n"
      "SnapOutPutDir=C:\\DOROZOVIZARIZU\\\n");
  const TGlobalObject& global = *GlobalObject;
  EXPECT_EQ(ReadFolderSetting(global, settings::OutPutDir), "/media/out");
  EXPECT_EQ(ReadSettingInt(global, settings::Priority), 3);
  EXPECT_FALSE(ReadSettingFlag(global, settings::SnapJpg));  // only exactly 1 counts
  EXPECT_FALSE(ReadSettingFlag(global, settings::SnapBmp));
  EXPECT_TRUE(ReadSettingFlag(global, settings::SnapFullSize));
  EXPECT_EQ(ReadSettingInt(global, settings::JpgCmp), 80);
  EXPECT_EQ(ReadSettingInt(global, settings::SkinIndex), 0);
  // The old default folder text in any letter case names the default folder.
  EXPECT_EQ(ReadFolderSetting(global, settings::SnapOutPutDir), folder_.Path() + "/home/dorozovizarizu");

  // The preferences dialog writes "snapOutPutDir" and reads "SnapOutPutDir".
  WriteSetting(global, {"settings", "snapOutPutDir", ""}, "/media/snaps");
  EXPECT_EQ(ReadFolderSetting(global, settings::SnapOutPutDir), "/media/snaps");
  WriteSettingInt(global, settings::OutPutFormat, 9);
  EXPECT_EQ(ReadSettingInt(global, settings::OutPutFormat), 9);
}

TEST(WorkPriorityTest, MapsTheFourStoredValuesAndNothingElse) {
  EXPECT_EQ(ConvertPriorityFor(0), tpIdle);
  EXPECT_EQ(ConvertPriorityFor(1), tpNormal);
  EXPECT_EQ(ConvertPriorityFor(2), tpLower);
  EXPECT_EQ(ConvertPriorityFor(3), tpLowest);
  EXPECT_EQ(ConvertPriorityFor(7), std::nullopt);
  EXPECT_EQ(ConvertPriorityFor(-1), std::nullopt);
  EXPECT_EQ(WorkPriorityName(0), "Idle");
  EXPECT_EQ(WorkPriorityName(3), "Lowest");
}

}  // namespace
