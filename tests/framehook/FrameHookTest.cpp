#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "engine/binding/FrameHook.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPaint = TOVRIN_HOOK_PAINT;
const std::string kNoRelease = TOVRIN_HOOK_NORELEASE;
const std::string kNoConfigure = TOVRIN_HOOK_NOCONFIGURE;
const std::string kRefuse = TOVRIN_HOOK_REFUSE;
const std::string kNoProcess = TOVRIN_HOOK_NOPROCESS;

// The counters a test plug-in keeps, read from the library the engine loaded.
// The plug-in libraries are never unloaded, so the counters only grow: tests
// compare against a snapshot taken before they act.
struct HookCounters {
  int configure = 0, process = 0, release = 0;
  std::string arguments, releasedMarks;
  int pixelFormat = -1, width = -1, height = -1;
  int64_t pts = -1;
};

HookCounters ReadCounters(const std::string& path) {
  HookCounters counters;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!library) return counters;
  auto value = [library](const char* name) -> void* { return dlsym(library, name); };
  counters.configure = *static_cast<int*>(value("HookConfigureCalls"));
  counters.process = *static_cast<int*>(value("HookProcessCalls"));
  counters.release = *static_cast<int*>(value("HookReleaseCalls"));
  counters.arguments = static_cast<const char*>(value("HookLastArguments"));
  counters.releasedMarks = static_cast<const char*>(value("HookReleasedMarks"));
  counters.pixelFormat = *static_cast<int*>(value("HookLastPixelFormat"));
  counters.width = *static_cast<int*>(value("HookLastWidth"));
  counters.height = *static_cast<int*>(value("HookLastHeight"));
  counters.pts = *static_cast<int64_t*>(value("HookLastPts"));
  dlclose(library);
  return counters;
}

// Adds a hook from argument words, the way the session hands them over.
int Add(TFrameHookEntry*& head, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return AddFrameHook(head, static_cast<int>(argv.size()), argv.data());
}

int ChainLength(const TFrameHookEntry* head) {
  int length = 0;
  for (; head; head = head->next) ++length;
  return length;
}

// A one-row picture whose bytes collect the marks the hooks write.
struct MarkPicture {
  char bytes[32] = {};
  FrameHookPicture picture{};
  MarkPicture() {
    picture.data[0] = reinterpret_cast<uint8_t*>(bytes);
    picture.linesize[0] = sizeof bytes - 1;
  }
  std::string Marks() const { return bytes; }
};

class FrameHookTest : public ::testing::Test {
protected:
  void SetUp() override { testsupport::LoadLibrariesOrFail(); }
  void TearDown() override { ReleaseFrameHooks(head_); }
  TFrameHookEntry* head_ = nullptr;
};

TEST_F(FrameHookTest, ChainRunsInOrderWithOwnContextsAndReleases) {
  const HookCounters paintBefore = ReadCounters(kPaint);
  const HookCounters noConfigureBefore = ReadCounters(kNoConfigure);

  ASSERT_EQ(Add(head_, {kPaint, "a", "x"}), 0);
  ASSERT_EQ(Add(head_, {kNoConfigure}), 0);  // no arguments: added without a configure call
  ASSERT_EQ(Add(head_, {kPaint, "b"}), 0);
  ASSERT_EQ(Add(head_, {kNoRelease, "r"}), 0);
  EXPECT_EQ(ChainLength(head_), 4);

  const HookCounters paintConfigured = ReadCounters(kPaint);
  EXPECT_EQ(paintConfigured.configure - paintBefore.configure, 2);
  EXPECT_EQ(paintConfigured.arguments, kPaint + ",b");

  MarkPicture picture;
  ProcessFrameHooks(head_, &picture.picture, 3, 160, 120, 1234567);
  ProcessFrameHooks(head_, &picture.picture, 3, 160, 120, 1274567);
  // Chain order, each paint hook with its own context; the hook without
  // "Configure" runs with a null context.
  EXPECT_EQ(picture.Marks(), "anbranbr");

  const HookCounters paintProcessed = ReadCounters(kPaint);
  EXPECT_EQ(paintProcessed.process - paintBefore.process, 4);
  EXPECT_EQ(paintProcessed.pixelFormat, 3);
  EXPECT_EQ(paintProcessed.width, 160);
  EXPECT_EQ(paintProcessed.height, 120);
  EXPECT_EQ(paintProcessed.pts, 1274567);

  ReleaseFrameHooks(head_);
  EXPECT_EQ(head_, nullptr);
  const HookCounters paintReleased = ReadCounters(kPaint);
  EXPECT_EQ(paintReleased.release - paintBefore.release, 2);
  EXPECT_EQ(paintReleased.releasedMarks.substr(paintBefore.releasedMarks.size()), "ab");
  const HookCounters noConfigureReleased = ReadCounters(kNoConfigure);
  EXPECT_EQ(noConfigureReleased.release - noConfigureBefore.release, 1);
  EXPECT_EQ(noConfigureReleased.releasedMarks.substr(noConfigureBefore.releasedMarks.size()), "n");

  // Released hooks are no longer called, and the libraries stay loaded.
  MarkPicture after;
  ProcessFrameHooks(head_, &after.picture, 3, 160, 120, 0);
  EXPECT_EQ(after.Marks(), "");
  void* stillLoaded = dlopen(kPaint.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(stillLoaded, nullptr);
  if (stillLoaded) dlclose(stillLoaded);
}

TEST_F(FrameHookTest, ALibraryIsLoadedOncePerPathWhateverItsLetterCase) {
  ASSERT_EQ(Add(head_, {kPaint, "p"}), 0);
  std::string upper = kPaint;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  struct stat info;
  ASSERT_NE(stat(upper.c_str(), &info), 0) << "the upper-case path must not exist on disk";

  // Only the cache can answer this path: the file system cannot.
  const HookCounters before = ReadCounters(kPaint);
  ASSERT_EQ(Add(head_, {upper, "q"}), 0);
  EXPECT_EQ(ReadCounters(kPaint).configure - before.configure, 1);

  MarkPicture picture;
  ProcessFrameHooks(head_, &picture.picture, 0, 2, 2, 0);
  EXPECT_EQ(picture.Marks(), "pq");
}

TEST_F(FrameHookTest, FailuresReturnTheirCodeLogTheirLineAndLeaveTheChain) {
  ASSERT_EQ(Add(head_, {kPaint, "k"}), 0);
  const std::string missing = "/nonexistent-folder/missing_hook.so";
  struct Case {
    std::vector<std::string> words;
    int code;
    std::string log;  // exact log text; empty for none
  };
  const Case cases[] = {
      {{}, kFrameHookMissingEntry, ""},
      {{kNoProcess}, kFrameHookMissingEntry, "Failed to find Process entrypoint in " + kNoProcess + "\n"},
      {{kNoConfigure, "arg"}, kFrameHookMissingEntry, "Failed to find Configure entrypoint in " + kNoConfigure + "\n"},
      {{kRefuse, "arg"}, kFrameHookConfigRefused, "Failed to Configure " + kRefuse + "\n"},
  };
  for (const Case& c : cases) {
    testsupport::LogCapture log;
    EXPECT_EQ(Add(head_, c.words), c.code) << c.log;
    EXPECT_EQ(log.Text(), c.log);
    EXPECT_EQ(ChainLength(head_), 1) << c.log;
  }

  // A library that does not load logs the loader's reason, which names it.
  testsupport::LogCapture log;
  EXPECT_EQ(Add(head_, {missing}), kFrameHookNotLoadable);
  EXPECT_NE(log.Text().find("missing_hook.so"), std::string::npos) << log.Text();
  EXPECT_EQ(log.Text().back(), '\n');
  EXPECT_EQ(ChainLength(head_), 1);

  // The refusing plug-in was asked, with its path and arguments.
  EXPECT_EQ(ReadCounters(kRefuse).arguments, kRefuse + ",arg");

  MarkPicture picture;
  ProcessFrameHooks(head_, &picture.picture, 0, 2, 2, 0);
  EXPECT_EQ(picture.Marks(), "k");
}

TEST(SplitHookArgumentsTest, SplitsAtBarsElseSpaces) {
  struct Case {
    std::string text;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"/hooks/logo.so|a b", {"/hooks/logo.so", "a b"}},
      {"/hooks/logo.so a b", {"/hooks/logo.so", "a", "b"}},
      {"  /hooks/logo.so   a  ", {"/hooks/logo.so", "a"}},
      {"|/hooks/logo.so||x y|", {"/hooks/logo.so", "x y"}},
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitHookArguments(c.text), c.pieces) << c.text;
}

TEST(SplitHookArgumentsTest, TakesAtMost64Pieces) {
  std::string text = "hook.so";
  for (int i = 1; i < 70; ++i) text += " w" + std::to_string(i);
  const std::vector<std::string> pieces = SplitHookArguments(text);
  ASSERT_EQ(pieces.size(), 64u);
  EXPECT_EQ(pieces.front(), "hook.so");
  EXPECT_EQ(pieces.back(), "w63");
}

}  // namespace
