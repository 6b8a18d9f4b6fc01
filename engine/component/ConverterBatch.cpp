// The converter's batch: starting jobs in the three thread modes, stop, pause
// and resume, and the delivery of events and library log lines.
#include <climits>
#include <exception>

#include "engine/component/EngineState.h"
#include "engine/component/LogRouting.h"
#include "engine/component/ZERIConverter.h"

namespace {

void ClearLogBuffers() {
  std::lock_guard<std::mutex> guard(LogBuffersLock());
  LogBuffers().Clear();
}

TLogLevel LogLevelOfSessionLevel(int level) {
  if (level < 0) return llQuiet;
  if (level >= 4) return llAll;
  return static_cast<TLogLevel>(level + 1);
}

}  // namespace

void TCustomFFmpegVCL::StartConvert(int threadMode) {
  std::lock_guard<TEventLock> guard(EventLock);
  ClearLogBuffers();
  NextJob = 0;
  FinishedJobs = 0;
  threadMode_ = threadMode;
  PendingJobs = jobs_.Count();
  batchActive_ = PendingJobs > 0;
  for (int n = threadMode; PendingJobs > 0;) {
    StartNextJob();
    if (--n <= 0) break;
  }
}

void TCustomFFmpegVCL::StartNextJob() {
  if (PendingJobs <= 0) return;
  PendingJobs -= 1;
  std::shared_ptr<TFFmpeg> job = jobs_.Share(NextJob);
  // Counted before the start: a job that fails its start checks reports at
  // once, and its report starts the job after it.
  NextJob += 1;
  if (!job) return;

  if (threadMode_ > 0) {
    RunJob(job);
  } else if (dispatcher_) {
    std::shared_ptr<TTickState> tick = tickState_;
    std::weak_ptr<TFFmpeg> weakJob = job;
    dispatcher_->RunAfter(100, [tick, weakJob] {
      std::lock_guard<std::mutex> guard(tick->Lock);
      std::shared_ptr<TFFmpeg> started = weakJob.lock();
      if (tick->Owner && started) tick->Owner->RunJob(started);
    });
  } else {
    job->FailBeforeStart("No main-thread dispatcher: thread mode 0 cannot start jobs");
  }
}

void TCustomFFmpegVCL::RunJob(const std::shared_ptr<TFFmpeg>& job) {
  if (job->Running || job->Done) return;
  job->ProgressIntervalUs = int64_t{progressInterval_} * 1000;
  {
    std::lock_guard<TEventLock> guard(EventLock);
    job->ParseOption("v", std::to_string(static_cast<int>(LogLevel()) - 1));
  }
  if (threadMode_ <= 0) {
    job->JobThreadId = CurrentThreadId();
    job->StartJob(false, ThreadPriority());
    return;
  }
  std::unique_ptr<TFFmpegThread> thread = job->StartJob(true, ThreadPriority());
  if (thread) {
    job->JobThreadId = thread->ThreadId();
    thread->Resume();
  }
}

void TCustomFFmpegVCL::StopConvert() {
  std::lock_guard<TEventLock> guard(EventLock);
  PendingJobs = 0;
  for (int i = 0; i < jobs_.Count(); ++i) jobs_.Get(i)->StopJob();
}

void TCustomFFmpegVCL::PauseConvert() {
  std::lock_guard<TEventLock> guard(EventLock);
  for (int i = 0; i < jobs_.Count(); ++i) jobs_.Get(i)->PauseJob();
}

void TCustomFFmpegVCL::ResumeConvert() {
  std::lock_guard<TEventLock> guard(EventLock);
  for (int i = 0; i < jobs_.Count(); ++i) jobs_.Get(i)->ResumeJob();
}

void TCustomFFmpegVCL::DoBeforeHook(TFFmpeg* job, int64_t pts, THookAction& action) {
  std::shared_lock<std::shared_mutex> guard(hookLock_);
  if (job->orphaned_ || !OnBeforeHook) return;
  OnBeforeHook(job->JobIndex, pts, action);
}

void TCustomFFmpegVCL::DoCustomHook(TFFmpeg* job, TBitmap& bitmap, int frameNumber, int64_t pts, bool& update,
                                    bool& stopHook) {
  std::shared_lock<std::shared_mutex> guard(hookLock_);
  if (job->orphaned_ || !OnCustomHook) return;
  OnCustomHook(job->JobIndex, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomFFmpegVCL::DoLog(TFFmpeg* job, int level, const std::string& text) {
  std::lock_guard<TEventLock> guard(EventLock);
  if ((job && job->orphaned_) || !OnLog) return;
  OnLog(job ? job->JobIndex.load() : -1, LogLevelOfSessionLevel(level), text);
}

void TCustomFFmpegVCL::DoProgress(TFFmpeg* job, int frameNumber, int fps, int currentDuration, float quality,
                                  float bitRate, int64_t currentSize) {
  std::lock_guard<TEventLock> guard(EventLock);
  if (job->orphaned_ || !OnProgress) return;
  const int64_t total = job->TotalDuration;
  const int totalOutputDuration = total < 0 ? -1 : total > INT_MAX ? INT_MAX : static_cast<int>(total);
  OnProgress(job->JobIndex, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
             totalOutputDuration);
}

void TCustomFFmpegVCL::DoTerminate(TFFmpeg* job) {
  std::lock_guard<TEventLock> guard(EventLock);
  if (!job) {
    BatchReport();
    return;
  }
  if (job->orphaned_) return;
  std::string handlerFailure;
  if (OnTerminate) {
    try {
      OnTerminate(job->JobIndex, job->CompletedNormally, job->ExceptionRaised, job->ExceptionMessage);
    } catch (const std::exception& e) {
      handlerFailure = e.what();
    } catch (...) {
      handlerFailure = "Unknown failure in the termination handler";
    }
  }
  // The handler may have removed the job, or cleared the list: the batch's
  // counts no longer include it then.
  if (job->orphaned_) return;
  job->reported_ = true;
  FinishedJobs += 1;
  if (PendingJobs > 0) {
    StartNextJob();
  } else if (FinishedJobs >= jobs_.Count()) {
    BatchReport();
  }
  // The report stands; a failing handler is only logged, so that the batch
  // still goes on and ends.
  if (!handlerFailure.empty()) {
    try {
      DoLog(job->orphaned_ ? nullptr : job, -1, handlerFailure);
    } catch (...) {
    }
  }
}

void TCustomFFmpegVCL::BatchReport() {
  batchActive_ = false;
  if (OnTerminate) {
    try {
      OnTerminate(-1, true, false, "");
    } catch (...) {
      // Nothing is left to report to.
    }
  }
  ClearLogBuffers();
}

void TCustomFFmpegVCL::DeliverLibraryLines(int32_t threadId, int level,
                                           const std::vector<std::string>& lines) {
  // Nothing may leave through the library's C code.
  try {
    std::lock_guard<TEventLock> guard(EventLock);
    TFFmpeg* job = jobs_.FindByThreadId(threadId);
    if (!job) {
      // A removed job still finishing: its lines go nowhere.
      for (const std::shared_ptr<TFFmpeg>& retired : retired_)
        if (retired->JobThreadId == threadId) return;
    }
    for (const std::string& line : lines) DoLog(job, level, line);
  } catch (...) {
  }
}
