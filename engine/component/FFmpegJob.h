#pragma once
// One conversion job of a converter component: a session with one input and
// one output, the option records it was made from, a probe describing its
// input, and the thread that runs it.
//
// Ownership: jobs are shared. The component's job list holds one reference;
// a thread running a job holds another until it ends, so a job is never
// freed while its thread still runs, whoever lets go of it first.
//
// Threads:
// - The component's thread adds the job, applies options and opens files.
// - The run happens once: on a TFFmpegThread (threaded), or on the thread
//   that calls StartJob (not threaded). A job stopped before it started is
//   reported by a short-lived TDoTerminateThread.
// - StopJob, RequestStop, PauseJob and ResumeJob may be called from any
//   thread while the job runs.
// - The session's handlers (log, progress, terminate, hooks) are called on
//   the thread that runs the job.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/component/ConvertPriority.h"
#include "engine/component/JobOptions.h"
#include "engine/component/PauseGate.h"
#include "engine/probe/AVProbe.h"
#include "engine/session/CustomFFmpeg.h"

class TFFmpeg;
class TCustomFFmpegVCL;

// The nice value of a job thread of that priority. A thread can lower its
// own priority freely; raising it back needs privileges, so a thread started
// by a lower-priority thread may stay at that thread's value.
int NiceValueOf(TConvertPriority priority);

// Counts the threads working on one job, so that others can wait for them.
class TJobThreadTracker {
public:
  void Begin();
  // The calling thread now runs the job.
  void SetRunner();
  void End();
  // Returns once no thread works on the job; at once on the job's own thread,
  // which cannot wait for itself.
  void WaitUntilEnded();
  bool Ended() const;

private:
  mutable std::mutex lock_;
  std::condition_variable ended_;
  int running_ = 0;
  std::thread::id runner_;
};

// A thread made for one job, waiting until Resume; it ends, and frees what it
// holds, when its body has run. Destroying it without Resume ends the thread
// without running the body.
class TJobThread {
public:
  virtual ~TJobThread();
  TJobThread(const TJobThread&) = delete;
  TJobThread& operator=(const TJobThread&) = delete;

  void Resume();
  // The kernel's id of the thread.
  int32_t ThreadId() const { return threadId_; }

protected:
  TJobThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority, void (TFFmpeg::*body)());

private:
  struct TStartLatch;
  std::shared_ptr<TStartLatch> latch_;
  int32_t threadId_ = 0;
  bool resumed_ = false;
};

// Runs RunSession of its job.
class TFFmpegThread : public TJobThread {
public:
  TFFmpegThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority);
};

// Runs FinishJob of its job: reports a job stopped before it started from a
// thread of its own.
class TDoTerminateThread : public TJobThread {
public:
  TDoTerminateThread(std::shared_ptr<TFFmpeg> job, TConvertPriority priority);
};

class TFFmpeg : public TCustomFFmpeg, public std::enable_shared_from_this<TFFmpeg> {
public:
  // Gives both records their defaults and creates the probe. Create jobs with
  // std::make_shared: the threads keep them alive through shared references.
  TFFmpeg();
  ~TFFmpeg() override;

  std::atomic<int> JobIndex{-1};        // position in the job list; -1 until added
  std::atomic<int32_t> JobThreadId{0};  // thread running the job; 0 when none
  TInputOptions JobInputOptions;
  TOutputOptions JobOutputOptions;
  // Describes the job's input (attached to the session's input context) until
  // the job has run; after the run it describes nothing.
  std::unique_ptr<TAVProbe> JobProbeInstance;

  // Runs the job once. Threaded: returns the new thread, waiting for Resume.
  // Not threaded: runs the whole job on the calling thread and returns null.
  // Null as well when the job ran or runs already, or when a start check
  // failed (the failure is then reported like a caught exception).
  std::unique_ptr<TFFmpegThread> StartJob(bool threaded, TConvertPriority priority);
  // The body of a job: the transcode, then the report.
  void RunSession();
  // Ends a job and reports it through TerminateHandler.
  void FinishJob();
  // A running job is asked to end; a job that never started is reported as
  // ended from a TDoTerminateThread.
  void StopJob();
  // Asks a running job to end and makes sure a job that has not started never
  // runs; reports nothing.
  void RequestStop();
  // Holds a job running on a thread of its own at its next loop iteration;
  // a job that runs on the caller's thread cannot be paused.
  void PauseJob();
  void ResumeJob();
  bool PauseRequested() const { return pauseGate_.Closed(); }
  // True once a paused job's thread waits at the pause; false when the job is
  // not paused or did not reach the pause within timeout.
  bool WaitUntilPaused(std::chrono::milliseconds timeout) { return pauseGate_.WaitUntilHeld(timeout); }
  // Returns once no thread works on the job (at once on the job's own thread).
  void WaitForThread() { threads_->WaitUntilEnded(); }
  bool ThreadEnded() const { return threads_->Ended(); }

private:
  friend class TCustomFFmpegVCL;
  friend class TJobThread;

  // Reports a failed start like a caught exception, on the calling thread.
  void ReportStartFailure(const std::string& message);
  // Ends a job that has not started with that failure; nothing when it has.
  void FailBeforeStart(const std::string& message);
  // Marks the job as started; false when it started, ran or was stopped.
  bool TryBegin(bool threaded);

  std::mutex stateLock_;  // guards the start against a concurrent stop
  bool threaded_ = false;
  TPauseGate pauseGate_;
  std::shared_ptr<TJobThreadTracker> threads_ = std::make_shared<TJobThreadTracker>();

  // Bookkeeping of the owning component: the job left the component's list
  // (its events are no longer delivered), and, guarded by the component's
  // EventLock, its termination was counted in the batch.
  std::atomic<bool> orphaned_{false};
  bool reported_ = false;
};

// The component's ordered list of jobs. Not locked: the component guards it
// with its EventLock.
class TFFmpegList {
public:
  int Count() const { return static_cast<int>(jobs_.size()); }
  // Null when index is outside the list.
  TFFmpeg* Get(int index) const;
  std::shared_ptr<TFFmpeg> Share(int index) const;
  // Appends the job, sets its JobIndex and returns it.
  int Add(std::shared_ptr<TFFmpeg> job);
  // Removes the job at index and renumbers the later ones; returns it (null
  // when index is outside the list). The job is freed with its last reference.
  std::shared_ptr<TFFmpeg> Extract(int index);
  std::vector<std::shared_ptr<TFFmpeg>> ExtractAll();
  void Delete(int index) { Extract(index); }
  void Clear() { ExtractAll(); }
  // The first job in list order run by that thread, or null.
  TFFmpeg* FindByThreadId(int32_t threadId) const;

private:
  std::vector<std::shared_ptr<TFFmpeg>> jobs_;
};
