#pragma once
// The converter component: an ordered list of conversion jobs, each a session
// with one input and one output, run on worker threads (or one at a time on
// the application's main thread), with events for log lines, progress,
// picture hooks and the end of each job and of the batch.
//
// Use: LoadAVLib once; then per batch ClearJobs, per file AddInputFile and
// AddOutputFile, StartConvert; the events report the jobs; StopConvert,
// PauseConvert and ResumeConvert act on the running batch. Operations never
// raise: they return false or -1 and leave the reason in LastErrMsg.
//
// Threads and locks:
// - Jobs are added, started, stopped, paused and resumed from the
//   application's threads (normally its main thread).
// - Events fire on the thread that runs the job: a worker thread in thread
//   mode above 0, the main-thread dispatcher's thread in thread mode 0 or
//   less. Handlers that touch the user interface hand their work over to it.
// - OnLog, OnProgress and OnTerminate are serialised by EventLock: at most one
//   runs at a time per component. The lock is re-entrant, so a handler may
//   call StopConvert, PauseConvert, ResumeConvert, RemoveJob or ClearJobs.
//   OnBeforeHook and OnCustomHook are not serialised.
// - Assign the event handlers while no job runs; ClearEventHandlers may be
//   called at any time (not from a hook handler).
// - A job's OnTerminate is the last use its thread makes of the job, and the
//   batch report (index -1) the last use the component makes of the batch's
//   jobs. Jobs that RemoveJob or ClearJobs take out, or that still run when
//   the component is destroyed, are stopped and report nothing more. ClearJobs
//   and RemoveJob wait for the threads of the jobs they take out, except when
//   called from an OnLog, OnProgress or OnTerminate handler: those threads
//   then end on their own and free their jobs.
// - Library log lines are offered to every component and delivered under its
//   EventLock, with no other lock held (engine/component/EngineState.h); a
//   component's destruction waits for deliveries to it under way.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "engine/component/ConvertPriority.h"
#include "engine/component/EventLock.h"
#include "engine/component/FFmpegJob.h"
#include "engine/component/JobOptions.h"
#include "engine/probe/AVProbe.h"
#include "engine/probe/TBitmap.h"

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };

using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int AIndex, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                            bool& AUpdate, bool& AStopHook)>;
using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
using TProgressEvent =
    std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;

// Runs work on the application's main thread: thread mode 0 or less starts
// each job through it, 100 ms after the call. Supplied by the application
// (the windows post a single-shot timer; tests and the command line run a
// small loop of their own). RunAfter may be called from any thread.
class TMainThreadDispatcher {
public:
  virtual ~TMainThreadDispatcher() = default;
  virtual void RunAfter(int delayMs, std::function<void()> task) = 0;
};

class TCustomFFmpegVCL {
public:
  TCustomFFmpegVCL();
  // Stops every job and waits for their threads; the handlers of jobs still
  // running are not called any more.
  virtual ~TCustomFFmpegVCL();
  TCustomFFmpegVCL(const TCustomFFmpegVCL&) = delete;
  TCustomFFmpegVCL& operator=(const TCustomFFmpegVCL&) = delete;

  // Loads the media libraries once per process (from folder, or through the
  // system's library search when it is empty) and installs the converter's
  // library log callback.
  bool LoadAVLib(const std::string& folder, bool versionedNames);

  // Frees every job (stopping it first), clears LastErrMsg, thread mode 0.
  void ClearJobs();
  // Creates a job and opens its input; the job's index, or -1. With options,
  // an empty FileName in them receives fileName.
  int AddInputFile(const std::string& fileName, TInputOptions* options = nullptr);
  // Creates the output of job index; with options, an empty FileName in them
  // receives fileName.
  bool AddOutputFile(int index, const std::string& fileName, TOutputOptions* options = nullptr);
  // Frees the job (stopping it first); later jobs move up one place.
  void RemoveJob(int index);
  int JobCount();
  // The probe describing the job's input, or null for an index outside the list.
  TAVProbe* JobProbe(int index);
  // The job itself, or null.
  std::shared_ptr<TFFmpeg> Job(int index);
  // A copy of the job's output record; false for an index outside the list.
  bool GetOutputOptions(int index, TOutputOptions& options);

  // Runs the batch: thread mode n > 0 runs up to n jobs at once on worker
  // threads, 0 or less one at a time through the main-thread dispatcher.
  void StartConvert(int threadMode);
  void StopConvert();
  // Holds every job running on a worker thread at its next loop iteration.
  void PauseConvert();
  void ResumeConvert();

  // Not owned; must outlive the component's use of thread mode 0 or less.
  void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher);
  // Unassigns all five events, waiting for handlers in progress.
  void ClearEventHandlers();

  TAVProbe& ConverterProbe() { return *converterProbe_; }
  std::string LastErrMsg() const;
  int ThreadMode() const { return threadMode_; }

  // Hands library log lines of thread threadId to the job that thread runs
  // (or to no job); called by the library log callback.
  void DeliverLibraryLines(int32_t threadId, int level, const std::vector<std::string>& lines);

protected:
  // Properties, published by DIZAVUrevadado.
  TLogLevel LogLevel() const { return static_cast<TLogLevel>(logLevel_.load()); }
  void SetLogLevel(TLogLevel level);
  int ProgressInterval() const { return progressInterval_; }
  // Milliseconds between progress reports; 100 at least.
  void SetProgressInterval(int milliseconds);
  TConvertPriority ThreadPriority() const { return static_cast<TConvertPriority>(threadPriority_.load()); }
  void SetThreadPriority(TConvertPriority priority) { threadPriority_ = priority; }
  // Codec threads of each new job: 0 lets the library use the machine's cores.
  int CodecThreads() const { return codecThreads_; }
  void SetCodecThreads(int count) { codecThreads_ = count < 0 ? 0 : count; }

  std::string About;
  TBeforeHookEvent OnBeforeHook;
  TCustomHookEvent OnCustomHook;
  TLogEvent OnLog;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;

  // Event delivery; the session's handlers of every job lead here.
  virtual void DoBeforeHook(TFFmpeg* job, int64_t pts, THookAction& action);
  virtual void DoCustomHook(TFFmpeg* job, TBitmap& bitmap, int frameNumber, int64_t pts, bool& update,
                            bool& stopHook);
  // Level on the session's scale: -1 a caught exception, 0 errors, 1
  // information, 2 debug, 3 and above everything.
  virtual void DoLog(TFFmpeg* job, int level, const std::string& text);
  virtual void DoProgress(TFFmpeg* job, int frameNumber, int fps, int currentDuration, float quality,
                          float bitRate, int64_t currentSize);
  // Null: the batch report.
  virtual void DoTerminate(TFFmpeg* job);

private:
  // What a dispatcher task of thread mode 0 needs: the component, or null
  // once it is being destroyed.
  struct TTickState {
    std::mutex Lock;  // held while a job started by the dispatcher runs
    TCustomFFmpegVCL* Owner = nullptr;
  };

  void SetLastErrMsg(const std::string& message);
  void StartNextJob();
  void RunJob(const std::shared_ptr<TFFmpeg>& job);
  void BatchReport();
  // Takes jobs out of the component: no more events from them, stop asked.
  // Waits for their threads unless called with EventLock held; then they stay
  // in retired_ until a later call can wait.
  void RetireJobs(std::vector<std::shared_ptr<TFFmpeg>> jobs);
  std::shared_ptr<TFFmpeg> NewJob();

  TEventLock EventLock;
  std::shared_mutex hookLock_;  // held shared while a hook handler runs
  TFFmpegList jobs_;
  std::vector<std::shared_ptr<TFFmpeg>> retired_;  // left the list while their threads ran
  std::unique_ptr<TAVProbe> converterProbe_;
  std::shared_ptr<TTickState> tickState_;
  TMainThreadDispatcher* dispatcher_ = nullptr;

  mutable std::mutex lastErrLock_;
  std::string lastErrMsg_;
  std::atomic<int> threadMode_{0};
  std::atomic<int> logLevel_{llInfo};
  std::atomic<int> progressInterval_{500};
  std::atomic<int> threadPriority_{tpNormal};
  std::atomic<int> codecThreads_{0};

  // Batch bookkeeping, guarded by EventLock.
  int NextJob = -1;
  int FinishedJobs = 0;
  int PendingJobs = 0;
  bool batchActive_ = false;
};

// The component the application places on its windows: publishes the
// properties and events.
class DIZAVUrevadado : public TCustomFFmpegVCL {
public:
  using TCustomFFmpegVCL::About;
  using TCustomFFmpegVCL::CodecThreads;
  using TCustomFFmpegVCL::LogLevel;
  using TCustomFFmpegVCL::OnBeforeHook;
  using TCustomFFmpegVCL::OnCustomHook;
  using TCustomFFmpegVCL::OnLog;
  using TCustomFFmpegVCL::OnProgress;
  using TCustomFFmpegVCL::OnTerminate;
  using TCustomFFmpegVCL::ProgressInterval;
  using TCustomFFmpegVCL::SetCodecThreads;
  using TCustomFFmpegVCL::SetLogLevel;
  using TCustomFFmpegVCL::SetProgressInterval;
  using TCustomFFmpegVCL::SetThreadPriority;
  using TCustomFFmpegVCL::ThreadPriority;

  std::string Version() const { return "2.2a"; }
};
