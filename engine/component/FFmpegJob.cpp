// Jobs, their threads, and the start, run, finish and stop of a job.
#include "engine/component/FFmpegJob.h"

#include <sys/resource.h>

#include <algorithm>
#include <exception>

#include "engine/component/LogRouting.h"

int NiceValueOf(TConvertPriority priority) {
  switch (priority) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 15;
    case tpLower:
      return 10;
    case tpNormal:
      return 0;
  }
  return 0;
}

// -- TJobThreadTracker

void TJobThreadTracker::Begin() {
  std::lock_guard<std::mutex> guard(lock_);
  ++running_;
}

void TJobThreadTracker::SetRunner() {
  std::lock_guard<std::mutex> guard(lock_);
  runner_ = std::this_thread::get_id();
}

void TJobThreadTracker::End() {
  std::lock_guard<std::mutex> guard(lock_);
  --running_;
  runner_ = std::thread::id();
  ended_.notify_all();
}

void TJobThreadTracker::WaitUntilEnded() {
  std::unique_lock<std::mutex> guard(lock_);
  if (runner_ == std::this_thread::get_id()) return;
  ended_.wait(guard, [this] { return running_ == 0; });
}

bool TJobThreadTracker::Ended() const {
  std::lock_guard<std::mutex> guard(lock_);
  return running_ == 0;
}

// -- TJobThread

struct TJobThread::TStartLatch {
  enum class TState { Waiting, Resumed, Cancelled };
  std::mutex Lock;
  std::condition_variable Changed;
  TState State = TState::Waiting;
  int32_t ThreadId = 0;

  // The thread tells its id, then waits for the word to run or not.
  bool PublishAndWait(int32_t threadId) {
    std::unique_lock<std::mutex> guard(Lock);
    ThreadId = threadId;
    Changed.notify_all();
    Changed.wait(guard, [this] { return State != TState::Waiting; });
    return State == TState::Resumed;
  }
  int32_t WaitForThreadId() {
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [this] { return ThreadId != 0; });
    return ThreadId;
  }
  void Set(TState state) {
    std::lock_guard<std::mutex> guard(Lock);
    State = state;
    Changed.notify_all();
  }
};

namespace {

void JobThreadMain(std::shared_ptr<TFFmpeg> job, std::shared_ptr<TJobThreadTracker> tracker,
                   std::function<bool(int32_t)> waitForStart, int niceValue, void (TFFmpeg::*body)()) {
  const int32_t threadId = CurrentThreadId();
  // Lowering always works; a failure to raise is left as it is.
  setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), niceValue);
  tracker->SetRunner();
  if (waitForStart(threadId)) {
    try {
      ((*job).*body)();
    } catch (...) {
      // The body reports its own failures; nothing may leave the thread.
    }
  }
  job.reset();  // may free the job: this thread is done with it
  tracker->End();
}

}  // namespace

TJobThread::TJobThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority, void (TFFmpeg::*body)())
    : latch_(std::make_shared<TStartLatch>()) {
  std::shared_ptr<TJobThreadTracker> tracker = job->threads_;
  tracker->Begin();
  std::shared_ptr<TStartLatch> latch = latch_;
  try {
    std::thread thread(
        &JobThreadMain, std::move(job), tracker,
        [latch](int32_t threadId) { return latch->PublishAndWait(threadId); }, NiceValueOf(priority), body);
    thread.detach();
  } catch (...) {
    tracker->End();
    throw;
  }
  threadId_ = latch_->WaitForThreadId();
}

TJobThread::~TJobThread() {
  if (!resumed_) latch_->Set(TStartLatch::TState::Cancelled);
}

void TJobThread::Resume() {
  resumed_ = true;
  latch_->Set(TStartLatch::TState::Resumed);
}

TFFmpegThread::TFFmpegThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority)
    : TJobThread(std::move(job), priority, &TFFmpeg::RunSession) {}

TDoTerminateThread::TDoTerminateThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority)
    : TJobThread(std::move(job), priority, &TFFmpeg::FinishJob) {}

// -- TFFmpeg

TFFmpeg::TFFmpeg() {
  InitInputOptions(JobInputOptions);
  InitOutputOptions(JobOutputOptions);
  JobProbeInstance = std::make_unique<TAVProbe>();
}

TFFmpeg::~TFFmpeg() {
  // The probe may be attached to the session's input: it goes first.
  JobProbeInstance.reset();
}

bool TFFmpeg::TryBegin(bool threaded) {
  std::lock_guard<std::mutex> guard(stateLock_);
  if (Running || Done) return false;
  Running = true;
  StopRequested = false;
  CompletedNormally = false;
  threaded_ = threaded;
  return true;
}

std::unique_ptr<TFFmpegThread> TFFmpeg::StartJob(bool threaded, TConvertPriority priority) {
  std::string failure;
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (Running || Done) return nullptr;
    if (OutputFileCount <= 0) {
      failure = "Must supply at least one output file";
    } else if (InputFileCount == 0) {
      failure = "Must supply at least one input file";
    }
    // A failed check ends the job here: no stop may report it a second time.
    if (!failure.empty()) Done = true;
  }
  if (!failure.empty()) {
    JobProbeInstance->CloseFile();
    ReleaseSession();
    ReportStartFailure(failure);
    return nullptr;
  }
  if (!TryBegin(threaded)) return nullptr;
  PauseGate = [this] { pauseGate_.Pass(); };

  if (threaded) {
    try {
      return std::make_unique<TFFmpegThread>(shared_from_this(), priority);
    } catch (const std::exception& e) {
      JobProbeInstance->CloseFile();
      ReleaseSession();
      ReportStartFailure(std::string("Cannot start the job's thread: ") + e.what());
      return nullptr;
    }
  }

  threads_->Begin();
  threads_->SetRunner();
  JobThreadId = CurrentThreadId();
  RunSession();
  threads_->End();
  return nullptr;
}

void TFFmpeg::ReportStartFailure(const std::string& message) {
  ExceptionRaised = true;
  ExceptionMessage = message;
  if (LogHandler) {
    try {
      LogHandler(*this, -1, message);
    } catch (...) {
      // The failure is reported again through the termination.
    }
  }
  FinishJob();
}

void TFFmpeg::FailBeforeStart(const std::string& message) {
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (Running || Done) return;
    Done = true;
  }
  JobProbeInstance->CloseFile();
  ReleaseSession();
  ReportStartFailure(message);
}

void TFFmpeg::RunSession() {
  CompletedNormally = false;
  std::string failure;
  bool failed = false;
  try {
    RunTranscode();
  } catch (const std::exception& e) {
    failed = true;
    failure = e.what();
  } catch (...) {
    failed = true;
    failure = "Unknown failure";
  }
  if (failed) {
    ExceptionRaised = true;
    ExceptionMessage = failure;
    if (LogHandler) {
      try {
        LogHandler(*this, -1, failure);
      } catch (...) {
        // A failing log handler cannot stop the job's report.
      }
    }
  }
  CloseOpenEncoders();
  CloseOpenDecoders();
  JobProbeInstance->CloseFile();
  ReleaseSession();
  FinishJob();
}

void TFFmpeg::FinishJob() {
  Done = true;
  Running = false;
  JobThreadId = 0;
  if (TerminateHandler) TerminateHandler(*this);
}

void TFFmpeg::StopJob() {
  std::unique_lock<std::mutex> guard(stateLock_);
  if (Running) {
    StopRequested = true;
    pauseGate_.Open();
    return;
  }
  if (Done) return;
  Done = true;
  try {
    TDoTerminateThread helper(shared_from_this(), tpIdle);
    helper.Resume();
  } catch (const std::exception&) {
    // No thread to spare: report it from here.
    guard.unlock();
    FinishJob();
  }
}

void TFFmpeg::RequestStop() {
  std::lock_guard<std::mutex> guard(stateLock_);
  StopRequested = true;
  if (!Running) Done = true;
  pauseGate_.Open();
}

void TFFmpeg::PauseJob() {
  std::lock_guard<std::mutex> guard(stateLock_);
  if (Running && threaded_ && !StopRequested) pauseGate_.Close();
}

void TFFmpeg::ResumeJob() {
  pauseGate_.Open();
}

// -- TFFmpegList

TFFmpeg* TFFmpegList::Get(int index) const {
  return Share(index).get();
}

std::shared_ptr<TFFmpeg> TFFmpegList::Share(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return jobs_[static_cast<size_t>(index)];
}

int TFFmpegList::Add(std::shared_ptr<TFFmpeg> job) {
  const int index = Count();
  job->JobIndex = index;
  jobs_.push_back(std::move(job));
  return index;
}

std::shared_ptr<TFFmpeg> TFFmpegList::Extract(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  std::shared_ptr<TFFmpeg> job = std::move(jobs_[static_cast<size_t>(index)]);
  jobs_.erase(jobs_.begin() + index);
  for (int i = index; i < Count(); ++i) jobs_[static_cast<size_t>(i)]->JobIndex = i;
  return job;
}

std::vector<std::shared_ptr<TFFmpeg>> TFFmpegList::ExtractAll() {
  std::vector<std::shared_ptr<TFFmpeg>> jobs;
  jobs.swap(jobs_);
  return jobs;
}

TFFmpeg* TFFmpegList::FindByThreadId(int32_t threadId) const {
  if (threadId == 0) return nullptr;
  for (const std::shared_ptr<TFFmpeg>& job : jobs_)
    if (job->JobThreadId == threadId) return job.get();
  return nullptr;
}
