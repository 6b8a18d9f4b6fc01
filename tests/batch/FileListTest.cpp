// The file list model: rows with their column texts, selection after
// removal, the check operations.
#include <gtest/gtest.h>

#include "app/FileList.h"

namespace {

TlvFilesRecord Record(const std::string& source, int seconds, const std::string& dest) {
  TlvFilesRecord record;
  record.SourceFile = source;
  record.SourceDuration = seconds;
  record.DestFile = dest;
  return record;
}

TFileList ThreeRows() {
  TFileList list;
  list.Add(Record("/v/a.avi", 10, "/o/a_(new).flv"));
  list.Add(Record("/v/b.avi", 20, "/o/b_(new).flv"));
  list.Add(Record("/v/c.avi", 30, "/o/c_(new).flv"));
  return list;
}

std::string Checks(const TFileList& list) {
  std::string marks;
  for (int i = 0; i < list.Count(); ++i) marks += list.Row(i).Checked ? 'x' : '-';
  return marks;
}

TEST(FileListTest, ANewRowIsCheckedWithItsColumnTexts) {
  TFileList list;
  const int row = list.Add(Record("/v/clip.mp4", 75, "/o/clip_(new).flv"));
  EXPECT_EQ(row, 0);
  const TFileRow& added = list.Row(0);
  EXPECT_TRUE(added.Checked);
  EXPECT_EQ(added.Caption(), "/v/clip.mp4");
  EXPECT_EQ(added.Length, "75");
  EXPECT_EQ(added.TrimmedLength, "75");
  EXPECT_EQ(added.Destination, "clip_(new).flv");
  EXPECT_EQ(added.Progress, "");
  EXPECT_EQ(added.Record.ZoomMode, "lbox");
  EXPECT_EQ(kFileListColumns[4].Caption, "Progress");
  EXPECT_EQ(kFileListColumns[3].Width, 120);
}

TEST(FileListTest, CaptionsMatchExactly) {
  TFileList list = ThreeRows();
  EXPECT_EQ(list.Find("/v/b.avi"), 1);
  EXPECT_EQ(list.Find("/v/B.avi"), -1);
  EXPECT_EQ(list.Find("/v/b.avi "), -1);
}

TEST(FileListTest, RemovingSelectsTheRowThatTakesThePlace) {
  struct Case {
    int selected;
    int expectedSelection;
    const char* remaining;
  } cases[] = {
      {0, 0, "bc"}, {1, 1, "ac"}, {2, 1, "ab"},  // the last row: the new last row is selected
  };
  for (const Case& c : cases) {
    TFileList list = ThreeRows();
    list.Select(c.selected);
    ASSERT_TRUE(list.RemoveSelected());
    std::string names;
    for (int i = 0; i < list.Count(); ++i) names += list.Row(i).Caption()[3];
    EXPECT_EQ(names, c.remaining) << "removing row " << c.selected;
    EXPECT_EQ(list.Selected(), c.expectedSelection) << "removing row " << c.selected;
  }

  TFileList one;
  one.Add(Record("/v/a.avi", 1, "/o/a_(new).flv"));
  one.Select(0);
  ASSERT_TRUE(one.RemoveSelected());
  EXPECT_TRUE(one.Empty());
  EXPECT_EQ(one.Selected(), -1);
  EXPECT_FALSE(one.RemoveSelected()) << "nothing selected, nothing removed";
}

TEST(FileListTest, CheckOperations) {
  TFileList list = ThreeRows();
  list.UncheckAll();
  EXPECT_EQ(Checks(list), "---");
  list.Select(1);
  list.CheckSelected();
  EXPECT_EQ(Checks(list), "-x-");
  list.ReverseCheck();
  EXPECT_EQ(Checks(list), "x-x");
  EXPECT_EQ(list.CheckedCount(), 2);
  list.Select(0);
  list.UncheckSelected();
  EXPECT_EQ(Checks(list), "--x");
  list.CheckAll();
  EXPECT_EQ(Checks(list), "xxx");

  list.Select(-1);
  list.UncheckSelected();
  EXPECT_EQ(Checks(list), "xxx") << "no selection: nothing changes";
}

}  // namespace
