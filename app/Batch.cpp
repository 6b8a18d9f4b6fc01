#include "app/Batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/ConversionOptions.h"
#include "app/FormatProfiles.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "app/SourceInfo.h"
#include "engine/binding/MyUtils.h"
#include "engine/binding/OpenError.h"
#include "engine/binding/ProgramFolder.h"

namespace {

std::string WithLineFeeds(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
  return text;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Why a name given to Add is not a file that can be read (with the message);
// arAdded when it is one.
TAddResult::TStatus CheckReadableFile(const std::string& name, std::string& message) {
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    const int error = errno;
    message = error == ENOENT ? FormatOpenError(name, AVERROR(ENOENT)) : name + ": " + std::strerror(error);
    return TAddResult::arUnreadable;
  }
  if (S_ISDIR(info.st_mode)) {
    message = name + ": is a folder";
    return TAddResult::arFolder;
  }
  if (access(name.c_str(), R_OK) != 0) {
    message = name + ": " + std::strerror(errno);
    return TAddResult::arUnreadable;
  }
  return TAddResult::arAdded;
}

// Width of a source pixel over its height; 1 when unknown.
double SampleAspectOf(TAVProbe& probe) {
  if (probe.FirstVideoStream() < 0) return 1.0;
  TVideoStreamInfo video;
  probe.GetVideoStreamInfo(probe.FirstVideoStream(), video);
  if (video.DisplayAspect <= 0 || video.Width <= 0 || video.Height <= 0) return 1.0;
  return video.DisplayAspect * video.Height / video.Width;
}

}  // namespace

// ---------------------------------------------------------------------------
// TBatchTracker

TBatchTracker::TBatchTracker(TFileList& list, TBatchView& view, TSystemActions* actions,
                             std::vector<int> jobRows, std::vector<std::string> outputs,
                             std::string outputFolder, std::string productName)
    : list_(list),
      view_(view),
      actions_(actions),
      jobRows_(std::move(jobRows)),
      outputs_(std::move(outputs)),
      outputFolder_(std::move(outputFolder)),
      productName_(std::move(productName)) {
  outputs_.resize(jobRows_.size());
  summary_.Jobs = static_cast<int>(jobRows_.size());
}

void TBatchTracker::SetAfterConversion(bool openFolder, bool powerOff) {
  openFolder_ = openFolder;
  powerOff_ = powerOff;
}

int TBatchTracker::RowOfJob(int job) const {
  if (job < 0 || job >= static_cast<int>(jobRows_.size())) return -1;
  return jobRows_[static_cast<size_t>(job)];
}

bool TBatchTracker::Apply(const TBatchEvent& event) {
  switch (event.Kind) {
    case TBatchEvent::bkStarted:
      if (const int row = RowOfJob(event.Job); row >= 0) view_.JobStarted(event.Job, row);
      return false;
    case TBatchEvent::bkProgress:
      ApplyProgress(event.Progress);
      return false;
    case TBatchEvent::bkTerminate:
      if (event.Job < 0) {
        EndBatch();
        return true;
      }
      ApplyTerminate(event);
      return false;
    case TBatchEvent::bkLog:
      view_.ConverterLog(event.Job, event.Level, event.Text);
      return false;
  }
  return false;
}

void TBatchTracker::ApplyProgress(const TProgressReport& report) {
  const int row = RowOfJob(report.Job);
  if (row < 0) return;
  const TProgressTexts texts = MakeProgressTexts(report, row, static_cast<int>(jobRows_.size()),
                                                 outputs_[static_cast<size_t>(report.Job)]);
  if (row < list_.Count()) list_.Row(row).Progress = texts.RowProgress;
  view_.ShowProgress(texts);
}

void TBatchTracker::ApplyTerminate(const TBatchEvent& event) {
  const int row = RowOfJob(event.Job);
  if (row < 0) return;
  TJobEnd end;
  end.Job = event.Job;
  end.Row = row;
  end.Finished = event.Finished;
  end.Exception = event.Exception;
  end.Message = event.Text;
  end.OutputFile = outputs_[static_cast<size_t>(event.Job)];
  if (end.Finished) {
    summary_.Finished += 1;
    if (row < list_.Count()) list_.Row(row).Progress = "100%";
    if (event.Job + 1 == static_cast<int>(jobRows_.size())) lastJobFinished_ = true;
  } else if (end.Exception) {
    summary_.Failed += 1;
  } else {
    summary_.Stopped += 1;
  }
  view_.JobEnded(end);
  if (end.Exception) view_.ShowMessage(bmJobError, productName_, end.Message);
}

void TBatchTracker::EndBatch() {
  // The actions wait for the end of the whole batch, not just the end of
  // the last job: with several jobs at once the last one may finish while
  // others still write, and powering off then would cut their files short.
  if (!lastJobFinished_ || !actions_) return;
  if (openFolder_ && outputFolder_.size() > 2) actions_->OpenFolder(outputFolder_);
  if (powerOff_) actions_->PowerOff();
}

// ---------------------------------------------------------------------------
// TBatchConverter

TBatchConverter::TBatchConverter(DIZAVUrevadado& converter, TFileList& list, const TGlobalObject& global,
                                 TBatchView& view, TSystemActions* actions)
    : converter_(converter),
      list_(list),
      global_(global),
      view_(view),
      actions_(actions),
      naming_(global),
      libraryFolder_(BundledLibraryFolder()) {
  naming_.OnFolderWarning = [this](const std::string& text) {
    view_.ShowMessage(bmFolderWarning, "Warning", text);
  };
  InstallHandlers();
}

TBatchConverter::~TBatchConverter() {
  if (running_) {
    stopRequested_ = true;
    converter_.StopConvert();
  }
  converter_.ClearEventHandlers();
}

void TBatchConverter::InstallHandlers() {
  converter_.OnLog = [this](int index, TLogLevel level, const std::string& text) {
    TBatchEvent event;
    event.Kind = TBatchEvent::bkLog;
    event.Job = index;
    event.Level = level;
    event.Text = text;
    queue_.Push(std::move(event));
  };
  converter_.OnProgress = [this](int index, int frameNumber, int fps, int currentDuration, float quality,
                                 float bitRate, int64_t currentSize, int totalOutputDuration) {
    TBatchEvent event;
    event.Kind = TBatchEvent::bkProgress;
    event.Job = index;
    event.Progress = TProgressReport{index,   frameNumber, fps,         currentDuration,
                                     quality, bitRate,     currentSize, totalOutputDuration};
    queue_.Push(std::move(event));
  };
  converter_.OnTerminate = [this](int index, bool finished, bool exception, const std::string& message) {
    TBatchEvent event;
    event.Kind = TBatchEvent::bkTerminate;
    event.Job = index;
    event.Finished = finished;
    event.Exception = exception;
    event.Text = message;
    queue_.Push(std::move(event));
    // The converter starts its next job when this handler returns, unless
    // the batch is being stopped.
    if (index >= 0 && !stopRequested_ && jobsStarted_ < jobCount_) {
      TBatchEvent started;
      started.Kind = TBatchEvent::bkStarted;
      started.Job = jobsStarted_++;
      queue_.Push(std::move(started));
    }
  };
}

void TBatchConverter::SetAfterConversion(bool openFolder, bool powerOff) {
  openFolder_ = openFolder;
  powerOff_ = powerOff;
  if (tracker_) tracker_->SetAfterConversion(openFolder, powerOff);
}

std::vector<TAddResult> TBatchConverter::AddFiles(const std::vector<std::string>& names) {
  std::vector<TAddResult> results;
  auto refuseAll = [&](TAddResult::TStatus status, const std::string& message) {
    for (const std::string& name : names) results.push_back(TAddResult{name, status, message, -1});
    return results;
  };
  if (running_) return refuseAll(TAddResult::arBusy, "A conversion is running");
  if (!converter_.LoadAVLib(libraryFolder_, true)) {
    AppendLog(converter_.LastErrMsg());
    return refuseAll(TAddResult::arLibraryError, converter_.LastErrMsg());
  }
  converter_.ClearJobs();
  const std::string extension =
      ReadFormatKey(TIniFile(global_.FormatIniFile()), formatIndex_, profilekeys::FileExt);

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    TAddResult result{name, TAddResult::arAdded, "", -1};
    result.Status = CheckReadableFile(name, result.Message);
    if (result.Status == TAddResult::arAdded && list_.Find(name) >= 0)
      result.Status = TAddResult::arDuplicate;
    if (result.Status != TAddResult::arAdded) {
      results.push_back(std::move(result));
      continue;
    }

    // The names other rows will take are not offered again, so that the
    // list shows the names Start will give.
    std::set<std::string> taken;
    for (int row = 0; row < list_.Count(); ++row) taken.insert(list_.Row(row).Record.DestFile);
    const std::string destFile = naming_.MakeOutputFileName(name, "." + extension, taken);

    TInputOptions input;
    InitInputOptions(input);
    input.FileName = name;
    const int job = converter_.AddInputFile(name, &input);
    if (job < 0) {
      result.Status = TAddResult::arOpenError;
      result.Message = converter_.LastErrMsg();
      AppendLog("");
      AppendLog("***File open error: " + result.Message);
      AppendLog("");
      results.push_back(std::move(result));
      continue;
    }

    TAVProbe* probe = converter_.JobProbe(job);
    TFormatInfo format;
    probe->GetFormatInfo(format);
    const int seconds = format.Duration > 0 && format.Duration != AV_NOPTS_VALUE
                            ? static_cast<int>(format.Duration / 1000000)
                            : 0;
    AppendLog("");
    AppendLog(WithLineFeeds(probe->GetInfoText()));
    AppendLog(std::to_string(seconds));
    AppendLog(std::to_string(probe->GetFileSize()));

    TlvFilesRecord record;
    record.DialogIndex = static_cast<int>(i);
    record.SourceFile = name;
    record.DestFile = destFile;
    record.SourceDuration = seconds;
    result.Row = list_.Add(record);
    results.push_back(std::move(result));

    converter_.RemoveJob(job);
    converter_.ClearJobs();
    list_.Select(0);
  }
  return results;
}

bool TBatchConverter::Remove() {
  if (running_ || !list_.RemoveSelected()) return false;
  if (list_.Empty()) view_.StopPreview();
  return true;
}

bool TBatchConverter::Clear() {
  if (running_ || list_.Empty()) return false;
  converter_.ClearJobs();
  list_.Clear();
  view_.StopPreview();
  return true;
}

bool TBatchConverter::BuildJob(int row, const std::string& suffix, std::string& error, bool& inputFailed) {
  inputFailed = true;
  const TlvFilesRecord record = list_.Row(row).Record;
  TAVProbe& probe = converter_.ConverterProbe();
  if (!probe.OpenFile(record.SourceFile, "")) {
    error = probe.LastError();
    return false;
  }
  struct TCloseProbe {
    TAVProbe& Probe;
    ~TCloseProbe() { Probe.CloseFile(); }
  } closeProbe{probe};

  // Taken before the preview: a still picture's preview closes the probe.
  TSourceInfo source = SourceInfoFromProbe(probe);
  const double sampleAspect = SampleAspectOf(probe);
  std::string sourceName = probe.GetFileName();
  if (sourceName.empty()) sourceName = record.SourceFile;
  view_.LoadPreview(probe);
  // The decoded picture's size, when the preview left the file open.
  if (probe.Context()) source = SourceInfoFromProbe(probe);

  TInputOptions input;
  InitInputOptions(input);
  input.FileName = record.SourceFile;
  if (record.TrimStart >= 0) input.StartTime = record.TrimStart;

  inputFailed = false;
  std::string outputName;
  if (!naming_.ReserveOutputFileName(sourceName, suffix, outputName, error)) return false;

  TOutputOptions output;
  InitOutputOptions(output);
  output.FileName = outputName;
  if (record.HasCrop()) {
    output.CropTop = record.CropTop;
    output.CropBottom = record.CropBottom;
    output.CropLeft = record.CropLeft;
    output.CropRight = record.CropRight;
  }
  if (record.TrimLength > 0) output.Duration = record.TrimLength;
  try {
    BuildConversionOptions(global_, formatIndex_, record.ZoomMode, source, output, input);
  } catch (...) {
    TOutputNaming::ReleaseOutputFileName(outputName);
    throw;
  }
  // A cropped picture that is not letter-boxed keeps its own shape; left
  // alone, the converter would stretch it back to the source's display
  // shape.
  if (record.HasCrop() && output.AspectRatio.empty()) {
    const int width = source.Width - record.CropLeft - record.CropRight;
    const int height = source.Height - record.CropTop - record.CropBottom;
    if (width > 0 && height > 0) output.AspectRatio = FormatText("%.6f", sampleAspect * width / height);
  }

  const int job = converter_.AddInputFile(input.FileName, &input);
  if (job < 0) {
    error = converter_.LastErrMsg();
    inputFailed = true;
    TOutputNaming::ReleaseOutputFileName(outputName);
    return false;
  }
  output.CustomHook = pictureHook_;
  if (!converter_.AddOutputFile(job, outputName, &output)) {
    // A job without an output would only fail its start; it goes now, with
    // the reason the output gave.
    error = converter_.LastErrMsg();
    converter_.RemoveJob(job);
    TOutputNaming::ReleaseOutputFileName(outputName);
    return false;
  }
  jobRows_.push_back(row);
  jobOutputs_.push_back(outputName);
  return true;
}

void TBatchConverter::AbandonBatch() {
  // Freeing the jobs removes the outputs they opened and never wrote.
  converter_.ClearJobs();
  for (const std::string& name : jobOutputs_) TOutputNaming::ReleaseOutputFileName(name);
  jobRows_.clear();
  jobOutputs_.clear();
}

bool TBatchConverter::Start() {
  if (running_) return false;
  converter_.SetLogLevel(llInfo);
  if (const auto priority = ConvertPriorityFor(ReadSettingInt(global_, settings::Priority)))
    converter_.SetThreadPriority(*priority);
  if (list_.CheckedCount() == 0) {
    view_.ShowMessage(bmNoCheckedRow, "Warning", "Please select a file by clicking the check box!");
    return false;
  }

  converter_.ClearJobs();
  jobRows_.clear();
  jobOutputs_.clear();
  tracker_.reset();
  skipped_ = 0;
  const std::string suffix =
      "." + ReadFormatKey(TIniFile(global_.FormatIniFile()), formatIndex_, profilekeys::FileExt);

  for (int row = 0; row < list_.Count(); ++row) {
    if (!list_.Row(row).Checked) continue;
    std::string error;
    bool built = false;
    bool inputFailed = false;
    try {
      built = BuildJob(row, suffix, error, inputFailed);
    } catch (const std::exception& e) {
      // A stored value that does not convert spoils every row of the format.
      AbandonBatch();
      view_.StopPreview();
      view_.ShowMessage(bmStartError, global_.ProductName(), e.what());
      return false;
    }
    if (built) {
      AppendLog("");
    } else {
      skipped_ += 1;
      AppendLog(inputFailed ? "***File open error: " + error : error);
      view_.RowSkipped(row, error);
    }
  }
  view_.StopPreview();
  if (jobRows_.empty()) {
    converter_.ClearJobs();
    return false;
  }

  tracker_ = std::make_unique<TBatchTracker>(list_, view_, actions_, jobRows_, jobOutputs_,
                                             FolderOf(jobOutputs_.front()), global_.ProductName());
  tracker_->SetAfterConversion(openFolder_, powerOff_);
  running_ = true;
  stopRequested_ = false;
  jobCount_ = static_cast<int>(jobRows_.size());
  jobsStarted_ = std::min(threadMode_, jobCount_);
  for (int job = 0; job < jobsStarted_; ++job) {
    TBatchEvent started;
    started.Kind = TBatchEvent::bkStarted;
    started.Job = job;
    queue_.Push(std::move(started));
  }
  converter_.StartConvert(threadMode_);
  return true;
}

void TBatchConverter::Stop() {
  if (!running_) return;
  stopRequested_ = true;
  converter_.StopConvert();
}

void TBatchConverter::Pause() {
  if (running_) converter_.PauseConvert();
}

void TBatchConverter::Resume() {
  if (running_) converter_.ResumeConvert();
}

void TBatchConverter::Drain() {
  for (const TBatchEvent& event : queue_.TakeAll()) {
    if (!tracker_ || !running_) {
      if (event.Kind == TBatchEvent::bkLog) view_.ConverterLog(event.Job, event.Level, event.Text);
      continue;
    }
    if (!tracker_->Apply(event)) continue;
    converter_.ClearJobs();
    running_ = false;
    TBatchSummary summary = tracker_->Summary();
    summary.Skipped = skipped_;
    view_.BatchEnded(summary);
  }
}
