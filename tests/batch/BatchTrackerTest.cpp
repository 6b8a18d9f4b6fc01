// A batch's events applied to the list and the view: the job-to-row map, the
// texts, the ends, and the actions at the end of the batch; and the queue
// that brings the events to the application's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/Batch.h"
#include "tests/batch/BatchTesting.h"

namespace {

using batchtest::RecordingActions;
using batchtest::RecordingView;

TBatchEvent Started(int job) {
  TBatchEvent event;
  event.Kind = TBatchEvent::bkStarted;
  event.Job = job;
  return event;
}

TBatchEvent Progress(int job, int current, int total) {
  TBatchEvent event;
  event.Kind = TBatchEvent::bkProgress;
  event.Job = job;
  event.Progress.Job = job;
  event.Progress.CurrentDuration = current;
  event.Progress.TotalOutputDuration = total;
  return event;
}

TBatchEvent Ended(int job, bool finished, bool exception = false, const std::string& message = "") {
  TBatchEvent event;
  event.Kind = TBatchEvent::bkTerminate;
  event.Job = job;
  event.Finished = finished;
  event.Exception = exception;
  event.Text = message;
  return event;
}

TBatchEvent BatchEnd() {
  return Ended(-1, true);
}

// Three rows; only rows 0 and 2 are checked, so jobs 0 and 1 are rows 0 and 2.
class TrackerTest : public ::testing::Test {
protected:
  TrackerTest() {
    for (const char* name : {"/v/a.avi", "/v/b.avi", "/v/c.avi"}) {
      TlvFilesRecord record;
      record.SourceFile = name;
      list_.Add(record);
    }
    list_.Row(1).Checked = false;
  }
  TBatchTracker Tracker() {
    return TBatchTracker(list_, view_, &actions_, {0, 2}, {"/out/a_(new).flv", "/out/c_(new).flv"}, "/out/",
                         "Tovrin FLV Video Converter");
  }

  TFileList list_;
  RecordingView view_;
  RecordingActions actions_{view_};
};

TEST_F(TrackerTest, EachJobIsShownInItsOwnRow) {
  TBatchTracker tracker = Tracker();
  tracker.Apply(Started(0));
  tracker.Apply(Progress(0, 2000, 4000));
  tracker.Apply(Ended(0, true));
  tracker.Apply(Started(1));
  tracker.Apply(Progress(1, 5500, 11000));

  ASSERT_EQ(view_.Progress.size(), 2u);
  EXPECT_EQ(view_.Progress[1].Row, 2);
  EXPECT_EQ(view_.Progress[1].Counter, "[2/2]");
  EXPECT_EQ(view_.Progress[1].Output, "/out/c_(new).flv");
  EXPECT_EQ(list_.Row(0).Progress, "100%");
  EXPECT_EQ(list_.Row(1).Progress, "") << "the unchecked row is no job";
  EXPECT_EQ(list_.Row(2).Progress, "50%");
  EXPECT_EQ(view_.Calls, (std::vector<std::string>{"started job 0 row 0", "ended job 0 row 0 finished",
                                                   "started job 1 row 2"}));
}

TEST_F(TrackerTest, EventsOfJobsOutsideTheBatchAreIgnored) {
  TBatchTracker tracker = Tracker();
  tracker.Apply(Progress(2, 10, 100));
  tracker.Apply(Ended(5, true));
  tracker.Apply(Started(-3));
  EXPECT_TRUE(view_.Progress.empty());
  EXPECT_TRUE(view_.Calls.empty());
}

TEST_F(TrackerTest, AFailedJobShowsItsMessageAndCounts) {
  TBatchTracker tracker = Tracker();
  tracker.Apply(Ended(0, false, true, "Error while opening encoder"));
  tracker.Apply(Ended(1, false));
  ASSERT_EQ(view_.Messages.size(), 1u);
  EXPECT_EQ(view_.Messages[0].kind, bmJobError);
  EXPECT_EQ(view_.Messages[0].caption, "Tovrin FLV Video Converter");
  EXPECT_EQ(view_.Messages[0].text, "Error while opening encoder");
  ASSERT_EQ(view_.Ends.size(), 2u);
  EXPECT_EQ(view_.Ends[0].OutputFile, "/out/a_(new).flv");
  EXPECT_TRUE(view_.Ends[1].Stopped());
  EXPECT_EQ(list_.Row(0).Progress, "");
  EXPECT_TRUE(tracker.Apply(BatchEnd()));
  EXPECT_EQ(tracker.Summary().Jobs, 2);
  EXPECT_EQ(tracker.Summary().Failed, 1);
  EXPECT_EQ(tracker.Summary().Stopped, 1);
  EXPECT_EQ(tracker.Summary().Finished, 0);
}

TEST_F(TrackerTest, TheEndActionsRunWhenTheBatchEndsAfterItsLastJobFinished) {
  TBatchTracker tracker = Tracker();
  tracker.SetAfterConversion(true, true);
  EXPECT_FALSE(tracker.Apply(Ended(0, true)));
  EXPECT_FALSE(tracker.Apply(Ended(1, true)));
  EXPECT_EQ(std::count(view_.Calls.begin(), view_.Calls.end(), "power off"), 0)
      << "nothing is done before the batch is over";
  EXPECT_TRUE(tracker.Apply(BatchEnd()));
  EXPECT_EQ(view_.Calls, (std::vector<std::string>{"ended job 0 row 0 finished", "ended job 1 row 2 finished",
                                                   "open folder /out/", "power off"}));
}

TEST_F(TrackerTest, TheEndActionsFollowTheChoices) {
  struct Case {
    const char* name;
    bool openFolder, powerOff;
    bool lastFinishes;
    std::vector<std::string> actions;
  } cases[] = {
      {"open only", true, false, true, {"open folder /out/"}},
      {"power off only", false, true, true, {"power off"}},
      {"neither", false, false, true, {}},
      {"last job stopped", true, true, false, {}},
  };
  for (const Case& c : cases) {
    view_.Calls.clear();
    TBatchTracker tracker = Tracker();
    tracker.SetAfterConversion(c.openFolder, c.powerOff);
    tracker.Apply(Ended(0, true));
    tracker.Apply(Ended(1, c.lastFinishes));
    view_.Calls.clear();
    tracker.Apply(BatchEnd());
    EXPECT_EQ(view_.Calls, c.actions) << c.name;
  }
}

TEST_F(TrackerTest, WithJobsRunningTogetherTheLastJobMayEndFirst) {
  // Job 1 finishes while job 0 still converts: powering off then would cut
  // job 0's file short.
  TBatchTracker tracker = Tracker();
  tracker.SetAfterConversion(false, true);
  tracker.Apply(Ended(1, true));
  tracker.Apply(Progress(0, 100, 200));
  tracker.Apply(Ended(0, true));
  EXPECT_EQ(std::count(view_.Calls.begin(), view_.Calls.end(), "power off"), 0);
  tracker.Apply(BatchEnd());
  EXPECT_EQ(view_.Calls.back(), "power off");
}

TEST(BatchEventQueueTest, WakesWhenEventsStartWaitingAndKeepsTheirOrder) {
  TBatchEventQueue queue;
  int wakeUps = 0;
  queue.SetWakeUp([&] { ++wakeUps; });
  queue.Push(Started(0));
  queue.Push(Progress(0, 1, 2));
  queue.Push(Ended(0, true));
  EXPECT_EQ(wakeUps, 1) << "one wake-up drains everything waiting";
  const std::vector<TBatchEvent> taken = queue.TakeAll();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].Kind, TBatchEvent::bkStarted);
  EXPECT_EQ(taken[1].Kind, TBatchEvent::bkProgress);
  EXPECT_EQ(taken[2].Kind, TBatchEvent::bkTerminate);
  EXPECT_TRUE(queue.Empty());
  queue.Push(BatchEnd());
  EXPECT_EQ(wakeUps, 2);
}

TEST(BatchEventQueueTest, EventsOfEachThreadArriveInOrder) {
  TBatchEventQueue queue;
  std::atomic<int> wakeUps{0};
  queue.SetWakeUp([&] { ++wakeUps; });
  constexpr int kEach = 2000;
  auto produce = [&](int job) {
    for (int i = 0; i < kEach; ++i) queue.Push(Progress(job, i, kEach));
  };
  std::vector<TBatchEvent> taken;
  {
    std::thread first(produce, 0);
    std::thread second(produce, 1);
    // Drain while they push, as an application would.
    while (taken.size() < 2u * kEach) {
      std::vector<TBatchEvent> part = queue.TakeAll();
      taken.insert(taken.end(), part.begin(), part.end());
      if (part.empty()) std::this_thread::yield();
    }
    first.join();
    second.join();
  }
  int next[2] = {0, 0};
  for (const TBatchEvent& event : taken) {
    ASSERT_EQ(event.Progress.CurrentDuration, next[event.Job]) << "job " << event.Job;
    next[event.Job] += 1;
  }
  EXPECT_EQ(next[0], kEach);
  EXPECT_EQ(next[1], kEach);
  EXPECT_GE(wakeUps.load(), 1);
}

}  // namespace
