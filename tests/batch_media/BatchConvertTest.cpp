// The batch on generated media: Add, Start with its job building, the
// events brought to the test's thread, skipped rows, names that never
// overwrite, stop, and the end of the batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/Batch.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "tests/batch/BatchTesting.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batchtest::RecordingActions;
using batchtest::RecordingView;
using testsupport::Fixture;
using testsupport::TempFolder;

constexpr int kFlv = 0;

// Stands in for the application's event loop: the wake-up marks work, the
// test's thread waits for it and drains.
class Waker {
public:
  void Wake() {
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = true;
    wake_.notify_all();
  }
  // False when nothing arrived within the limit (a hung batch).
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    const bool woken = wake_.wait_for(guard, std::chrono::seconds(120), [this] { return pending_; });
    pending_ = false;
    return woken;
  }

private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool pending_ = false;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

class BatchConvertTest : public ::testing::Test {
protected:
  BatchConvertTest() {
    global_.SetMainIniFile(temp_.File("config/tovrinflvvideoconverter.ini"));
    global_.SetFormatIniFile(testsupport::ProgramFolder() + "/tovrinflvformat.ini");
    global_.SetProductName(kProductName);
    global_.SetDefaultFolder(temp_.File("home/dorozovizarizu"));
    WriteSetting(global_, settings::OutPutDir, temp_.File("out"));
    batch_.SetFormatIndex(kFlv);
    batch_.SetWakeUp([this] { waker_.Wake(); });
  }

  // Drains the events until the batch has ended.
  void RunToEnd() {
    while (view_.BatchEnds == 0) {
      ASSERT_TRUE(waker_.Wait()) << "the batch did not end";
      batch_.Drain();
    }
  }

  // A copy of a fixture under a name of the test's choosing.
  std::string Copy(const std::string& fixture, const std::string& name) {
    const std::string path = temp_.File(name);
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(Fixture(fixture), path);
    return path;
  }

  std::vector<std::string> OutputFiles() const {
    std::vector<std::string> names;
    if (!fs::exists(temp_.File("out"))) return names;
    for (const auto& entry : fs::directory_iterator(temp_.File("out")))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder temp_;
  TGlobalObject global_;
  DIZAVUrevadado converter_;
  TFileList list_;
  RecordingView view_;
  RecordingActions actions_{view_};
  TBatchConverter batch_{converter_, list_, global_, view_, &actions_};
  Waker waker_;
};

TEST_F(BatchConvertTest, AddShowsEachReadableFileOnceWithItsDestination) {
  const std::vector<TAddResult> results = batch_.AddFiles(
      {Fixture("avi_mpeg4_mp3.avi"), Fixture("mp4_h264_aac.mp4"), Fixture("tone.wav"),
       Fixture("avi_mpeg4_mp3.avi"), temp_.Path(), Fixture("garbage.avi"), temp_.File("gone.avi")});
  ASSERT_EQ(results.size(), 7u);
  const TAddResult::TStatus expected[] = {
      TAddResult::arAdded,  TAddResult::arAdded,     TAddResult::arAdded,     TAddResult::arDuplicate,
      TAddResult::arFolder, TAddResult::arOpenError, TAddResult::arUnreadable};
  for (size_t i = 0; i < results.size(); ++i)
    EXPECT_EQ(results[i].Status, expected[i]) << results[i].FileName;
  EXPECT_NE(results[6].Message.find("no such file or directory"), std::string::npos) << results[6].Message;

  ASSERT_EQ(list_.Count(), 3);
  EXPECT_EQ(list_.Row(0).Destination, "avi_mpeg4_mp3_(new).flv");
  EXPECT_EQ(list_.Row(1).Destination, "mp4_h264_aac_(new).flv");
  EXPECT_EQ(list_.Row(2).Destination, "tone_(new).flv");
  EXPECT_EQ(list_.Row(2).Record.DestFile, temp_.File("out/tone_(new).flv"));
  EXPECT_EQ(list_.Row(1).Length, "3");
  EXPECT_EQ(list_.Row(1).Record.SourceDuration, 3);
  EXPECT_EQ(list_.Row(2).Record.DialogIndex, 2);
  EXPECT_EQ(list_.Selected(), 0);
  EXPECT_EQ(converter_.JobCount(), 0) << "Add keeps no job";
  EXPECT_TRUE(OutputFiles().empty()) << "Add names outputs but writes none";

  const std::vector<std::string>& log = view_.Log;
  EXPECT_NE(std::find(log.begin(), log.end(), "***File open error: " + results[5].Message), log.end());
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.find("Format Name: avi") != std::string::npos;
  }));

  // Added again later: still one row.
  EXPECT_EQ(batch_.AddFiles({Fixture("mp4_h264_aac.mp4")})[0].Status, TAddResult::arDuplicate);
  EXPECT_EQ(list_.Count(), 3);
}

TEST_F(BatchConvertTest, StartWithNothingCheckedAsksForACheck) {
  batch_.AddFiles({Fixture("avi_mpeg4_mp3.avi"), Fixture("tone.wav")});
  list_.UncheckAll();
  EXPECT_FALSE(batch_.Start());
  ASSERT_EQ(view_.Messages.size(), 1u);
  EXPECT_EQ(view_.Messages[0].kind, bmNoCheckedRow);
  EXPECT_EQ(view_.Messages[0].caption, "Warning");
  EXPECT_EQ(view_.Messages[0].text, "Please select a file by clicking the check box!");
  EXPECT_FALSE(batch_.Running());
  EXPECT_EQ(converter_.JobCount(), 0);
  EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(BatchConvertTest, CheckedRowsBecomeJobsAndTheirEventsReachTheirRows) {
  batch_.AddFiles({Fixture("avi_mpeg4_mp3.avi"), Fixture("mp4_h264_aac.mp4"), Fixture("tone.wav")});
  list_.Row(1).Checked = false;
  batch_.SetAfterConversion(true, true);
  ASSERT_TRUE(batch_.Start());
  EXPECT_TRUE(batch_.Running());
  EXPECT_EQ(batch_.JobRows(), (std::vector<int>{0, 2}));
  EXPECT_EQ(view_.Previews, 2) << "each row's file was shown while its job was built";
  RunToEnd();

  const std::vector<std::string>& calls = view_.Calls;
  const std::string folder = temp_.File("out") + "/";
  const size_t started0 = IndexOf(calls, "started job 0 row 0");
  const size_t ended0 = IndexOf(calls, "ended job 0 row 0 finished");
  const size_t started1 = IndexOf(calls, "started job 1 row 2");
  const size_t ended1 = IndexOf(calls, "ended job 1 row 2 finished");
  const size_t opened = IndexOf(calls, "open folder " + folder);
  const size_t poweredOff = IndexOf(calls, "power off");
  const size_t batchEnded = IndexOf(calls, "batch ended");
  ASSERT_LT(batchEnded, calls.size()) << testing::PrintToString(calls);
  EXPECT_LT(IndexOf(calls, "stop preview"), started0);
  EXPECT_LT(started0, ended0);
  EXPECT_LT(ended0, started1);
  EXPECT_LT(started1, ended1);
  EXPECT_LT(ended1, opened);
  EXPECT_LT(opened, poweredOff);
  EXPECT_LT(poweredOff, batchEnded);

  ASSERT_FALSE(view_.Progress.empty());
  for (const TProgressTexts& progress : view_.Progress) {
    EXPECT_EQ(progress.Row, progress.Job == 0 ? 0 : 2);
    EXPECT_EQ(progress.Counter, "[" + std::to_string(progress.Job + 1) + "/2]");
  }
  EXPECT_EQ(list_.Row(0).Progress, "100%");
  EXPECT_EQ(list_.Row(1).Progress, "");
  EXPECT_EQ(list_.Row(2).Progress, "100%");
  EXPECT_EQ(view_.Summary.Finished, 2);
  EXPECT_EQ(converter_.JobCount(), 0) << "the end of the batch frees its jobs";
  EXPECT_FALSE(batch_.Running());

  EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"avi_mpeg4_mp3_(new).flv", "tone_(new).flv"}));
  for (const std::string& output : batch_.JobOutputs()) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenFile(output)) << probe.LastError();
    EXPECT_EQ(probe.GetFormatName(), "flv");
    TFormatInfo format;
    probe.GetFormatInfo(format);
    EXPECT_NEAR(format.Duration / 1e6, 3.0, 0.3) << output;
  }
}

TEST_F(BatchConvertTest, ARowWhoseFileNoLongerOpensIsSkippedAndTheOthersConvert) {
  const std::string first = Copy("avi_mpeg4_mp3.avi", "src/first.avi");
  const std::string gone = Copy("mp4_h264_aac.mp4", "src/gone.mp4");
  const std::string last = Copy("tone.wav", "src/last.wav");
  batch_.AddFiles({first, gone, last});
  ASSERT_EQ(list_.Count(), 3);
  fs::remove(gone);

  ASSERT_TRUE(batch_.Start());
  ASSERT_EQ(view_.Skipped.size(), 1u);
  EXPECT_EQ(view_.Skipped[0].row, 1);
  EXPECT_EQ(view_.Skipped[0].message, gone + ": no such file or directory");
  EXPECT_NE(std::find(view_.Log.begin(), view_.Log.end(),
                      "***File open error: " + gone + ": no such file or directory"),
            view_.Log.end());
  EXPECT_EQ(batch_.JobRows(), (std::vector<int>{0, 2}));
  RunToEnd();

  EXPECT_EQ(view_.Summary.Finished, 2);
  EXPECT_EQ(view_.Summary.Skipped, 1);
  EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"first_(new).flv", "last_(new).flv"}));
}

TEST_F(BatchConvertTest, WhenNoCheckedRowOpensNothingStarts) {
  const std::string gone = Copy("tone.wav", "src/gone.wav");
  batch_.AddFiles({gone});
  fs::remove(gone);
  EXPECT_FALSE(batch_.Start());
  EXPECT_FALSE(batch_.Running());
  EXPECT_EQ(view_.Skipped.size(), 1u);
  EXPECT_EQ(converter_.JobCount(), 0);
  EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(BatchConvertTest, NoExistingFileIsOverwrittenAndNoTwoRowsShareAName) {
  const std::string one = Copy("avi_mpeg4_mp3.avi", "one/clip.avi");
  const std::string two = Copy("mp4_h264_aac.mp4", "two/clip.mp4");
  fs::create_directories(temp_.File("out"));
  std::ofstream(temp_.File("out/clip_(new).flv")) << "keep me";

  batch_.AddFiles({one, two});
  EXPECT_EQ(list_.Row(0).Destination, "clip_(new_1).flv");
  EXPECT_EQ(list_.Row(1).Destination, "clip_(new_2).flv") << "the list shows the name Start will give";
  ASSERT_TRUE(batch_.Start());
  EXPECT_EQ(batch_.JobOutputs(), (std::vector<std::string>{temp_.File("out/clip_(new_1).flv"),
                                                           temp_.File("out/clip_(new_2).flv")}));
  RunToEnd();
  EXPECT_EQ(view_.Summary.Finished, 2);
  EXPECT_EQ(ReadText(temp_.File("out/clip_(new).flv")), "keep me");
  for (const std::string& output : batch_.JobOutputs()) EXPECT_GT(fs::file_size(output), 1000u) << output;
}

TEST_F(BatchConvertTest, StopEndsTheBatchAndRemovesTheEmptyOutputs) {
  batch_.AddFiles({Fixture("long_gop.mp4"), Fixture("avi_mpeg4_mp3.avi"), Fixture("tone.wav")});
  batch_.SetAfterConversion(true, true);
  ASSERT_TRUE(batch_.Start());
  batch_.Stop();
  RunToEnd();

  EXPECT_EQ(view_.Summary.Jobs, 3);
  EXPECT_EQ(view_.Summary.Finished + view_.Summary.Stopped, 3);
  EXPECT_GE(view_.Summary.Stopped, 2) << "the jobs after the first never start";
  for (const TJobEnd& end : view_.Ends) {
    if (!end.Stopped()) continue;
    // Stopped: no file, or one with its trailer.
    if (fs::exists(end.OutputFile)) {
      EXPECT_GT(fs::file_size(end.OutputFile), 0u) << end.OutputFile;
    }
  }
  for (const std::string& name : OutputFiles())
    EXPECT_GT(fs::file_size(temp_.File("out/" + name)), 0u) << name;
  EXPECT_EQ(std::count(view_.Calls.begin(), view_.Calls.end(), "power off"), 0)
      << "a stopped batch does no end action";
  EXPECT_EQ(converter_.JobCount(), 0);
}

TEST_F(BatchConvertTest, AStoredValueThatDoesNotConvertStartsNothing) {
  batch_.AddFiles({Fixture("avi_mpeg4_mp3.avi"), Fixture("tone.wav")});
  batch_.SetFormatIndex(16);  // MP3: the audio values are read
  {
    TIniFile settings(global_.MainIniFile());
    settings.WriteString("formatInfo16", "paraChannel", "two");
  }
  EXPECT_FALSE(batch_.Start());
  ASSERT_EQ(view_.Messages.size(), 1u);
  EXPECT_EQ(view_.Messages[0].kind, bmStartError);
  EXPECT_EQ(view_.Messages[0].caption, kProductName);
  EXPECT_FALSE(batch_.Running());
  EXPECT_EQ(converter_.JobCount(), 0);
  EXPECT_TRUE(OutputFiles().empty()) << "names claimed for the batch are given back";
}

TEST_F(BatchConvertTest, RemoveAndClearStopThePreviewWhenTheListEmpties) {
  batch_.AddFiles({Fixture("tone.wav"), Fixture("tone.mp3")});
  list_.Select(1);
  ASSERT_TRUE(batch_.Remove());
  EXPECT_EQ(list_.Selected(), 0);
  EXPECT_EQ(std::count(view_.Calls.begin(), view_.Calls.end(), "stop preview"), 0);
  ASSERT_TRUE(batch_.Remove());
  EXPECT_TRUE(list_.Empty());
  EXPECT_EQ(std::count(view_.Calls.begin(), view_.Calls.end(), "stop preview"), 1);

  batch_.AddFiles({Fixture("tone.wav")});
  ASSERT_TRUE(batch_.Clear());
  EXPECT_TRUE(list_.Empty());
  EXPECT_FALSE(batch_.Clear()) << "nothing to clear";
}

}  // namespace
