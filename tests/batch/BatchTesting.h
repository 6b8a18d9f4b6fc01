#pragma once
// A view and system actions that record what the batch asks of them, in one
// ordered list of calls, so that tests can check both what and in which
// order.
#include <string>
#include <vector>

#include "app/Batch.h"

namespace batchtest {

class RecordingView : public TBatchView {
public:
  void AppendLog(const std::string& line) override { Log.push_back(line); }
  void ShowMessage(TBatchMessage kind, const std::string& caption, const std::string& text) override {
    Messages.push_back({kind, caption, text});
    Calls.push_back("message " + text);
  }
  void LoadPreview(TAVProbe&) override { Previews += 1; }
  void StopPreview() override { Calls.push_back("stop preview"); }
  void RowSkipped(int row, const std::string& message) override {
    Skipped.push_back({row, message});
    Calls.push_back("skipped row " + std::to_string(row));
  }
  void JobStarted(int job, int row) override {
    Calls.push_back("started job " + std::to_string(job) + " row " + std::to_string(row));
  }
  void ShowProgress(const TProgressTexts& progress) override { Progress.push_back(progress); }
  void JobEnded(const TJobEnd& end) override {
    Ends.push_back(end);
    Calls.push_back("ended job " + std::to_string(end.Job) + " row " + std::to_string(end.Row) +
                    (end.Finished    ? " finished"
                     : end.Exception ? " failed"
                                     : " stopped"));
  }
  void BatchEnded(const TBatchSummary& summary) override {
    Summary = summary;
    BatchEnds += 1;
    Calls.push_back("batch ended");
  }

  struct Message {
    TBatchMessage kind;
    std::string caption, text;
  };
  struct Skip {
    int row;
    std::string message;
  };
  std::vector<std::string> Calls;
  std::vector<std::string> Log;
  std::vector<Message> Messages;
  std::vector<Skip> Skipped;
  std::vector<TProgressTexts> Progress;
  std::vector<TJobEnd> Ends;
  TBatchSummary Summary;
  int BatchEnds = 0;
  int Previews = 0;
};

// Records into the view's list of calls, so that the order of actions and
// view updates shows.
class RecordingActions : public TSystemActions {
public:
  explicit RecordingActions(RecordingView& view) : view_(view) {}
  void OpenFolder(const std::string& folder) override { view_.Calls.push_back("open folder " + folder); }
  void PowerOff() override { view_.Calls.push_back("power off"); }

private:
  RecordingView& view_;
};

}  // namespace batchtest
