#include "cli/CliView.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string ClockText(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

}  // namespace

std::string FailureText(const std::string& source, const std::string& message) {
  // Most messages begin with the file's name already.
  if (message.rfind(source + ":", 0) == 0) return "failed " + message;
  return "failed " + source + ": " + message;
}

std::string WithLineFeeds(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
  return text;
}

TCliView::TCliView(const TFileList& list, int fileCount, bool quiet, bool live)
    : list_(list), fileCount_(fileCount), quiet_(quiet), live_(live) {}

std::string TCliView::Position(int row) const {
  const int place = row >= 0 && row < list_.Count() ? list_.Row(row).Record.DialogIndex + 1 : 0;
  return "[" + std::to_string(place) + "/" + std::to_string(fileCount_) + "] ";
}

std::string TCliView::Source(int row) const {
  return row >= 0 && row < list_.Count() ? list_.Row(row).Caption() : std::string();
}

int64_t TCliView::ExpectedMs(int row) const {
  const TlvFilesRecord& record = list_.Row(row).Record;
  if (record.TrimLength > 0) return record.TrimLength;
  return std::max<int64_t>(int64_t{record.SourceDuration} * 1000 - record.TrimStart, 0);
}

void TCliView::ClearProgressLine() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  progressShown_ = false;
}

void TCliView::PrintLine(FILE* out, const std::string& line) {
  ClearProgressLine();
  std::fputs(WithLineFeeds(line).c_str(), out);
  std::fputc('\n', out);
  std::fflush(out);
}

void TCliView::AddFailed(int place, const TAddResult& result) {
  const std::string position = "[" + std::to_string(place + 1) + "/" + std::to_string(fileCount_) + "] ";
  if (result.Status == TAddResult::arDuplicate) {
    duplicates_ += 1;
    if (!quiet_) PrintLine(stdout, position + "skipped " + result.FileName + ": named twice");
    return;
  }
  failed_ += 1;
  PrintLine(stderr, position + FailureText(result.FileName, result.Message));
}

void TCliView::BatchStarted() {
  started_ = std::chrono::steady_clock::now();
}

void TCliView::Note(const std::string& text) {
  PrintLine(stderr, text);
}

void TCliView::ShowMessage(TBatchMessage kind, const std::string&, const std::string& text) {
  // A job's error is printed with its file when the job ends.
  if (kind == bmJobError) return;
  PrintLine(stderr, (kind == bmFolderWarning ? "warning: " : "error: ") + text);
}

void TCliView::RowSkipped(int row, const std::string& message) {
  failed_ += 1;
  PrintLine(stderr, Position(row) + FailureText(Source(row), message));
}

void TCliView::JobStarted(int, int row) {
  jobs_[row].TotalMs = ExpectedMs(row);
  if (!quiet_) PrintLine(stdout, Position(row) + "converting " + Source(row));
}

void TCliView::ShowProgress(const TProgressTexts& progress) {
  TJobProgress& job = jobs_[progress.Row];
  job.CurrentMs = progress.Report.CurrentDuration;
  if (progress.Report.TotalOutputDuration > 0) job.TotalMs = progress.Report.TotalOutputDuration;
}

void TCliView::JobEnded(const TJobEnd& end) {
  TJobProgress& job = jobs_[end.Row];
  job.Done = true;
  if (end.Finished) {
    converted_ += 1;
    job.CurrentMs = job.TotalMs;
    if (!quiet_) PrintLine(stdout, Position(end.Row) + "done " + Source(end.Row) + " -> " + end.OutputFile);
  } else if (end.Exception) {
    failed_ += 1;
    PrintLine(stderr, Position(end.Row) + FailureText(Source(end.Row), end.Message));
  } else {
    stopped_ += 1;
    if (!quiet_) PrintLine(stdout, Position(end.Row) + "stopped " + Source(end.Row));
  }
}

void TCliView::BatchEnded(const TBatchSummary&) {
  ended_ = true;
  ClearProgressLine();
}

void TCliView::DrawProgress() {
  if (!live_ || ended_) return;
  // A few redraws a second are enough to read; events come much faster.
  const auto now = std::chrono::steady_clock::now();
  if (progressShown_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  int64_t total = 0, done = 0;
  int finished = 0;
  for (int row = 0; row < list_.Count(); ++row) {
    if (!list_.Row(row).Checked) continue;
    const auto found = jobs_.find(row);
    if (found == jobs_.end()) {
      total += ExpectedMs(row);
      continue;
    }
    const TJobProgress& job = found->second;
    total += job.TotalMs;
    done += std::min(job.CurrentMs, job.TotalMs > 0 ? job.TotalMs : job.CurrentMs);
    if (job.Done) finished += 1;
  }
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  // Media time converted per second of wall time.
  const double speed = elapsed > 0.2 ? static_cast<double>(done) / 1000.0 / elapsed : 0;
  std::string line = "\r\033[K";
  if (total > 0) line += std::to_string(std::min<int64_t>(done * 100 / total, 100)) + "% ";
  line += std::to_string(finished) + "/" + std::to_string(list_.CheckedCount()) + " files";
  if (speed > 0) {
    char speedText[32];
    std::snprintf(speedText, sizeof speedText, "  %.1fx", speed);
    line += speedText;
  }
  line += "  elapsed " + ClockText(static_cast<int64_t>(elapsed));
  if (speed > 0 && total > done)
    line += "  left " + ClockText(static_cast<int64_t>((total - done) / 1000.0 / speed));
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  progressShown_ = true;
}

void TCliView::PrintSummary(bool interrupted) {
  ClearProgressLine();
  if (quiet_) return;
  std::printf("%d file%s: %d converted, %d failed, %d stopped%s\n", fileCount_, fileCount_ == 1 ? "" : "s",
              converted_, failed_, stopped_, interrupted ? " (interrupted)" : "");
  std::fflush(stdout);
}

bool TCliView::AllConverted() const {
  return failed_ == 0 && stopped_ == 0 && converted_ > 0 && converted_ + duplicates_ == fileCount_;
}
