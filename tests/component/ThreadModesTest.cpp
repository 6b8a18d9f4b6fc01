// Running batches in the three thread modes, on real conversions.
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "tests/component/ConverterMedia.h"

namespace {

using namespace componenttest;

std::string OutputName(int index) {
  return "out" + std::to_string(index) + ".avi";
}

TEST_F(ConverterTest, ThreadModeOneRunsTheJobsOneAfterAnother) {
  converter->SetThreadPriority(tpLower);
  converter->SetProgressInterval(50);
  std::mutex niceLock;
  std::vector<int> niceValues;
  recorder->Reaction = [&](const Event& event) {
    if (event.index < 0 || event.kind == Kind::Terminate) return;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(event.threadId));
    std::lock_guard<std::mutex> guard(niceLock);
    niceValues.push_back(nice);
  };
  for (int k = 0; k < 3; ++k) ASSERT_EQ(AddJob(ShortInput(), OutputName(k)), k);
  const size_t eventsBeforeStart = recorder->Events().size();
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());

  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 4u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(terminations[k].index, k);
    EXPECT_TRUE(terminations[k].finished);
    EXPECT_FALSE(terminations[k].exception);
    EXPECT_EQ(terminations[k].text, "");
  }
  EXPECT_EQ(terminations[3].index, -1);
  EXPECT_TRUE(terminations[3].finished);
  EXPECT_FALSE(terminations[3].exception);

  // One after another: each job's first event follows the report of the one before.
  for (int k = 1; k < 3; ++k) {
    const long previousEnd = recorder->FirstIndexOf([&](const Event& e) { return IsTerminate(e, k - 1); });
    const long firstEvent = recorder->FirstIndexOf([&](const Event& e) { return e.index == k; });
    ASSERT_GE(firstEvent, 0) << k;
    EXPECT_GT(firstEvent, previousEnd) << k;
  }
  const std::vector<Event> events = recorder->Events();
  for (size_t i = eventsBeforeStart; i < events.size(); ++i)
    EXPECT_NE(events[i].thread, std::this_thread::get_id());

  // The worker threads run at the nice value of the priority (or at the
  // test's own, when that is lower still and cannot be raised).
  const int expectedNice = std::max(10, getpriority(PRIO_PROCESS, 0));
  ASSERT_FALSE(niceValues.empty());
  for (int nice : niceValues) EXPECT_EQ(nice, expectedNice);

  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(converter->Job(k)->ProgressIntervalUs, 100000);
    const OutputCheck check = CheckOutput(folder.File(OutputName(k)));
    EXPECT_TRUE(check.Opens) << k;
    EXPECT_NEAR(check.Seconds, 3.0, 0.5) << k;
    EXPECT_EQ(check.VideoStreams, 1);
    EXPECT_EQ(check.AudioStreams, 1);
  }
}

TEST_F(ConverterTest, ThreadModeTwoStartsTwoAtOnceAndTheThirdWhenOneEnds) {
  for (int k = 0; k < 3; ++k) ASSERT_EQ(AddJob(ShortInput(), OutputName(k)), k);
  // Which jobs had started, seen from inside each job's report (the next
  // job starts right after the report).
  std::vector<std::vector<bool>> startedAtReport;
  recorder->Reaction = [&](const Event& event) {
    if (event.kind != Kind::Terminate || event.index < 0) return;
    std::vector<bool> started;
    for (int k = 0; k < 3; ++k) {
      std::shared_ptr<TFFmpeg> job = converter->Job(k);
      started.push_back(job->Running || job->Done);
    }
    startedAtReport.push_back(started);
  };
  converter->StartConvert(2);
  ASSERT_TRUE(recorder->WaitForBatchEnd());

  ASSERT_EQ(recorder->Of(Kind::Terminate).size(), 4u);
  ASSERT_EQ(startedAtReport.size(), 3u);
  EXPECT_EQ(startedAtReport[0], (std::vector<bool>{true, true, false}));
  EXPECT_EQ(startedAtReport[1], (std::vector<bool>{true, true, true}));
  const long firstEnd = recorder->FirstIndexOf([](const Event& e) { return e.kind == Kind::Terminate; });
  const long thirdStart = recorder->FirstIndexOf([](const Event& e) { return e.index == 2; });
  EXPECT_GT(thirdStart, firstEnd);
  for (const Event& event : recorder->Of(Kind::Terminate)) EXPECT_TRUE(event.finished) << event.index;

  // Library lines reach the job whose thread logged them, also while two
  // jobs run at once: each output's description is logged by its own job.
  for (int k = 0; k < 3; ++k) {
    const std::string name = OutputName(k);
    bool seen = false;
    for (const Event& event : recorder->Of(Kind::Log)) {
      if (event.text.find("Output #0") == std::string::npos || event.text.find(name) == std::string::npos)
        continue;
      seen = true;
      EXPECT_EQ(event.index, k) << event.text;
    }
    EXPECT_TRUE(seen) << name;
  }
}

TEST_F(ConverterTest, ThreadModeZeroRunsTheJobsOnTheMainThread) {
  TestDispatcher dispatcher;
  converter->SetMainThreadDispatcher(&dispatcher);
  ASSERT_EQ(AddJob(ShortInput(), OutputName(0)), 0);
  ASSERT_EQ(AddJob(ShortInput(), OutputName(1)), 1);
  const size_t eventsBeforeStart = recorder->Events().size();
  converter->StartConvert(0);
  // Nothing runs inside the call: the first job waits for the main loop.
  EXPECT_FALSE(converter->Job(0)->Running || converter->Job(0)->Done);
  ASSERT_TRUE(recorder->WaitForBatchEnd());

  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 3u);
  EXPECT_EQ(terminations[0].index, 0);
  EXPECT_EQ(terminations[1].index, 1);
  EXPECT_EQ(terminations[2].index, -1);
  const std::vector<Event> events = recorder->Events();
  for (size_t i = eventsBeforeStart; i < events.size(); ++i)
    EXPECT_EQ(events[i].thread, dispatcher.ThreadId());
  // Each job 100 ms after the call, or after the previous job's report.
  EXPECT_EQ(dispatcher.Delays(), (std::vector<int>{100, 100}));
  const std::vector<std::thread::id> callers = dispatcher.Callers();
  ASSERT_EQ(callers.size(), 2u);
  EXPECT_EQ(callers[0], std::this_thread::get_id());
  EXPECT_EQ(callers[1], dispatcher.ThreadId());
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(CheckOutput(folder.File(OutputName(k))).Opens);
  converter->SetMainThreadDispatcher(nullptr);
}

TEST_F(ConverterTest, ThreadModeZeroWithoutADispatcherReportsEveryJob) {
  ASSERT_EQ(AddJob(ShortInput(), OutputName(0)), 0);
  ASSERT_EQ(AddJob(ShortInput(), OutputName(1)), 1);
  converter->StartConvert(0);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 3u);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(terminations[k].index, k);
    EXPECT_FALSE(terminations[k].finished);
    EXPECT_TRUE(terminations[k].exception);
    EXPECT_EQ(terminations[k].text, "No main-thread dispatcher: thread mode 0 cannot start jobs");
  }
  EXPECT_EQ(terminations[2].index, -1);
}

}  // namespace
