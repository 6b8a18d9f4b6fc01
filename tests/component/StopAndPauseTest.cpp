// Stopping and pausing a running batch, and destroying a converter that runs.
#include <algorithm>
#include <atomic>

#include "tests/component/ConverterMedia.h"

namespace {

using namespace componenttest;

bool HasProgress(const std::vector<Event>& events) {
  for (const Event& event : events)
    if (event.kind == Kind::Progress) return true;
  return false;
}

TEST_F(ConverterTest, StopDuringTheFirstJobReportsTheOthersFromHelperThreads) {
  ASSERT_EQ(AddJob(LongInput(), "long.avi"), 0);
  ASSERT_EQ(AddJob(ShortInput(), "short1.avi"), 1);
  ASSERT_EQ(AddJob(ShortInput(), "short2.avi"), 2);
  std::atomic<bool> stopped{false};
  recorder->Reaction = [&](const Event& event) {
    // From inside an event: the converter's lock is re-entrant.
    if (event.kind == Kind::Progress && event.index == 0 && !stopped.exchange(true)) converter->StopConvert();
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());

  const std::vector<Event> progress = recorder->Of(Kind::Progress);
  ASSERT_FALSE(progress.empty());
  const std::thread::id worker = progress[0].thread;
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 4u);
  // In any order: job 0 from its worker, the others from helper threads.
  std::vector<int> others;
  for (const Event& event : terminations) {
    if (event.index < 0) continue;
    EXPECT_FALSE(event.finished) << event.index;
    EXPECT_FALSE(event.exception) << event.index;
    if (event.index == 0) {
      EXPECT_EQ(event.thread, worker);
      continue;
    }
    others.push_back(event.index);
    EXPECT_NE(event.thread, worker);
    EXPECT_NE(event.thread, std::this_thread::get_id());
  }
  std::sort(others.begin(), others.end());
  EXPECT_EQ(others, (std::vector<int>{1, 2}));
  // The batch report comes last.
  EXPECT_EQ(terminations[3].index, -1);
  EXPECT_TRUE(terminations[3].finished);
  EXPECT_TRUE(IsTerminate(recorder->Events().back(), -1));
  // Neither of the other jobs produced anything.
  for (const Event& event : recorder->Of(Kind::Progress)) EXPECT_EQ(event.index, 0);

  // The stopped job's output was closed properly and holds the part done.
  const OutputCheck check = CheckOutput(folder.File("long.avi"));
  EXPECT_TRUE(check.Opens);
  EXPECT_LT(check.Seconds, 50.0);
  // The jobs that never ran leave no empty files behind.
  converter->ClearJobs();
  EXPECT_EQ(FileSizeByName(folder.File("short1.avi")), -1);
  EXPECT_EQ(FileSizeByName(folder.File("short2.avi")), -1);
}

TEST_F(ConverterTest, PauseHoldsAJobAndResumeFinishesIt) {
  const std::string output = folder.File("paused.avi");
  // A high rate, so that the muxer has written to the file by the pause.
  TOutputOptions options = AviOutput();
  options.VideoBitrate = 2000000;
  ASSERT_EQ(AddJob(LongInput(), "paused.avi", options), 0);
  auto written = [](const Event& event) {
    return event.kind == Kind::Progress && event.currentSize >= 200000;
  };
  std::atomic<bool> paused{false};
  recorder->Reaction = [&](const Event& event) {
    if (written(event) && !paused.exchange(true)) converter->PauseConvert();
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitFor(
      [&](const std::vector<Event>& events) { return std::any_of(events.begin(), events.end(), written); }));
  std::shared_ptr<TFFmpeg> job = converter->Job(0);
  ASSERT_TRUE(job->WaitUntilPaused(120s)) << "the job did not stop at its pause";
  const size_t progressWhenHeld = recorder->Of(Kind::Progress).size();
  const int64_t sizeWhenHeld = FileSizeByName(output);
  ASSERT_GT(sizeWhenHeld, 0);

  // While it is held, another converter runs a whole conversion.
  {
    DIZAVUrevadado other;
    EventRecorder otherEvents(other);
    TInputOptions input;
    const int index = other.AddInputFile(ShortInput(), &input);
    ASSERT_EQ(index, 0) << other.LastErrMsg();
    TOutputOptions otherOutput = AviOutput();
    ASSERT_TRUE(other.AddOutputFile(index, folder.File("meanwhile.avi"), &otherOutput));
    other.StartConvert(1);
    ASSERT_TRUE(otherEvents.WaitForBatchEnd());
    EXPECT_TRUE(otherEvents.Of(Kind::Terminate).front().finished);
    other.ClearEventHandlers();
  }
  EXPECT_EQ(recorder->Of(Kind::Progress).size(), progressWhenHeld);
  EXPECT_EQ(FileSizeByName(output), sizeWhenHeld);
  EXPECT_TRUE(job->WaitUntilPaused(0ms));
  EXPECT_TRUE(recorder->Of(Kind::Terminate).empty());

  converter->ResumeConvert();
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 2u);
  EXPECT_TRUE(terminations[0].finished);
  EXPECT_GT(recorder->Of(Kind::Progress).size(), progressWhenHeld);
  const OutputCheck check = CheckOutput(output);
  EXPECT_TRUE(check.Opens);
  EXPECT_NEAR(check.Seconds, 60.0, 1.0);
}

TEST_F(ConverterTest, StopEndsAPausedJob) {
  ASSERT_EQ(AddJob(LongInput(), "paused.avi"), 0);
  std::atomic<bool> paused{false};
  recorder->Reaction = [&](const Event& event) {
    if (event.kind == Kind::Progress && !paused.exchange(true)) converter->PauseConvert();
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitFor(HasProgress));
  ASSERT_TRUE(converter->Job(0)->WaitUntilPaused(120s));
  converter->StopConvert();
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  EXPECT_FALSE(recorder->Of(Kind::Terminate).front().finished);
  EXPECT_TRUE(CheckOutput(folder.File("paused.avi")).Opens);
}

TEST_F(ConverterTest, DestroyingTheConverterStopsItsJobsAndWaitsForThem) {
  ASSERT_EQ(AddJob(LongInput(), "long.avi"), 0);
  ASSERT_EQ(AddJob(ShortInput(), "never.avi"), 1);
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitFor(HasProgress));
  converter.reset();
  // The running job ended properly; the job that never ran left nothing; no
  // report reached a handler of the converter being destroyed.
  const OutputCheck check = CheckOutput(folder.File("long.avi"));
  EXPECT_TRUE(check.Opens);
  EXPECT_LT(check.Seconds, 50.0);
  EXPECT_EQ(FileSizeByName(folder.File("never.avi")), -1);
  EXPECT_TRUE(recorder->Of(Kind::Terminate).empty());
}

}  // namespace
