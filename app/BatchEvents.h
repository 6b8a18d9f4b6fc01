#pragma once
// The converter's events of a batch, as plain records, and the queue that
// carries them from the job threads to the thread the application chooses.
//
// Threads: Push from any thread (the converter's event handlers, on job
// threads); TakeAll on the application's thread. The wake-up callback runs on
// the pushing thread, with no lock of the queue held.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/BatchProgress.h"
#include "engine/component/ZERIConverter.h"

struct TBatchEvent {
  enum TKind {
    bkStarted,    // the converter starts job Job
    bkLog,        // a log line of job Job (-1: of no job)
    bkProgress,   // a progress report of job Job
    bkTerminate,  // job Job ended; Job -1: the whole batch ended
  };
  TKind Kind = bkLog;
  int Job = -1;
  TLogLevel Level = llInfo;  // bkLog
  std::string Text;          // bkLog: the line; bkTerminate: the message
  TProgressReport Progress;  // bkProgress
  bool Finished = false;     // bkTerminate
  bool Exception = false;    // bkTerminate
};

class TBatchEventQueue {
public:
  // Called after a push finds the queue empty: the application then drains
  // the queue on its own thread. Set it while no batch runs.
  void SetWakeUp(std::function<void()> wakeUp);

  void Push(TBatchEvent event);
  // Every waiting event, oldest first.
  std::vector<TBatchEvent> TakeAll();
  bool Empty() const;

private:
  mutable std::mutex lock_;
  std::vector<TBatchEvent> events_;
  std::function<void()> wakeUp_;
};
