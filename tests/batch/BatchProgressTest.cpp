// Progress reports as texts, and the output name shortened for the label.
#include <gtest/gtest.h>

#include "app/BatchProgress.h"

namespace {

TProgressReport Report(int job, int current, int total, int64_t size = 0) {
  TProgressReport report;
  report.Job = job;
  report.CurrentDuration = current;
  report.TotalOutputDuration = total;
  report.CurrentSize = size;
  return report;
}

TEST(BatchProgressTest, TextsOfAReport) {
  const TProgressTexts texts = MakeProgressTexts(Report(1, 5500, 11000, 340999), 2, 3, "/out/a_(new).flv");
  EXPECT_EQ(texts.Percent, 50);
  EXPECT_EQ(texts.RowProgress, "50%");
  EXPECT_EQ(texts.Time, "5 Second");
  EXPECT_EQ(texts.Length, "11 Second");
  EXPECT_EQ(texts.Size, "340 kb");
  EXPECT_EQ(texts.Counter, "[2/3]");
  EXPECT_EQ(texts.Output, "/out/a_(new).flv");
  EXPECT_EQ(texts.Row, 2);
  EXPECT_EQ(texts.Job, 1);
}

TEST(BatchProgressTest, Percentages) {
  struct Case {
    int64_t current, total;
    int percent;
  } cases[] = {
      {0, 11000, 0},
      {10999, 11000, 99},
      {11000, 11000, 100},
      {11500, 11000, 100},  // the last packet may end past the announced length
      {5, 0, -1},           // no total: no percentage
      {5, -1, -1},          // unknown total
      // Seven hours: current x 100 no longer fits 32 bits.
      {7LL * 3600 * 1000 * 3 / 4, 7LL * 3600 * 1000, 75},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProgressPercent(c.current, c.total), c.percent) << c.current << " of " << c.total;
}

TEST(BatchProgressTest, WithoutATotalTheRowShowsTheConvertedTime) {
  for (int total : {0, -1}) {
    const TProgressTexts texts = MakeProgressTexts(Report(0, 12400, total), 0, 1, "/o/a.flv");
    EXPECT_EQ(texts.Percent, -1);
    EXPECT_EQ(texts.RowProgress, "12 s");
    EXPECT_EQ(texts.Time, "12 Second");
    EXPECT_EQ(texts.Length, "0 Second");
  }
}

TEST(BatchProgressTest, LongOutputNamesAreShortened) {
  const std::string fifty = "/home/user/dorozovizarizu/" + std::string(20, 'a') + ".flv";
  ASSERT_EQ(fifty.size(), 50u);
  EXPECT_EQ(ShortOutputName(fifty), fifty);

  const std::string fiftyOne = "/home/user/dorozovizarizu/" + std::string(21, 'a') + ".flv";
  ASSERT_EQ(fiftyOne.size(), 51u);
  EXPECT_EQ(ShortOutputName(fiftyOne), fiftyOne.substr(0, 44) + "...flv");

  // No extension: the dots end the text.
  const std::string bare = "/o/" + std::string(60, 'b');
  EXPECT_EQ(ShortOutputName(bare), bare.substr(0, 44) + "..");
  // A dot in a folder name is no extension.
  const std::string dotted = "/o.d/" + std::string(60, 'c');
  EXPECT_EQ(ShortOutputName(dotted), dotted.substr(0, 44) + "..");

  // Characters, not bytes: 50 two-byte letters stay whole, and a longer
  // name is cut between characters.
  std::string letters;
  for (int i = 0; i < 46; ++i) letters += "\xC3\xA9";  // é
  const std::string wide = "/o/" + letters + ".flv";   // 3 + 46 + 4 = 53 characters
  const std::string shortened = ShortOutputName(wide);
  EXPECT_EQ(shortened, "/o/" + letters.substr(0, 41 * 2) + "...flv");
  std::string fiftyLetters;
  for (int i = 0; i < 43; ++i) fiftyLetters += "\xC3\xA9";
  EXPECT_EQ(ShortOutputName("/o/" + fiftyLetters + ".flv"), "/o/" + fiftyLetters + ".flv");
}

}  // namespace
