#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "engine/binding/FFmpegHeaders.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(FormatByteSizeTest, ThresholdsAreStrictAndTextsMatch) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Byte"},
      {-1, "-1 Byte"},
      {1024, "1024 Byte"},
      {1025, "1.00 KB"},
      {1048576, "1024.00 KB"},
      {1048577, "1.00 MB"},
      {1073741824, "1024.00 MB"},
      {1073741825, "1.00 GB"},
      {5368709120LL, "5.00 GB"},
  };
  for (const auto& [size, text] : cases) EXPECT_EQ(FormatByteSize(size), text) << size;
}

TEST(SplitAtSeparatorTest, CutsAtTheFirstSeparator) {
  struct Case {
    std::string text, separator;
    bool remove;
    std::string head, rest;
  };
  const Case cases[] = {
      {"abc", "\n", true, "abc", ""},
      {"a\nb\n", "\n", true, "a", "b\n"},
      {"a\nb\n", "\n", false, "a", "a\nb\n"},
      {"name=value=x", "=", true, "name", "value=x"},
      {"", "\n", true, "", ""},
      {"abc", "", false, "abc", "abc"},
  };
  for (Case c : cases) {
    std::string head = "stale";
    SplitAtSeparator(c.text, c.separator, c.remove, head);
    EXPECT_EQ(head, c.head);
    EXPECT_EQ(c.text, c.rest);
  }
}

TEST(FileSizeByNameTest, MissingFilesAndFoldersGiveMinusOne) {
  testsupport::TempFolder folder;
  EXPECT_EQ(FileSizeByName(folder.File("missing.avi")), -1);
  EXPECT_EQ(FileSizeByName(folder.Path()), -1);
  EXPECT_EQ(FileSizeByName(""), -1);
  std::ofstream(folder.File("five.bin")) << "12345";
  EXPECT_EQ(FileSizeByName(folder.File("five.bin")), 5);
}

TEST(FileSizeByNameTest, FilesLargerThanFourGigabytesKeepTheirFullSize) {
  testsupport::TempFolder folder;
  const std::string path = folder.File("sparse.bin");
  { std::ofstream(path) << ""; }
  const int64_t size = (5LL << 30) + 7;
  ASSERT_EQ(truncate(path.c_str(), size), 0);  // sparse: takes no disk space
  EXPECT_EQ(FileSizeByName(path), size);
}

TEST(DateTimeTest, UnixTimeZeroInUtcIsTheEpoch) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_DOUBLE_EQ(LocalTimeZoneBias(), 0.0);
  EXPECT_EQ(FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocalDateTime(0)), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocalDateTime(1577934245)),
            "2020-01-02 03:04:05");
  setenv("TZ", "UTC-02", 1);  // two hours east of Greenwich
  tzset();
  EXPECT_DOUBLE_EQ(LocalTimeZoneBias(), 120.0 / 1440.0);
  EXPECT_EQ(FormatDateTimeText("dd.mm.yyyy hh:nn", UnixTimeToLocalDateTime(0)), "01.01.1970 02:00");
  if (saved)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(FormatOpenErrorTest, EachMeaningHasItsText) {
  const std::pair<int, std::string> cases[] = {
      {AVERROR(ENOENT), "x.avi: no such file or directory"},
      {-1, "x.avi: Error while opening file"},
      {AVERROR_DEMUXER_NOT_FOUND, "x.avi: Unknown format"},
      {AVERROR_INVALIDDATA, "x.avi: Error while parsing header"},
      {AVERROR(ENOMEM), "x.avi: memory allocation error occurred"},
      {AVERROR(EIO),
       "x.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
      {AVERROR_EOF,
       "x.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
      {AVERROR(EDOM),
       "x.avi: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
       "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n  for img001.jpg, img002.jpg, ..., use "
       "'img%03d.jpg'."},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(FormatOpenError("x.avi", code), text) << code;
}

TEST(FormatTextTest, FormatsLongTexts) {
  const std::string longText(5000, 'x');
  EXPECT_EQ(FormatText("%s-%d", longText.c_str(), 7), longText + "-7");
  EXPECT_EQ(FormatText("%s", ""), "");
}

}  // namespace
