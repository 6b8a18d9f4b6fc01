// Output names: the "_(new)" sequence, names kept for other rows, the claim
// that never overwrites, and the output folder with its fallback.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/GlobalUnit.h"
#include "app/IniFile.h"
#include "app/OutputNaming.h"
#include "app/Settings.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempFolder;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A global object whose settings file, default folder and output folder all
// lie in a temporary folder.
class NamingTest : public ::testing::Test {
protected:
  NamingTest() {
    global_.SetMainIniFile(temp_.File("settings/tovrinflvvideoconverter.ini"));
    global_.SetDefaultFolder(temp_.File("home/dorozovizarizu"));
    SetOutputFolder(temp_.File("out"));
  }
  void SetOutputFolder(const std::string& folder) { WriteSetting(global_, settings::OutPutDir, folder); }
  std::string Out(const std::string& name) const { return temp_.File("out/" + name); }

  TempFolder temp_;
  TGlobalObject global_;
};

TEST(OutputNameTest, BaseNamesAndCandidates) {
  EXPECT_EQ(SourceBaseName("/videos/a.avi"), "a");
  EXPECT_EQ(SourceBaseName("/videos/clip.part1.mp4"), "clip.part1");
  EXPECT_EQ(SourceBaseName("/videos/noextension"), "noextension");
  EXPECT_EQ(SourceBaseName("/videos/.hidden"), ".hidden");
  EXPECT_EQ(SourceBaseName("/vid.eos/plain"), "plain");
  EXPECT_EQ(OutputNameCandidate("/o/a", 0, ".flv"), "/o/a_(new).flv");
  EXPECT_EQ(OutputNameCandidate("/o/a", 1, ".flv"), "/o/a_(new_1).flv");
  EXPECT_EQ(OutputNameCandidate("/o/a", 12, ".mp3"), "/o/a_(new_12).mp3");
}

TEST_F(NamingTest, TakesTheFirstNameNoFileHas) {
  TOutputNaming naming(global_);
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"), Out("a_(new).flv"));
  ASSERT_TRUE(fs::is_directory(temp_.File("out"))) << "the folder is created on first use";

  WriteText(Out("a_(new).flv"), "x");
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"), Out("a_(new_1).flv"));
  WriteText(Out("a_(new_1).flv"), "x");
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"), Out("a_(new_2).flv"));
  // Another extension is another name.
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".mp4"), Out("a_(new).mp4"));
  // A folder, or a link to nowhere, holds the name as well as a file does.
  fs::create_directory(Out("b_(new).flv"));
  fs::create_symlink(temp_.File("nowhere"), Out("b_(new_1).flv"));
  EXPECT_EQ(naming.MakeOutputFileName("/videos/b.avi", ".flv"), Out("b_(new_2).flv"));
}

TEST_F(NamingTest, NamesKeptForOtherRowsAreNotOfferedAgain) {
  TOutputNaming naming(global_);
  const std::set<std::string> kept = {Out("a_(new).flv"), Out("a_(new_2).flv")};
  EXPECT_EQ(naming.MakeOutputFileName("/one/a.avi", ".flv", kept), Out("a_(new_1).flv"));
}

TEST_F(NamingTest, AClaimedNameIsCreatedAndNeverClaimedTwice) {
  TOutputNaming naming(global_);
  fs::create_directories(temp_.File("out"));
  WriteText(Out("a_(new).flv"), "someone's file");
  // Two sources with the same base name, as two rows of one batch.
  std::string first, second, error;
  ASSERT_TRUE(naming.ReserveOutputFileName("/one/a.avi", ".flv", first, error)) << error;
  ASSERT_TRUE(naming.ReserveOutputFileName("/two/a.mkv", ".flv", second, error)) << error;
  EXPECT_EQ(first, Out("a_(new_1).flv"));
  EXPECT_EQ(second, Out("a_(new_2).flv"));
  EXPECT_TRUE(fs::exists(first));
  EXPECT_EQ(ReadText(Out("a_(new).flv")), "someone's file");

  // Giving a name back removes the claim, but never a file with content.
  TOutputNaming::ReleaseOutputFileName(first);
  EXPECT_FALSE(fs::exists(first));
  WriteText(second, "converted");
  TOutputNaming::ReleaseOutputFileName(second);
  EXPECT_EQ(ReadText(second), "converted");
}

TEST_F(NamingTest, AClaimThatCannotBeMadeReportsWhy) {
  TOutputNaming naming(global_);
  // A name longer than the file system allows.
  const std::string longName = "/videos/" + std::string(300, 'n') + ".avi";
  std::string name, error;
  EXPECT_FALSE(naming.ReserveOutputFileName(longName, ".flv", name, error));
  EXPECT_TRUE(name.empty());
  EXPECT_NE(error.find("_(new).flv: "), std::string::npos) << error;
}

TEST_F(NamingTest, MissingFoldersAreCreatedAndOneSeparatorJoinsTheName) {
  SetOutputFolder(temp_.File("deep/er/out/"));
  TOutputNaming naming(global_);
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".wav"), temp_.File("deep/er/out/a_(new).wav"));
  EXPECT_TRUE(fs::is_directory(temp_.File("deep/er/out")));
}

TEST_F(NamingTest, TheStoredDefaultFolderTextNamesTheDefaultFolder) {
  SetOutputFolder("C:\\dorozovizarizu");
  TOutputNaming naming(global_);
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"),
            temp_.File("home/dorozovizarizu/a_(new).flv"));
}

TEST_F(NamingTest, AFolderThatCannotBeCreatedFallsBackToTheDefaultFolder) {
  WriteText(temp_.File("blocker"), "a file where a folder should go");
  const std::string broken = temp_.File("blocker/out");
  SetOutputFolder(broken);
  TOutputNaming naming(global_);
  std::vector<std::string> warnings;
  naming.OnFolderWarning = [&](const std::string& text) { warnings.push_back(text); };

  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"),
            temp_.File("home/dorozovizarizu/a_(new).flv"));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Cannot create output directory:" + broken + ".It will create default directory " +
                             temp_.File("home/dorozovizarizu") + "!");
  EXPECT_TRUE(fs::is_directory(temp_.File("home/dorozovizarizu")));
  // The default folder is stored in its settings spelling; the next name
  // comes from it without a warning.
  EXPECT_EQ(ReadSetting(global_, settings::OutPutDir), "c:\\dorozovizarizu");
  naming.MakeOutputFileName("/videos/b.avi", ".flv");
  EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(NamingTest, WithoutStoringTheFallbackWarnsOnceAndLeavesTheSettings) {
  WriteText(temp_.File("blocker"), "a file where a folder should go");
  SetOutputFolder(temp_.File("blocker/out"));
  TOutputNaming naming(global_);
  naming.SetStoreFallback(false);
  int warnings = 0;
  naming.OnFolderWarning = [&](const std::string&) { ++warnings; };
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"),
            temp_.File("home/dorozovizarizu/a_(new).flv"));
  EXPECT_EQ(naming.MakeOutputFileName("/videos/b.avi", ".flv"),
            temp_.File("home/dorozovizarizu/b_(new).flv"));
  EXPECT_EQ(warnings, 1);
  EXPECT_EQ(ReadSetting(global_, settings::OutPutDir), temp_.File("blocker/out"));
}

TEST_F(NamingTest, AnOverriddenFolderHasNoFallback) {
  WriteText(temp_.File("blocker"), "a file where a folder should go");
  TOutputNaming naming(global_);
  naming.SetFolderOverride(temp_.File("blocker/out"));
  int warnings = 0;
  naming.OnFolderWarning = [&](const std::string&) { ++warnings; };
  EXPECT_EQ(naming.MakeOutputFileName("/videos/a.avi", ".flv"), "");
  EXPECT_NE(naming.LastError().find(temp_.File("blocker/out")), std::string::npos) << naming.LastError();
  std::string name, error;
  EXPECT_FALSE(naming.ReserveOutputFileName("/videos/a.avi", ".flv", name, error));
  EXPECT_EQ(warnings, 0);
  EXPECT_FALSE(fs::exists(temp_.File("home/dorozovizarizu")));
}

}  // namespace
