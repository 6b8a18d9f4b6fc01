#pragma once
// What tovrin-convert shows of a batch: a line per file when it starts and
// when it ends, a live progress line on a terminal, and a summary; and the
// count that decides the exit status.
//
// Threads: the main thread only (the batch calls it from Drain).
#include <chrono>
#include <map>
#include <string>

#include "app/Batch.h"

// The text with CR LF pairs turned into plain line feeds.
std::string WithLineFeeds(std::string text);
// "failed SOURCE: MESSAGE", without naming the file twice.
std::string FailureText(const std::string& source, const std::string& message);

class TCliView : public TBatchView {
public:
  // fileCount: the files named on the command line; live: draw the progress
  // line (standard error is a terminal).
  TCliView(const TFileList& list, int fileCount, bool quiet, bool live);

  // A file Add did not turn into a row; place: its position on the command
  // line, from 0.
  void AddFailed(int place, const TAddResult& result);
  // The batch runs from now on.
  void BatchStarted();
  void Note(const std::string& text);
  // Redraws the progress line (on a terminal only).
  void DrawProgress();
  void PrintSummary(bool interrupted);

  bool Live() const { return live_; }
  bool Ended() const { return ended_; }
  // Every file named converted to its end.
  bool AllConverted() const;

  void ShowMessage(TBatchMessage kind, const std::string& caption, const std::string& text) override;
  void RowSkipped(int row, const std::string& message) override;
  void JobStarted(int job, int row) override;
  void ShowProgress(const TProgressTexts& progress) override;
  void JobEnded(const TJobEnd& end) override;
  void BatchEnded(const TBatchSummary& summary) override;

private:
  struct TJobProgress {
    int64_t CurrentMs = 0;
    int64_t TotalMs = 0;
    bool Done = false;
  };

  // "[2/5] " for the row's file: its place on the command line.
  std::string Position(int row) const;
  std::string Source(int row) const;
  void PrintLine(FILE* out, const std::string& line);
  void ClearProgressLine();
  int64_t ExpectedMs(int row) const;

  const TFileList& list_;
  int fileCount_;
  bool quiet_;
  bool live_;
  bool ended_ = false;
  bool progressShown_ = false;
  int converted_ = 0;
  int failed_ = 0;
  int stopped_ = 0;
  int duplicates_ = 0;
  std::map<int, TJobProgress> jobs_;  // by row
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};
