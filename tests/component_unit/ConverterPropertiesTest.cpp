// The converter's properties and the failures of its operations that need
// no media.
#include <gtest/gtest.h>

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

#include "engine/binding/MediaLibraries.h"
#include "engine/component/EngineState.h"
#include "tests/component/ComponentTesting.h"
#include "tests/support/TestSupport.h"

namespace {

using componenttest::EventRecorder;

TEST(ConverterProperties, DefaultsAndProgressIntervalFloor) {
  DIZAVUrevadado converter;
  EXPECT_EQ(converter.Version(), "2.2a");
  EXPECT_EQ(converter.LogLevel(), llInfo);
  EXPECT_EQ(converter.ThreadPriority(), tpNormal);
  EXPECT_EQ(converter.CodecThreads(), 0);
  EXPECT_EQ(converter.ProgressInterval(), 500);
  EXPECT_EQ(converter.ThreadMode(), 0);
  EXPECT_EQ(converter.JobCount(), 0);

  const std::pair<int, int> intervals[] = {{50, 100}, {100, 100}, {-5, 100}, {101, 101}, {2500, 2500}};
  for (const auto& [set, read] : intervals) {
    converter.SetProgressInterval(set);
    EXPECT_EQ(converter.ProgressInterval(), read) << set;
  }
  converter.SetCodecThreads(-2);
  EXPECT_EQ(converter.CodecThreads(), 0);
  converter.SetCodecThreads(3);
  EXPECT_EQ(converter.CodecThreads(), 3);
}

TEST(ConverterProperties, LogLevelSetsTheLibrarysLevel) {
  testsupport::LoadLibrariesOrFail();
  const int saved = FF.av_log_get_level();
  DIZAVUrevadado converter;
  ASSERT_TRUE(converter.LoadAVLib("", true));
  const std::pair<TLogLevel, int> levels[] = {{llQuiet, AV_LOG_QUIET},
                                              {llError, AV_LOG_ERROR},
                                              {llInfo, AV_LOG_INFO},
                                              {llDebug, AV_LOG_DEBUG},
                                              {llAll, AV_LOG_TRACE}};
  for (const auto& [level, library] : levels) {
    converter.SetLogLevel(level);
    EXPECT_EQ(converter.LogLevel(), level);
    EXPECT_EQ(FF.av_log_get_level(), library) << level;
    EXPECT_EQ(CurrentLogLevel.load(), library) << level;
  }
  FF.av_log_set_level(saved);
  CurrentLogLevel = saved;
}

TEST(ConverterOperations, FailuresLeaveTheirReasonAndRaiseNothing) {
  testsupport::LoadLibrariesOrFail();
  testsupport::TempFolder folder;
  DIZAVUrevadado converter;
  EventRecorder recorder(converter);
  ASSERT_TRUE(converter.LoadAVLib("", true));

  const std::string missing = folder.File("missing.avi");
  TInputOptions input;
  EXPECT_EQ(converter.AddInputFile(missing, &input), -1);
  EXPECT_EQ(converter.LastErrMsg(), missing + ": no such file or directory");
  EXPECT_EQ(input.FileName, missing);  // filled in before the opening failed
  EXPECT_EQ(converter.JobCount(), 0);

  TInputOptions badFormat;
  badFormat.FileFormat = "no_such_demuxer";
  EXPECT_EQ(converter.AddInputFile(missing, &badFormat), -1);
  EXPECT_EQ(converter.LastErrMsg(), "Unknown input format: no_such_demuxer");

  EXPECT_FALSE(converter.AddOutputFile(3, folder.File("out.avi")));
  EXPECT_EQ(converter.LastErrMsg(), "List index out of bounds (3)");
  EXPECT_EQ(converter.JobProbe(0), nullptr);
  TOutputOptions copy;
  EXPECT_FALSE(converter.GetOutputOptions(0, copy));
  converter.RemoveJob(5);

  converter.ClearJobs();
  EXPECT_EQ(converter.LastErrMsg(), "");

  // Nothing to run: nothing starts and no event fires.
  const size_t before = recorder.Events().size();
  converter.StartConvert(2);
  EXPECT_EQ(converter.ThreadMode(), 2);
  EXPECT_EQ(recorder.Events().size(), before);
}

#if defined(__i386__) || defined(__x86_64__)
TEST(EngineState, FloatingPointControlWordIsSetAtProgramStart) {
  // Set before main on this (the main) thread; the word found there is kept
  // for the end of the program.
  fpu_control_t word = 0;
  _FPU_GETCW(word);
  EXPECT_EQ(word & ~0x40, 0x133F);  // bit 6 is reserved and may read back set
  EXPECT_EQ(SavedFpuControlWord(), static_cast<unsigned>(_FPU_DEFAULT));
}
#endif

}  // namespace
