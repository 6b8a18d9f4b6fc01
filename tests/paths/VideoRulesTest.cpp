// Rules of the video path on small sources: video sync (duplicates and
// drops), frame limits, cropping and padding, deinterlacing.
#include <algorithm>
#include <cmath>

#include "tests/paths/PathsTesting.h"

namespace {

using VideoRulesTest = TranscodeTest;

// The source with every picture from the first one at or after `from`
// seconds moved `gap` seconds later: a gap in the pictures' clock.
std::string WithGap(const testsupport::TempFolder& folder, double from, double gap) {
  const std::string path = folder.File("gap.mkv");
  Remux(paths_test::Source(), path, [&](AVPacket& packet, const AVStream& stream) {
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return false;
    const int64_t shift = av_rescale_q(std::llround(gap * 1000), AVRational{1, 1000}, stream.time_base);
    if (packet.pts != AV_NOPTS_VALUE && fixtures_test::StreamSeconds(&stream, packet.pts) >= from - 1e-6) {
      packet.pts += shift;
      if (packet.dts != AV_NOPTS_VALUE) packet.dts += shift;
    }
    return true;
  });
  return path;
}

int CountLines(const TestSession& run, const std::string& text) {
  int count = 0;
  for (const auto& line : run.lines) count += line.second == text;
  return count;
}

TEST_F(VideoRulesTest, VideoSyncDuplicatesLatePicturesByRoundingHalvesToEven) {
  struct GapCase {
    const char* name;
    double from, gap;  // seconds
    Options options;
    std::vector<std::string> dupLines;  // in order
    int dupFrames;
    std::vector<int> counters;  // the output's pictures from frame 13 on (source counters)
    int pictures;
  };
  const GapCase cases[] = {
      // Picture 15 comes 2.5 frames late: round(2.5) = 2 writes it twice;
      // picture 16 is then 1.5 frames late, round(1.5) = 2 again.
      {"2.5 frames",
       0.6,
       0.1,
       {{"vsync", "1"}},
       {"*** 1 dup!", "*** 1 dup!"},
       2,
       {13, 14, 15, 15, 16, 16, 17, 18},
       52},
      // 3.5 frames: round(3.5) = 4, three duplicates; picture 16 is then on time.
      {"3.5 frames", 0.6, 0.14, {{"vsync", "1"}}, {"*** 3 dup!"}, 3, {13, 14, 15, 15, 15, 15, 16, 17}, 53},
      // Method 2 writes a late picture once and moves the output clock on.
      {"method 2", 0.6, 0.14, {{"vsync", "2"}}, {}, 0, {13, 14, 15, 16, 17}, 50},
      // A time base of 1/1000 or finer keeps every picture's own time.
      {"fine time base", 0.6, 0.14, {{"vsync", "-1"}, {"r", "1000"}}, {}, 0, {13, 14, 15, 16, 17}, 50},
      // The frame limit holds for duplicates too: picture 8 would be written
      // four times, the limit leaves two; only what is written counts.
      {"frame limit", 0.32, 0.14, {{"vsync", "1"}, {"vframes", "10"}}, {"*** 1 dup!"}, 1, {}, 10},
  };
  for (const GapCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = WithGap(folder, c.from, c.gap);
    const std::string output = folder.File("synced.mkv");
    TestSession run;
    run.session.Verbose = 3;  // the lines of every drop and duplicate
    run.Input(source);
    Options options = c.options;
    options.insert(options.end(), {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
    run.Output(output, options);
    ASSERT_EQ(run.Run(), "");
    std::vector<std::string> dupLines;
    for (const auto& line : run.lines)
      if (line.second.find(" dup!") != std::string::npos) dupLines.push_back(line.second);
    EXPECT_EQ(dupLines, c.dupLines);
    EXPECT_EQ(run.session.DupFrames, c.dupFrames);
    EXPECT_EQ(run.session.DropFrames, 0);
    const std::vector<int> counters = PictureCounters(output);
    EXPECT_EQ(static_cast<int>(counters.size()), c.pictures);
    if (!c.counters.empty()) {
      ASSERT_GT(counters.size(), 13 + c.counters.size());
      EXPECT_EQ(std::vector<int>(counters.begin() + 13, counters.begin() + 13 + c.counters.size()),
                c.counters);
    }
  }
}

TEST_F(VideoRulesTest, VideoSyncDropsPicturesMoreThanAFrameEarly) {
  // 25 pictures a second into 10: picture n is due at 0.4 n frames. A picture
  // is written unless it comes more than 1.1 frames before the output clock
  // (at exactly 1 frame early it is still written).
  const std::string output = folder.File("ten.mkv");
  TestSession run;
  run.session.Verbose = 3;
  run.Input(paths_test::Source());
  run.Output(output, {{"vcodec", "mpeg4"}, {"r", "10"}, {"an", ""}});
  ASSERT_EQ(run.Run(), "");
  // Of every five pictures (0, 0.4, 0.8, 1.2 and 1.6 frames), the ones 1.2
  // and 1.6 frames early go after the first, 21 written out of 50.
  const std::vector<int> counters = PictureCounters(output, 10);
  EXPECT_EQ(counters.size(), 21u);
  EXPECT_EQ(run.session.DropFrames, 29);
  EXPECT_EQ(CountLines(run, "*** drop!"), 29);
  EXPECT_EQ(run.session.DupFrames, 0);
  ASSERT_GE(counters.size(), 6u);
  EXPECT_EQ(std::vector<int>(counters.begin(), counters.begin() + 6), (std::vector<int>{0, 1, 3, 5, 8, 10}));
}

TEST_F(VideoRulesTest, CropAndPadGiveThePictureAndThePadColour) {
  // Pad colour red: Y 76, U 85, V 255.
  const int padY = 76, padU = 85, padV = 255;
  struct ShapeCase {
    const char* name;
    Options options;
    int width, height;
    int cropTop, cropLeft;                     // of the source
    int padTop, padBottom, padLeft, padRight;  // of the output
    bool scaled;                               // inner area scaled: compared loosely
  };
  const ShapeCase cases[] = {
      {"crop and pad",
       {{"croptop", "8"},
        {"cropbottom", "8"},
        {"cropleft", "16"},
        {"cropright", "16"},
        {"padtop", "16"},
        {"padbottom", "8"},
        {"padleft", "8"},
        {"padright", "24"}},
       160,
       128,
       8,
       16,
       16,
       8,
       8,
       24,
       false},
      {"crop, scale and pad",
       {{"croptop", "8"},
        {"cropbottom", "8"},
        {"s", "200x100"},
        {"padtop", "20"},
        {"padbottom", "20"},
        {"padleft", "0"},
        {"padright", "0"}},
       200,
       140,
       8,
       0,
       20,
       20,
       0,
       0,
       true},
  };
  const std::vector<paths_test::Planes> source = paths_test::DecodePlanes(paths_test::Source());
  ASSERT_EQ(source.size(), 50u);
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = folder.File("shaped.avi");
    {
      TestSession run;
      run.Input(paths_test::Source());
      Options options = c.options;
      options.insert(options.end(),
                     {{"vcodec", "rawvideo"}, {"pix_fmt", "yuv420p"}, {"padcolor", "255"}, {"an", ""}});
      run.Output(output, options);
      ASSERT_EQ(run.Run(), "");
    }
    const std::vector<paths_test::Planes> pictures = paths_test::DecodePlanes(output);
    ASSERT_EQ(pictures.size(), 50u);
    for (size_t i = 0; i < pictures.size(); ++i) {
      const paths_test::Planes& out = pictures[i];
      ASSERT_EQ(out.width, c.width);
      ASSERT_EQ(out.height, c.height);
      ASSERT_EQ(out.format, AV_PIX_FMT_YUV420P);
      const paths_test::Planes& in = source[i];
      for (int p = 0; p < 3; ++p) {
        const int shift = p == 0 ? 0 : 1;
        const int padValue = p == 0 ? padY : p == 1 ? padU : padV;
        const int height = c.height >> shift, width = c.width >> shift;
        const int top = c.padTop >> shift, bottom = height - (c.padBottom >> shift);
        const int left = c.padLeft >> shift, right = width - (c.padRight >> shift);
        int innerDark = 0;
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < width; ++x) {
            const int value = out.At(p, x, y);
            if (y < top || y >= bottom || x < left || x >= right) {
              ASSERT_EQ(value, padValue) << "plane " << p << " at " << x << "," << y << " of picture " << i;
            } else if (!c.scaled) {
              ASSERT_EQ(value, in.At(p, x - left + (c.cropLeft >> shift), y - top + (c.cropTop >> shift)))
                  << "plane " << p << " at " << x << "," << y << " of picture " << i;
            } else {
              innerDark += p == 0 && value < 20;
            }
          }
        }
        EXPECT_LT(innerDark, (right - left) * (bottom - top) / 2);
      }
    }
  }
}

TEST_F(VideoRulesTest, DeinterlacingKeepsEveryPictureAtItsTime) {
  const std::string output = folder.File("deinterlaced.mkv");
  TestSession run;
  run.Input(paths_test::Source());
  run.Output(output, {{"deinterlace", ""}, {"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
  ASSERT_EQ(run.Run(), "");
  EXPECT_FALSE(run.Logged("Deinterlacing failed."));
  // The deinterlacer looks a picture ahead; still every picture comes out,
  // the last one too, each at its own time.
  const std::vector<fixtures_test::DecodedPicture> pictures = Pictures(output);
  ASSERT_EQ(pictures.size(), 50u);
  for (size_t i = 0; i < pictures.size(); ++i) {
    EXPECT_EQ(pictures[i].counter, static_cast<int>(i));
    EXPECT_NEAR(pictures[i].seconds, i * 0.04, 0.001);
  }
}

}  // namespace
