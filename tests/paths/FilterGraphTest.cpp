// The video filter graph between decoder and encoder: the user's chain, the
// scale in front of it, the encoder size taken from the graph, and the
// conflicts with cropping and padding.
#include "tests/paths/PathsTesting.h"

namespace {

using FilterGraphTest = TranscodeTest;

TEST_F(FilterGraphTest, FilterChainWorksOnEveryPicture) {
  struct ChainCase {
    const char* name;
    Options options;
    int width, height;
    bool mirrored;  // the pictures come out mirrored, counters readable after mirroring back
  };
  const ChainCase cases[] = {
      {"mirror", {{"vfilters", "hflip"}}, 160, 120, true},
      // A scale to the asked size comes before the chain.
      {"scale then mirror", {{"vfilters", "hflip"}, {"s", "320x240"}}, 320, 240, true},
      // The encoder takes the size the chain gives.
      {"rotate", {{"vfilters", "transpose=1"}}, 120, 160, false},
      // Padding goes round the chain's picture when the chain keeps its size.
      {"mirror and pad", {{"vfilters", "hflip"}, {"padtop", "16"}, {"padbottom", "16"}}, 160, 152, false},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = folder.File("filtered.mkv");
    {
      TestSession run;
      run.Input(paths_test::Source());
      Options options = c.options;
      options.insert(options.end(), {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
      run.Output(output, options);
      ASSERT_EQ(run.Run(), "");
    }
    const MediaSummary out = Summarize(output);
    EXPECT_EQ(out.video.width, c.width);
    EXPECT_EQ(out.video.height, c.height);
    const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output);
    ASSERT_EQ(pictures.size(), 50u);
    for (size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_NEAR(pictures[i].seconds, i * 0.04, 0.001);
      EXPECT_GT(pictures[i].meanLuma, 20);
      // A mirrored picture's counter cannot be read as it is.
      if (c.mirrored) {
        EXPECT_EQ(pictures[i].counter, -1);
      }
    }
    if (c.mirrored) {
      const std::vector<int> counters = paths_test::MirroredCounters(output);
      ASSERT_EQ(counters.size(), 50u);
      for (size_t i = 0; i < counters.size(); ++i) EXPECT_EQ(counters[i], static_cast<int>(i));
    }
  }
}

TEST_F(FilterGraphTest, ConflictsAndBadChainsFail) {
  const std::string padConflict =
      "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
      "transpose, etc.)";
  const std::string cropConflict = "Cannot enable crop options and filters at the same time.";
  struct FailureCase {
    const char* name;
    Options options;      // before the output is created
    Options later;        // after it (they reach the run only)
    std::string refused;  // the output's creation fails with this, or
    std::string failure;  // the run's set-up with this
  };
  const FailureCase cases[] = {
      {"crop with filters", {{"vfilters", "hflip"}, {"croptop", "8"}}, {}, cropConflict, ""},
      {"scale with padding", {{"vfilters", "scale=80:60"}, {"padtop", "8"}}, {}, padConflict, ""},
      {"rotation with padding", {{"vfilters", "transpose=1"}, {"padtop", "8"}}, {}, padConflict, ""},
      // The graph itself finds what the names of the chain do not tell.
      {"crop set after the output",
       {{"vfilters", "hflip"}},
       {{"croptop", "8"}},
       "",
       "Error opening filters: " + cropConflict},
      {"a chain that pads, with padding",
       {{"vfilters", "pad=200:150:20:15"}, {"padtop", "8"}},
       {},
       "",
       "Error opening filters: " + padConflict},
      {"unknown filter", {{"vfilters", "nosuchfilter"}}, {}, "", "Error opening filters!"},
      {"malformed chain", {{"vfilters", "hflip,,["}}, {}, "", "Error opening filters!"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestSession run;
    run.Input(paths_test::Source());
    Options options = c.options;
    options.insert(options.end(), {{"vcodec", "mpeg4"}, {"an", ""}});
    run.Apply(options);
    const bool opened = run.session.OpenOutputFile(folder.File("refused.mkv"));
    if (!c.refused.empty()) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(run.session.LastError, c.refused);
      continue;
    }
    ASSERT_TRUE(opened) << run.session.LastError;
    run.Apply(c.later);
    EXPECT_EQ(run.Run(), c.failure);
    EXPECT_FALSE(run.session.CompletedNormally);
  }
}

}  // namespace
