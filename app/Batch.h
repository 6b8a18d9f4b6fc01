#pragma once
// The file list's operations and the batch conversion behind the main window
// and the command line: adding files, turning the checked rows into the
// converter's jobs, and turning the converter's events into updates that a
// view applies on its own thread.
//
// Threads:
// - Every operation of TBatchConverter, and Drain, run on the application's
//   thread (the user-interface thread of the windows, the main thread of the
//   command line).
// - The converter's OnLog, OnProgress and OnTerminate handlers run on job
//   threads; they only push records into the event queue and call the
//   wake-up callback. Drain applies the records in the order the events
//   arrived; every view and system-action call comes from Drain or from an
//   operation, so always on the application's thread.
// - OnCustomHook and OnBeforeHook are left to the application.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/BatchEvents.h"
#include "app/BatchProgress.h"
#include "app/FileList.h"
#include "app/GlobalUnit.h"
#include "app/OutputNaming.h"
#include "engine/component/ZERIConverter.h"

// What a message box of the batch is about, so that a view can tell them
// apart (the command line prints some and leaves others to its own lines).
enum TBatchMessage {
  bmFolderWarning,  // the output folder was replaced by the default folder
  bmNoCheckedRow,   // Start with no checked row
  bmJobError,       // a job ended with an error
  bmStartError,     // Start could not build the batch (a stored value that does not convert)
};

struct TJobEnd {
  int Job = -1;
  int Row = -1;
  bool Finished = false;   // converted to its end
  bool Exception = false;  // ended by an error; Message says which
  std::string Message;
  std::string OutputFile;
  bool Stopped() const { return !Finished && !Exception; }
};

struct TBatchSummary {
  int Jobs = 0;
  int Finished = 0;
  int Failed = 0;
  int Stopped = 0;
  int Skipped = 0;  // checked rows Start could not make a job of
};

// What the batch shows. Every call comes on the application's thread; the
// defaults do nothing.
class TBatchView {
public:
  virtual ~TBatchView() = default;
  // A line for the log pane.
  virtual void AppendLog(const std::string& /*line*/) {}
  // A message box with its caption.
  virtual void ShowMessage(TBatchMessage /*kind*/, const std::string& /*caption*/,
                           const std::string& /*text*/) {}
  // Start has opened the row's file in the converter's probe: the preview
  // shows its first picture (and may close the probe when the file is a
  // still picture).
  virtual void LoadPreview(TAVProbe& /*probe*/) {}
  // The preview stops: before a batch runs, and when the list empties.
  virtual void StopPreview() {}
  // Start made no job of this checked row; the reason is in the log too.
  virtual void RowSkipped(int /*row*/, const std::string& /*message*/) {}
  virtual void JobStarted(int /*job*/, int /*row*/) {}
  // A progress report; the row's "Progress" text is already in the list.
  virtual void ShowProgress(const TProgressTexts& /*progress*/) {}
  // A job's end; a finished row's "Progress" text ("100%") is in the list.
  virtual void JobEnded(const TJobEnd& /*end*/) {}
  // The batch is over and its jobs are gone: the view re-enables its
  // controls and closes its progress display.
  virtual void BatchEnded(const TBatchSummary& /*summary*/) {}
  // A log line of the converter (job -1: of no job).
  virtual void ConverterLog(int /*job*/, TLogLevel /*level*/, const std::string& /*text*/) {}
};

// What the end of a batch may do to the machine. The windows open the folder
// in the file manager and power off through the system; tests observe the
// calls; the command line has none.
class TSystemActions {
public:
  virtual ~TSystemActions() = default;
  virtual void OpenFolder(const std::string& folder) = 0;
  virtual void PowerOff() = 0;
};

// Applies the events of one batch to the list and the view: the row of each
// job, its progress texts, its end, and the end of the batch with its
// actions. Used by TBatchConverter; on its own it is the unit the tests feed.
class TBatchTracker {
public:
  // jobRows[k] is the list row of job k; outputs[k] its output file;
  // outputFolder the folder the batch writes to.
  TBatchTracker(TFileList& list, TBatchView& view, TSystemActions* actions, std::vector<int> jobRows,
                std::vector<std::string> outputs, std::string outputFolder, std::string productName);

  // The end-of-batch choices of the progress dialog ("Open the output folder
  // after conversion", "Shut down computer after conversion").
  void SetAfterConversion(bool openFolder, bool powerOff);

  // Applies one event; true when it was the end of the batch.
  bool Apply(const TBatchEvent& event);

  const std::vector<int>& JobRows() const { return jobRows_; }
  const TBatchSummary& Summary() const { return summary_; }
  // The row of job index, or -1 for an index outside the batch.
  int RowOfJob(int job) const;

private:
  void ApplyProgress(const TProgressReport& report);
  void ApplyTerminate(const TBatchEvent& event);
  void EndBatch();

  TFileList& list_;
  TBatchView& view_;
  TSystemActions* actions_;
  std::vector<int> jobRows_;
  std::vector<std::string> outputs_;
  std::string outputFolder_;
  std::string productName_;
  bool openFolder_ = false;
  bool powerOff_ = false;
  // The last job converted to its end: the end of the batch runs the
  // chosen actions.
  bool lastJobFinished_ = false;
  TBatchSummary summary_;
};

// One result of Add per given name.
struct TAddResult {
  enum TStatus {
    arAdded,
    arDuplicate,     // a row with this caption exists: not added again
    arFolder,        // a folder, not a file
    arUnreadable,    // the file cannot be read
    arOpenError,     // the converter cannot open it
    arLibraryError,  // the media libraries did not load
    arBusy,          // a batch is running
  };
  std::string FileName;
  TStatus Status = arAdded;
  std::string Message;
  int Row = -1;
};

class TBatchConverter {
public:
  // Installs its OnLog, OnProgress and OnTerminate on the converter; all
  // references must outlive this object. actions may be null.
  TBatchConverter(DIZAVUrevadado& converter, TFileList& list, const TGlobalObject& global, TBatchView& view,
                  TSystemActions* actions = nullptr);
  // Stops a running batch and takes the handlers off the converter.
  ~TBatchConverter();
  TBatchConverter(const TBatchConverter&) = delete;
  TBatchConverter& operator=(const TBatchConverter&) = delete;

  // Called on a job thread whenever events wait: the application then calls
  // Drain on its own thread. Set it while no batch runs.
  void SetWakeUp(std::function<void()> wakeUp) { queue_.SetWakeUp(std::move(wakeUp)); }

  // The chosen output format, 0 to 17.
  void SetFormatIndex(int formatIndex) { formatIndex_ = formatIndex; }
  int FormatIndex() const { return formatIndex_; }
  // The folder the media libraries load from: by default the "LibAV"
  // folder beside the program when there is one; empty: the system's.
  void SetLibraryFolder(const std::string& folder) { libraryFolder_ = folder; }
  // Whether each job hands every converted picture to OnCustomHook (the
  // windows' progress preview). On by default.
  void SetPictureHook(bool on) { pictureHook_ = on; }
  // Up to n jobs at once; 1 (the windows' choice) runs them one after
  // another.
  void SetThreadMode(int n) { threadMode_ = n < 1 ? 1 : n; }
  TOutputNaming& Naming() { return naming_; }
  void SetAfterConversion(bool openFolder, bool powerOff);

  // Add: loads the media libraries, then adds a checked row for each name
  // that is a readable file, not yet in the list, and opens in the
  // converter. The log receives each file's description or open error.
  std::vector<TAddResult> AddFiles(const std::vector<std::string>& names);
  // Remove: the selected row (the jobs are not touched); the preview stops
  // when the list empties. Refused while a batch runs.
  bool Remove();
  // Clear: every row; the preview stops. Refused while a batch runs.
  bool Clear();

  // Start: makes a job of each checked row and starts the batch. A row whose
  // file no longer opens, or whose output cannot be created, is reported in
  // the log and skipped; the other rows still convert. False when no batch
  // started: none checked, a batch running, a stored setting that does not
  // convert, or not one row that could be made a job.
  bool Start();
  // Stop, Pause, Resume of the running batch.
  void Stop();
  void Pause();
  void Resume();

  // Applies the events that have arrived, in order. On the application's
  // thread, after the wake-up (a call with nothing waiting does nothing).
  void Drain();

  bool Running() const { return running_; }
  // The rows of the current (or last) batch's jobs; empty before the first.
  const std::vector<int>& JobRows() const { return jobRows_; }
  // The output file of each job of the current (or last) batch.
  const std::vector<std::string>& JobOutputs() const { return jobOutputs_; }

private:
  void InstallHandlers();
  void AppendLog(const std::string& line) { view_.AppendLog(line); }
  // Builds the job of one checked row; false with the reason when it cannot
  // (inputFailed: because the source did not open).
  bool BuildJob(int row, const std::string& suffix, std::string& error, bool& inputFailed);
  void AbandonBatch();

  DIZAVUrevadado& converter_;
  TFileList& list_;
  const TGlobalObject& global_;
  TBatchView& view_;
  TSystemActions* actions_;
  TOutputNaming naming_;
  TBatchEventQueue queue_;
  std::unique_ptr<TBatchTracker> tracker_;

  int formatIndex_ = 0;
  std::string libraryFolder_;
  bool pictureHook_ = true;
  int threadMode_ = 1;
  bool openFolder_ = false;
  bool powerOff_ = false;
  bool running_ = false;
  std::vector<int> jobRows_;
  std::vector<std::string> jobOutputs_;
  int skipped_ = 0;

  // Which jobs the converter has started, followed in its handlers (guarded
  // by its event lock, which serialises them): it starts jobs in list order,
  // threadMode_ at first and the next one after each end, until a stop.
  int jobsStarted_ = 0;
  int jobCount_ = 0;
  std::atomic<bool> stopRequested_{false};
};
