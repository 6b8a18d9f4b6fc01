// The converter component: creation and destruction, properties, library
// loading, and the job list.
#include "engine/component/ZERIConverter.h"

#include <algorithm>
#include <exception>

#include "engine/binding/EngineError.h"
#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/component/EngineState.h"
#include "engine/component/JobOptionsApply.h"
#include "engine/component/LogRouting.h"

namespace {

// Makes the process-wide state at program start, on the main thread, in every
// program that uses the converter.
[[maybe_unused]] const bool engineStateMadeAtStart = (EnsureEngineState(), true);

}  // namespace

TCustomFFmpegVCL::TCustomFFmpegVCL()
    : converterProbe_(std::make_unique<TAVProbe>()), tickState_(std::make_shared<TTickState>()) {
  tickState_->Owner = this;
  ComponentRegistry().Add(this);
}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
  // No library line reaches this component once Remove returns.
  ComponentRegistry().Remove(this);
  std::vector<std::shared_ptr<TFFmpeg>> jobs;
  {
    std::lock_guard<TEventLock> guard(EventLock);
    PendingJobs = 0;
    batchActive_ = false;
    jobs = jobs_.ExtractAll();
    jobs.insert(jobs.end(), retired_.begin(), retired_.end());
    retired_.clear();
    for (const std::shared_ptr<TFFmpeg>& job : jobs) {
      job->orphaned_ = true;
      job->RequestStop();
    }
  }
  {
    // Waits for a job the dispatcher is running; later ticks find no owner.
    std::lock_guard<std::mutex> guard(tickState_->Lock);
    tickState_->Owner = nullptr;
  }
  for (const std::shared_ptr<TFFmpeg>& job : jobs) {
    job->WaitForThread();
    // Whoever still holds the job must not be led back to this component.
    if (!job->ThreadEnded()) continue;
    job->LogHandler = nullptr;
    job->ProgressHandler = nullptr;
    job->TerminateHandler = nullptr;
    job->BeforeHookHandler = nullptr;
    job->CustomHookHandler = nullptr;
  }
}

std::string TCustomFFmpegVCL::LastErrMsg() const {
  std::lock_guard<std::mutex> guard(lastErrLock_);
  return lastErrMsg_;
}

void TCustomFFmpegVCL::SetLastErrMsg(const std::string& message) {
  std::lock_guard<std::mutex> guard(lastErrLock_);
  lastErrMsg_ = message;
}

void TCustomFFmpegVCL::SetLogLevel(TLogLevel level) {
  // Under the event lock: a job's start sets the same process-wide level.
  std::lock_guard<TEventLock> guard(EventLock);
  logLevel_ = level;
  if (MediaLibrariesLoaded()) {
    FF.av_log_set_level(LibraryLogLevel(static_cast<int>(level) - 1));
    CurrentLogLevel = FF.av_log_get_level();
  }
}

void TCustomFFmpegVCL::SetProgressInterval(int milliseconds) {
  progressInterval_ = std::max(milliseconds, 100);
}

void TCustomFFmpegVCL::SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher) {
  std::lock_guard<TEventLock> guard(EventLock);
  dispatcher_ = dispatcher;
}

void TCustomFFmpegVCL::ClearEventHandlers() {
  // One lock after the other: a hook handler may take EventLock.
  {
    std::lock_guard<TEventLock> guard(EventLock);
    OnLog = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
  }
  std::unique_lock<std::shared_mutex> hooks(hookLock_);
  OnBeforeHook = nullptr;
  OnCustomHook = nullptr;
}

bool TCustomFFmpegVCL::LoadAVLib(const std::string& folder, bool versionedNames) {
  if (!LoadMediaLibraries(folder, versionedNames)) {
    SetLastErrMsg(MediaLibrariesError());
    return false;
  }
  InstallLibraryLogCallback();
  SetLogLevel(LogLevel());
  return true;
}

std::shared_ptr<TFFmpeg> TCustomFFmpegVCL::NewJob() {
  auto job = std::make_shared<TFFmpeg>();
  job->LogHandler = [this](TCustomFFmpeg& session, int level, const std::string& text) {
    DoLog(static_cast<TFFmpeg*>(&session), level, text);
  };
  return job;
}

int TCustomFFmpegVCL::AddInputFile(const std::string& fileName, TInputOptions* options) {
  std::shared_ptr<TFFmpeg> job;
  try {
    TAVProbe::CheckLibraries();
    job = NewJob();
    job->InitSession();
    job->ThreadCount = codecThreads_;
    {
      std::lock_guard<TEventLock> guard(EventLock);
      job->ParseOption("v", std::to_string(static_cast<int>(LogLevel()) - 1));
    }
    if (options) {
      if (options->FileName.empty()) options->FileName = fileName;
      job->JobInputOptions = *options;
      ApplyInputOptions(*job, *options);
    } else {
      InitInputOptions(job->JobInputOptions);
    }
    if (!job->OpenInputFile(fileName)) {
      job->LogHandler = nullptr;
      SetLastErrMsg(job->LastError);
      return -1;
    }
    job->JobProbeInstance->AttachContext(job->InputFiles[0]);
    job->ProgressHandler = [this](TCustomFFmpeg& session, int frameNumber, int fps, int currentDurationMs,
                                  float quality, float bitRate, int64_t currentSize, int) {
      DoProgress(static_cast<TFFmpeg*>(&session), frameNumber, fps, currentDurationMs, quality, bitRate,
                 currentSize);
    };
    job->TerminateHandler = [this](TCustomFFmpeg& session) { DoTerminate(static_cast<TFFmpeg*>(&session)); };
  } catch (const std::exception& e) {
    if (job) job->LogHandler = nullptr;
    SetLastErrMsg(e.what());
    return -1;
  }
  std::lock_guard<TEventLock> guard(EventLock);
  return jobs_.Add(std::move(job));
}

bool TCustomFFmpegVCL::AddOutputFile(int index, const std::string& fileName, TOutputOptions* options) {
  try {
    std::shared_ptr<TFFmpeg> job = Job(index);
    if (!job) throw FFMpegException(FormatText("List index out of bounds (%d)", index));
    if (options) {
      if (options->FileName.empty()) options->FileName = fileName;
      job->JobOutputOptions = *options;
      ApplyOutputOptions(*job, *options);
      if (options->CustomHook) {
        job->CustomHookHandler = [this](TCustomFFmpeg& session, TBitmap& bitmap, int frameNumber, int64_t pts,
                                        bool& update, bool& stopHook) {
          DoCustomHook(static_cast<TFFmpeg*>(&session), bitmap, frameNumber, pts, update, stopHook);
        };
      } else if (options->BeforeHook) {
        job->BeforeHookHandler = [this](TCustomFFmpeg& session, int64_t pts, THookAction& action) {
          DoBeforeHook(static_cast<TFFmpeg*>(&session), pts, action);
        };
      } else {
        job->HookRanges = ParseHookTimeRanges(options->HookTimeRanges);
      }
    } else {
      InitOutputOptions(job->JobOutputOptions);
    }
    if (!job->OpenOutputFile(fileName)) {
      SetLastErrMsg(job->LastError);
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    SetLastErrMsg(e.what());
    return false;
  }
}

int TCustomFFmpegVCL::JobCount() {
  std::lock_guard<TEventLock> guard(EventLock);
  return jobs_.Count();
}

std::shared_ptr<TFFmpeg> TCustomFFmpegVCL::Job(int index) {
  std::lock_guard<TEventLock> guard(EventLock);
  return jobs_.Share(index);
}

TAVProbe* TCustomFFmpegVCL::JobProbe(int index) {
  std::shared_ptr<TFFmpeg> job = Job(index);
  return job ? job->JobProbeInstance.get() : nullptr;
}

bool TCustomFFmpegVCL::GetOutputOptions(int index, TOutputOptions& options) {
  std::shared_ptr<TFFmpeg> job = Job(index);
  if (!job) return false;
  options = job->JobOutputOptions;
  return true;
}

void TCustomFFmpegVCL::RetireJobs(std::vector<std::shared_ptr<TFFmpeg>> jobs) {
  // Whether the caller is inside an event: then a job thread may be waiting
  // for this very lock, and waiting for it here would never end.
  const bool canWait = !EventLock.HeldByCurrentThread();
  {
    std::lock_guard<TEventLock> guard(EventLock);
    for (const std::shared_ptr<TFFmpeg>& job : jobs) {
      job->orphaned_ = true;
      job->RequestStop();
    }
    std::erase_if(retired_, [](const std::shared_ptr<TFFmpeg>& job) { return job->ThreadEnded(); });
    if (canWait) {
      jobs.insert(jobs.end(), retired_.begin(), retired_.end());
      retired_.clear();
    } else {
      retired_.insert(retired_.end(), jobs.begin(), jobs.end());
      jobs.clear();
    }
  }
  for (const std::shared_ptr<TFFmpeg>& job : jobs) job->WaitForThread();
}

void TCustomFFmpegVCL::ClearJobs() {
  std::vector<std::shared_ptr<TFFmpeg>> jobs;
  {
    std::lock_guard<TEventLock> guard(EventLock);
    jobs = jobs_.ExtractAll();
    PendingJobs = 0;
    FinishedJobs = 0;
    NextJob = -1;
    batchActive_ = false;
    threadMode_ = 0;
  }
  SetLastErrMsg("");
  RetireJobs(std::move(jobs));
}

void TCustomFFmpegVCL::RemoveJob(int index) {
  std::shared_ptr<TFFmpeg> job;
  {
    std::lock_guard<TEventLock> guard(EventLock);
    job = jobs_.Extract(index);
    if (!job) return;
    if (batchActive_) {
      // Keep the batch's counts true to the jobs that stay.
      if (index < NextJob) {
        NextJob -= 1;
        if (job->reported_) FinishedJobs -= 1;
      } else if (PendingJobs > 0) {
        PendingJobs -= 1;
      }
    }
    job->orphaned_ = true;
    // The removed job may have been the one the batch was waiting for.
    if (batchActive_ && PendingJobs == 0 && FinishedJobs >= jobs_.Count()) BatchReport();
  }
  RetireJobs({job});
}
