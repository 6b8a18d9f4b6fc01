// What the converter reports about each job: failures before and during a
// run, renumbering, the job records, the total duration, and a batch report
// handler that clears the jobs.
#include <stdexcept>

#include "tests/component/ConverterMedia.h"

namespace {

using namespace componenttest;

std::vector<Event> LogsOf(const EventRecorder& recorder, int index, TLogLevel level) {
  std::vector<Event> selected;
  for (const Event& event : recorder.Of(Kind::Log))
    if (event.index == index && event.level == level) selected.push_back(event);
  return selected;
}

TEST_F(ConverterTest, AJobWithoutOutputFailsItsStartCheckAndTheBatchGoesOn) {
  TInputOptions input;
  ASSERT_EQ(converter->AddInputFile(ShortInput(), &input), 0);
  TOutputOptions bad = AviOutput();
  bad.FileFormat = "no_such_muxer";
  EXPECT_FALSE(converter->AddOutputFile(0, folder.File("never.avi"), &bad));
  EXPECT_EQ(converter->LastErrMsg(), "Unknown output format: no_such_muxer");
  ASSERT_EQ(AddJob(ShortInput(), "good1.avi"), 1);
  ASSERT_EQ(AddJob(ShortInput(), "good2.avi"), 2);

  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 4u);
  EXPECT_EQ(terminations[0].index, 0);
  EXPECT_FALSE(terminations[0].finished);
  EXPECT_TRUE(terminations[0].exception);
  EXPECT_EQ(terminations[0].text, "Must supply at least one output file");
  for (int k = 1; k < 3; ++k) {
    EXPECT_EQ(terminations[k].index, k);
    EXPECT_TRUE(terminations[k].finished);
  }
  EXPECT_EQ(terminations[3].index, -1);

  const std::vector<Event> quiet = LogsOf(*recorder, 0, llQuiet);
  ASSERT_EQ(quiet.size(), 1u);
  EXPECT_EQ(quiet[0].text, "Must supply at least one output file");
  for (const Event& event : recorder->Of(Kind::Progress)) EXPECT_NE(event.index, 0);
  EXPECT_EQ(FileSizeByName(folder.File("never.avi")), -1);
}

TEST_F(ConverterTest, FailuresInsideARunReachTheLogAndTheReport) {
  // A set-up failure of the transcode, and a failing progress handler.
  TOutputOptions copyWithVolume = AviOutput();
  copyWithVolume.AudioCodec = "copy";
  copyWithVolume.AudioVolume = 512;
  ASSERT_EQ(AddJob(ShortInput(), "copy.avi", copyWithVolume), 0);
  ASSERT_EQ(AddJob(ShortInput(), "handler.avi"), 1);
  recorder->Reaction = [](const Event& event) {
    if (event.kind == Kind::Progress && event.index == 1) throw std::runtime_error("progress handler failed");
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());

  const std::string setupFailure = "-acodec copy and -vol are incompatible (frames are not decoded)";
  const std::pair<int, std::string> expected[] = {{0, setupFailure}, {1, "progress handler failed"}};
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 3u);
  for (const auto& [index, message] : expected) {
    const std::vector<Event> quiet = LogsOf(*recorder, index, llQuiet);
    ASSERT_EQ(quiet.size(), 1u) << index;
    EXPECT_EQ(quiet[0].text, message);
    EXPECT_EQ(terminations[index].index, index);
    EXPECT_FALSE(terminations[index].finished);
    EXPECT_TRUE(terminations[index].exception);
    EXPECT_EQ(terminations[index].text, message);
  }
  EXPECT_EQ(terminations[2].index, -1);
}

TEST_F(ConverterTest, RemoveJobRenumbersTheJobsAfterIt) {
  ASSERT_EQ(AddJob(ShortInput(), "a.avi"), 0);
  ASSERT_EQ(AddJob(ShortInput(), "b.avi"), 1);
  ASSERT_EQ(AddJob(ShortInput(), "c.avi"), 2);
  converter->RemoveJob(0);
  ASSERT_EQ(converter->JobCount(), 2);
  TOutputOptions first, second;
  ASSERT_TRUE(converter->GetOutputOptions(0, first));
  ASSERT_TRUE(converter->GetOutputOptions(1, second));
  EXPECT_EQ(first.FileName, folder.File("b.avi"));
  EXPECT_EQ(second.FileName, folder.File("c.avi"));
  EXPECT_EQ(FileSizeByName(folder.File("a.avi")), -1);  // the removed job's empty output is gone

  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 3u);
  EXPECT_EQ(terminations[0].index, 0);
  EXPECT_EQ(terminations[1].index, 1);
  EXPECT_EQ(terminations[2].index, -1);
  // The jobs' own lines carry their new indices.
  for (const Event& event : recorder->Of(Kind::Log)) {
    if (event.text.find("Output #0") == std::string::npos) continue;
    const bool second = event.text.find("b.avi") != std::string::npos;
    const bool third = event.text.find("c.avi") != std::string::npos;
    EXPECT_TRUE(second || third) << event.text;
    EXPECT_EQ(event.index, second ? 0 : 1) << event.text;
  }
  EXPECT_TRUE(CheckOutput(folder.File("b.avi")).Opens);
  EXPECT_TRUE(CheckOutput(folder.File("c.avi")).Opens);
}

TEST_F(ConverterTest, RemovingTheLastRunningJobEndsTheBatch) {
  ASSERT_EQ(AddJob(ShortInput(), "first.avi"), 0);
  ASSERT_EQ(AddJob(LongInput(), "second.avi"), 1);
  std::atomic<bool> removed{false};
  recorder->Reaction = [&](const Event& event) {
    if (event.kind == Kind::Progress && event.index == 1 && !removed.exchange(true)) converter->RemoveJob(1);
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  const std::vector<Event> terminations = recorder->Of(Kind::Terminate);
  ASSERT_EQ(terminations.size(), 2u);
  EXPECT_EQ(terminations[0].index, 0);
  EXPECT_EQ(terminations[1].index, -1);
  EXPECT_EQ(converter->JobCount(), 1);
}

TEST_F(ConverterTest, JobsKeepTheirRecordsAndDescribeTheirInput) {
  converter->SetCodecThreads(1);
  TInputOptions input;
  ASSERT_EQ(converter->AddInputFile(ShortInput(), &input), 0);
  EXPECT_EQ(input.FileName, ShortInput());
  TOutputOptions output = AviOutput();
  output.Title = "Kept";
  ASSERT_TRUE(converter->AddOutputFile(0, folder.File("kept.avi"), &output));
  EXPECT_EQ(output.FileName, folder.File("kept.avi"));

  std::shared_ptr<TFFmpeg> job = converter->Job(0);
  EXPECT_EQ(job->JobInputOptions.FileName, ShortInput());
  EXPECT_EQ(job->ThreadCount, 1);
  TOutputOptions copy;
  ASSERT_TRUE(converter->GetOutputOptions(0, copy));
  EXPECT_EQ(copy.FileName, folder.File("kept.avi"));
  EXPECT_EQ(copy.VideoCodec, "mpeg4");
  EXPECT_EQ(copy.Title, "Kept");
  TAVProbe* probe = converter->JobProbe(0);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->VideoStreamCount(), 1);
  EXPECT_EQ(probe->AudioStreamCount(), 1);
  TFormatInfo info;
  probe->GetFormatInfo(info);
  EXPECT_NEAR(info.Duration / 1e6, 3.0, 0.2);

  // Without records the job keeps default records; codec threads default to
  // the library's choice.
  converter->SetCodecThreads(0);
  ASSERT_EQ(converter->AddInputFile(ShortInput()), 1);
  ASSERT_TRUE(converter->AddOutputFile(1, folder.File("plain.avi")));
  job = converter->Job(1);
  EXPECT_EQ(job->JobInputOptions.FileName, "");
  EXPECT_EQ(job->JobOutputOptions.FileName, "");
  EXPECT_EQ(job->JobOutputOptions.TargetFallbackNorm, 1);
  EXPECT_EQ(job->ThreadCount, 0);
}

TEST_F(ConverterTest, HookChoiceOfTheOutputRecord) {
  // Custom hook wins over the before-hook; without either the time ranges
  // apply. The hook events fire with the job's index and pass the answers back.
  TOutputOptions custom = AviOutput();
  custom.CustomHook = true;
  custom.BeforeHook = true;
  custom.HookTimeRanges = "0-1000";
  TOutputOptions before = AviOutput();
  before.BeforeHook = true;
  TOutputOptions ranges = AviOutput();
  ranges.HookTimeRanges = "5000-10000,0-2000";
  ASSERT_EQ(AddJob(ShortInput(), "custom.avi", custom), 0);
  ASSERT_EQ(AddJob(ShortInput(), "before.avi", before), 1);
  ASSERT_EQ(AddJob(ShortInput(), "ranges.avi", ranges), 2);

  std::shared_ptr<TFFmpeg> first = converter->Job(0);
  std::shared_ptr<TFFmpeg> second = converter->Job(1);
  std::shared_ptr<TFFmpeg> third = converter->Job(2);
  ASSERT_TRUE(first->CustomHookHandler);
  EXPECT_FALSE(first->BeforeHookHandler);
  EXPECT_TRUE(first->HookRanges.empty());
  EXPECT_FALSE(second->CustomHookHandler);
  ASSERT_TRUE(second->BeforeHookHandler);
  EXPECT_FALSE(third->CustomHookHandler || third->BeforeHookHandler);
  ASSERT_EQ(third->HookRanges.size(), 2u);
  EXPECT_EQ(third->HookRanges[0].End, 2000000);
  EXPECT_EQ(third->HookRanges[1].Start, 5000000);

  std::vector<std::pair<int, int64_t>> calls;
  converter->OnCustomHook = [&](int index, TBitmap&, int frameNumber, int64_t pts, bool& update, bool& stop) {
    calls.emplace_back(index, pts + frameNumber);
    update = true;
    stop = true;
  };
  converter->OnBeforeHook = [&](int index, int64_t pts, THookAction& action) {
    calls.emplace_back(index, pts);
    action = haIgnore;
  };
  TBitmap picture;
  bool update = false, stop = false;
  first->CustomHookHandler(*first, picture, 3, 40000, update, stop);
  THookAction action = haContinue;
  second->BeforeHookHandler(*second, 80000, action);
  EXPECT_EQ(calls, (std::vector<std::pair<int, int64_t>>{{0, 40003}, {1, 80000}}));
  EXPECT_TRUE(update && stop);
  EXPECT_EQ(action, haIgnore);
}

TEST_F(ConverterTest, DurationLimitsTheOutputAndIsTheReportedTotal) {
  TOutputOptions limited = AviOutput();
  limited.Duration = 1000;
  ASSERT_EQ(AddJob(ShortInput(), "limited.avi", limited), 0);
  ASSERT_EQ(AddJob(ShortInput(), "whole.avi"), 1);
  converter->StartConvert(2);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  bool seen[2] = {false, false};
  for (const Event& event : recorder->Of(Kind::Progress)) {
    seen[event.index] = true;
    if (event.index == 0) {
      EXPECT_EQ(event.totalDuration, 1000);
    } else {
      EXPECT_NEAR(event.totalDuration, 3000, 100);
    }
  }
  EXPECT_TRUE(seen[0] && seen[1]);
  EXPECT_NEAR(CheckOutput(folder.File("limited.avi")).Seconds, 1.0, 0.3);
  EXPECT_NEAR(CheckOutput(folder.File("whole.avi")).Seconds, 3.0, 0.5);
}

TEST_F(ConverterTest, DvdTargetWithoutNormDetectsPalFromTheInput) {
  TInputOptions input;
  ASSERT_EQ(converter->AddInputFile(ShortInput(), &input), 0);  // 25 frames per second
  TOutputOptions dvd;
  dvd.Target = 3;
  ASSERT_TRUE(converter->AddOutputFile(0, folder.File("dvd.mpg"), &dvd)) << converter->LastErrMsg();
  bool assumed = false;
  for (const Event& event : recorder->Of(Kind::Log))
    if (event.index == 0 && event.text == "Assuming PAL for target.") assumed = true;
  EXPECT_TRUE(assumed);
  std::shared_ptr<TFFmpeg> job = converter->Job(0);
  EXPECT_EQ(job->OutputRecord(0).Streams.at(0).Encoder->width, 720);
  EXPECT_EQ(job->OutputRecord(0).Streams.at(0).Encoder->height, 576);
}

TEST_F(ConverterTest, TheBatchReportHandlerMayClearTheJobs) {
  ASSERT_EQ(AddJob(ShortInput(), "one.avi"), 0);
  ASSERT_EQ(AddJob(ShortInput(), "two.avi"), 1);
  recorder->Reaction = [&](const Event& event) {
    // On the last job's worker thread, inside the report.
    if (IsTerminate(event, -1)) converter->ClearJobs();
  };
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitForBatchEnd());
  EXPECT_EQ(converter->JobCount(), 0);
  EXPECT_TRUE(CheckOutput(folder.File("one.avi")).Opens);
  EXPECT_TRUE(CheckOutput(folder.File("two.avi")).Opens);

  // The converter takes the next batch.
  ASSERT_EQ(AddJob(ShortInput(), "three.avi"), 0);
  converter->StartConvert(1);
  ASSERT_TRUE(recorder->WaitFor([](const std::vector<Event>& events) {
    int batches = 0;
    for (const Event& event : events) batches += IsTerminate(event, -1) ? 1 : 0;
    return batches == 2;
  }));
  EXPECT_TRUE(CheckOutput(folder.File("three.avi")).Opens);
}

}  // namespace
