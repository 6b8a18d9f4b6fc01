#include "app/BatchProgress.h"

#include <algorithm>
#include <vector>

namespace {

// Byte offsets at which the UTF-8 characters of text begin.
std::vector<size_t> CharacterStarts(const std::string& text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  return starts;
}

}  // namespace

int ProgressPercent(int64_t current, int64_t total) {
  if (total <= 0) return -1;
  return static_cast<int>(std::clamp<int64_t>(current * 100 / total, 0, 100));
}

std::string ShortOutputName(const std::string& name) {
  constexpr size_t kLongest = 50;
  constexpr size_t kKept = 44;
  const std::vector<size_t> starts = CharacterStarts(name);
  if (starts.size() <= kLongest) return name;
  std::string extension;
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) extension = name.substr(dot);
  return name.substr(0, starts[kKept]) + ".." + extension;
}

TProgressTexts MakeProgressTexts(const TProgressReport& report, int row, int jobCount,
                                 const std::string& outputName) {
  TProgressTexts texts;
  texts.Job = report.Job;
  texts.Row = row;
  texts.Report = report;
  texts.Percent = ProgressPercent(report.CurrentDuration, report.TotalOutputDuration);
  texts.Time = std::to_string(report.CurrentDuration / 1000) + " Second";
  texts.Length = std::to_string(std::max(report.TotalOutputDuration, 0) / 1000) + " Second";
  texts.RowProgress = texts.Percent >= 0 ? std::to_string(texts.Percent) + "%"
                                         : std::to_string(report.CurrentDuration / 1000) + " s";
  texts.Size = std::to_string(report.CurrentSize / 1000) + " kb";
  texts.Counter = "[" + std::to_string(report.Job + 1) + "/" + std::to_string(jobCount) + "]";
  texts.Output = ShortOutputName(outputName);
  return texts;
}
