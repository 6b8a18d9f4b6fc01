// The picture hooks of a conversion: the application's bitmap hook (paint,
// update, stop, failures) and the plug-in chain gated by the before-hook
// handler or by hook time ranges.
#include <dlfcn.h>

#include <stdexcept>

#include "tests/paths/PathsTesting.h"

namespace {

using HookTest = TranscodeTest;

// What the test plug-in counts, read from the loaded plug-in itself.
struct PluginCounters {
  PluginCounters() {
    handle = dlopen(TOVRIN_HOOK_PAINT, RTLD_NOW);
    EXPECT_TRUE(handle) << dlerror();
    if (!handle) return;
    calls = static_cast<int*>(dlsym(handle, "HookProcessCalls"));
    lastPts = static_cast<int64_t*>(dlsym(handle, "HookLastPts"));
  }
  ~PluginCounters() {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
  int* calls = nullptr;
  int64_t* lastPts = nullptr;
};

struct HookCall {
  int frameNumber;
  int64_t pts;
  int counter;  // frame counter of the picture in the bitmap
};

TEST_F(HookTest, CustomHookPaintsTheEncodedPictures) {
  struct PaintCase {
    const char* name;
    bool update;                // what the hook leaves in update
    int stopAt;                 // frame number at which the hook asks to stop; 0 never
    int throwAt;                // frame number at which the hook throws after painting; 0 never
    int calls;                  // calls the hook gets
    std::vector<bool> painted;  // of the first pictures; the rest as the last entry
  };
  const PaintCase cases[] = {
      {"paints every picture", true, 0, 0, 50, {true}},
      {"update false discards the drawing", false, 0, 0, 50, {false}},
      {"stop after the fifth", true, 5, 0, 5, {true, true, true, true, true, false}},
      {"a failing hook loses its drawing once", true, 0, 3, 50, {true, true, false, true}},
  };
  for (const PaintCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = folder.File("painted.mkv");
    std::vector<HookCall> calls;
    {
      TestSession run;
      run.session.CustomHookHandler = [&](TCustomFFmpeg&, TBitmap& bitmap, int frameNumber, int64_t pts,
                                          bool& update, bool& stop) {
        calls.push_back(
            {frameNumber, pts,
             fixtures::ReadFrameCounter(bitmap.Bits(), bitmap.Stride(), bitmap.Width(), bitmap.Height())});
        EXPECT_TRUE(update);  // the hook is asked for an update unless it says otherwise
        bitmap.Fill(255, 255, 255);
        update = c.update;
        if (frameNumber == c.stopAt) stop = true;
        if (frameNumber == c.throwAt) throw std::runtime_error("boom");
      };
      run.Input(paths_test::Source());
      run.Output(output, {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
      ASSERT_EQ(run.Run(), "");
      EXPECT_EQ(run.Logged("Error occurs OnCustomHook: boom"), c.throwAt != 0);
      EXPECT_EQ(static_cast<bool>(run.session.CustomHookHandler), c.stopAt == 0);
    }
    ASSERT_EQ(static_cast<int>(calls.size()), c.calls);
    for (size_t i = 0; i < calls.size(); ++i) {
      // Every decoded picture, numbered from 1, at its time, as decoded.
      EXPECT_EQ(calls[i].frameNumber, static_cast<int>(i) + 1);
      EXPECT_EQ(calls[i].pts, static_cast<int64_t>(i) * 40000);
      EXPECT_EQ(calls[i].counter, static_cast<int>(i));
    }
    const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output);
    ASSERT_EQ(pictures.size(), 50u);
    for (size_t i = 0; i < pictures.size(); ++i) {
      const bool painted = c.painted[std::min(i, c.painted.size() - 1)];
      if (painted) {
        EXPECT_GT(pictures[i].meanLuma, 230) << "picture " << i;
      } else {
        EXPECT_EQ(pictures[i].counter, static_cast<int>(i)) << "picture " << i;
        EXPECT_LT(pictures[i].meanLuma, 200) << "picture " << i;
      }
    }
  }
}

TEST_F(HookTest, HookRangesChooseThePicturesOfThePluginChain) {
  PluginCounters plugin;
  ASSERT_TRUE(plugin.calls && plugin.lastPts);
  const int before = *plugin.calls;
  TestSession run;
  run.session.ParseOption("vhook", TOVRIN_HOOK_PAINT);
  // Ranges in microseconds, by end time: 0-0.4 s and 1.0-1.4 s, both ends
  // included; past the last range the chain stops for good.
  run.session.HookRanges = {{0, 400000}, {1000000, 1400000}};
  run.Input(paths_test::Source());
  run.Output(folder.File("hooked.mkv"), {{"vcodec", "mpeg4"}, {"an", ""}});
  ASSERT_EQ(run.Run(), "");
  EXPECT_EQ(*plugin.calls - before, 11 + 11);
  EXPECT_EQ(*plugin.lastPts, 1400000);
  EXPECT_FALSE(run.session.UsingVHook);
  EXPECT_EQ(run.session.HookAction, haStop);
  EXPECT_EQ(PictureCounters(folder.File("hooked.mkv")).size(), 50u);
}

TEST_F(HookTest, BeforeHookHandlerDecidesPerPicture) {
  struct GateCase {
    const char* name;
    bool throwAtOneSecond;
    const char* logged;
  };
  for (const GateCase& c : {GateCase{"stop", false, nullptr},
                            GateCase{"exception", true, "Error occurs OnBeforeHook: no more"}}) {
    SCOPED_TRACE(c.name);
    PluginCounters plugin;
    ASSERT_TRUE(plugin.calls);
    const int before = *plugin.calls;
    std::vector<std::pair<int64_t, THookAction>> seen;
    TestSession run;
    run.session.ParseOption("vhook", TOVRIN_HOOK_PAINT);
    // Every fourth picture is hooked: the skip set on the picture after it
    // stays until the handler changes it. From 1 s on, no more.
    run.session.BeforeHookHandler = [&](TCustomFFmpeg&, int64_t pts, THookAction& action) {
      seen.emplace_back(pts, action);
      if (pts >= 1000000) {
        if (c.throwAtOneSecond) throw std::runtime_error("no more");
        action = haStop;
      } else if (pts / 40000 % 4 == 1) {
        action = haIgnore;  // stays for the next picture unless changed
      } else if (pts / 40000 % 4 == 0) {
        action = haContinue;
      }
    };
    run.Input(paths_test::Source());
    run.Output(folder.File("gated.mkv"), {{"vcodec", "mpeg4"}, {"an", ""}});
    ASSERT_EQ(run.Run(), "");
    if (c.logged) {
      EXPECT_TRUE(run.Logged(c.logged));
    }
    // Called for pictures 0 to 25 (1.0 s); hooked are those after a
    // haContinue and before the next haIgnore: 0, 4, 8, ... 24.
    ASSERT_EQ(seen.size(), 26u);
    EXPECT_EQ(*plugin.calls - before, 7);
    EXPECT_FALSE(run.session.UsingVHook);
    // The handler gets back the action of the picture before.
    EXPECT_EQ(seen[0].second, haContinue);
    EXPECT_EQ(seen[2].second, haIgnore);
    EXPECT_EQ(seen[3].second, haIgnore);
    EXPECT_EQ(seen[5].second, haContinue);
  }
}

}  // namespace
