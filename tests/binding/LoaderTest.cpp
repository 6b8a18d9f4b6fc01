#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <filesystem>

#include "engine/binding/MediaLibraries.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kStandIn = TOVRIN_STANDIN_DIR;

// Full path of an installed library, found through the system's search.
std::string InstalledPath(const std::string& name) {
  // Kept mapped, like the loader keeps them: unmapping the media libraries
  // would orphan what their dependencies allocated when they started.
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) return "";
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map) path = map->l_name;
  dlclose(handle);
  return path;
}

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override { UnloadMediaLibraries(); }
  void TearDown() override { UnloadMediaLibraries(); }
};

TEST_F(LoaderTest, FileNamesFollowTheVersionedFlag) {
  std::string error;
  LoadAVUtilLibrary(error, "", false);
  EXPECT_EQ(AVUtilLibraryName(), "libavutil.so");
  LoadAVUtilLibrary(error, "", true);
  EXPECT_EQ(AVUtilLibraryName(), "libavutil.so.57");
  EXPECT_EQ(AVCodecLibraryName(), "libavcodec.so.59");
  EXPECT_EQ(SwResampleLibraryName(), "libswresample.so.4");
}

TEST_F(LoaderTest, LoadsTheInstalledSetAndASecondLoadIsANoOp) {
  ASSERT_TRUE(LoadMediaLibraries("", true)) << MediaLibrariesError();
  EXPECT_TRUE(MediaLibrariesLoaded());
  EXPECT_TRUE(AVCodecLoaded() && AVFilterLoaded() && AVFormatLoaded() && AVUtilLoaded() && SwScaleLoaded() &&
              SwResampleLoaded() && MyUtilLoaded());
  EXPECT_EQ(MediaLibrariesError(), "");
  EXPECT_EQ(CurrentLogLevel, FF.av_log_get_level());
  auto* openFunction = FF.avcodec_open2;
  ASSERT_NE(openFunction, nullptr);

  // A second load neither fails nor resolves again, even from a folder that
  // holds nothing usable.
  EXPECT_TRUE(LoadMediaLibraries("/nonexistent-folder", true));
  EXPECT_EQ(FF.avcodec_open2, openFunction);
}

TEST_F(LoaderTest, UnloadClearsFlagsAndPointers) {
  ASSERT_TRUE(LoadMediaLibraries("", true));
  UnloadMediaLibraries();
  EXPECT_FALSE(MediaLibrariesLoaded());
  EXPECT_FALSE(AVCodecLoaded());
  EXPECT_FALSE(MyUtilLoaded());
  EXPECT_EQ(FF.avcodec_open2, nullptr);
  EXPECT_EQ(FF.av_log, nullptr);
}

TEST_F(LoaderTest, MissingFileNamesTheVersionedFileEvenWhenThePlainOneExists) {
  EXPECT_FALSE(LoadMediaLibraries(kStandIn + "/plain", true));
  const std::string error = MediaLibrariesError();
  EXPECT_EQ(error.rfind("Load libraray libavcodec.so.59 error: ", 0), 0u) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(MediaLibrariesLoaded());
}

TEST_F(LoaderTest, MissingFunctionNamesFunctionAndFile) {
  EXPECT_FALSE(LoadMediaLibraries(kStandIn + "/partial", true));
  // The stand-in exports the first listed function but not the second.
  EXPECT_EQ(MediaLibrariesError().rfind("Load function avcodec_find_decoder@libavcodec.so.59 error: ", 0), 0u)
      << MediaLibrariesError();
  EXPECT_FALSE(AVCodecLoaded());
  EXPECT_EQ(FF.avcodec_find_encoder, nullptr);
}

TEST_F(LoaderTest, PerLibraryLoadReportsItsOwnError) {
  std::string error = "untouched";
  EXPECT_TRUE(LoadAVUtilLibrary(error, "", true));
  EXPECT_EQ(error, "untouched");
  EXPECT_FALSE(LoadAVCodecLibrary(error, kStandIn + "/plain", true, true));
  EXPECT_EQ(error.rfind("Load libraray libavcodec.so.59 error: ", 0), 0u) << error;
  EXPECT_TRUE(AVUtilLoaded());
}

TEST_F(LoaderTest, FailureInTheFourthLibraryUnloadsTheFirstThree) {
  testsupport::TempFolder folder;
  for (const char* name : {"libavcodec.so.59", "libavfilter.so.8", "libavformat.so.59"}) {
    const std::string path = InstalledPath(name);
    ASSERT_FALSE(path.empty()) << name;
    std::filesystem::create_symlink(path, folder.File(name));
  }
  EXPECT_FALSE(LoadMediaLibraries(folder.Path(), true));
  EXPECT_EQ(MediaLibrariesError().rfind("Load libraray libavutil.so.57 error: ", 0), 0u)
      << MediaLibrariesError();
  EXPECT_FALSE(AVCodecLoaded());
  EXPECT_FALSE(AVFilterLoaded());
  EXPECT_FALSE(AVFormatLoaded());
  EXPECT_EQ(FF.avformat_open_input, nullptr);
}

TEST_F(LoaderTest, ResolveRaisesForAnUnknownName) {
  ASSERT_TRUE(LoadMediaLibraries("", true));
  void* pointer = nullptr;
  ResolveAVUtilFunction("av_malloc", pointer);
  EXPECT_NE(pointer, nullptr);
  try {
    ResolveAVUtilFunction("no_such_function", pointer);
    FAIL() << "expected an exception";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Load function no_such_function@libavutil.so.57 error: ", 0), 0u)
        << e.what();
  }
}

}  // namespace
