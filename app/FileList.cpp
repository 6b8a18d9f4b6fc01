#include "app/FileList.h"

#include <algorithm>

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int TFileList::Find(const std::string& fileName) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Caption() == fileName) return static_cast<int>(i);
  }
  return -1;
}

int TFileList::Add(const TlvFilesRecord& record) {
  TFileRow row;
  row.Record = record;
  row.Length = std::to_string(record.SourceDuration);
  row.TrimmedLength = row.Length;
  row.Destination = FileNameOf(record.DestFile);
  rows_.push_back(std::move(row));
  return Count() - 1;
}

void TFileList::Select(int index) {
  selected_ = index >= 0 && index < Count() ? index : -1;
}

bool TFileList::RemoveSelected() {
  if (selected_ < 0) return false;
  rows_.erase(rows_.begin() + selected_);
  selected_ = rows_.empty() ? -1 : std::min(selected_, Count() - 1);
  return true;
}

void TFileList::Clear() {
  rows_.clear();
  selected_ = -1;
}

void TFileList::CheckAll() {
  for (TFileRow& row : rows_) row.Checked = true;
}

void TFileList::UncheckAll() {
  for (TFileRow& row : rows_) row.Checked = false;
}

void TFileList::ReverseCheck() {
  for (TFileRow& row : rows_) row.Checked = !row.Checked;
}

void TFileList::CheckSelected() {
  if (selected_ >= 0) rows_[static_cast<size_t>(selected_)].Checked = true;
}

void TFileList::UncheckSelected() {
  if (selected_ >= 0) rows_[static_cast<size_t>(selected_)].Checked = false;
}

int TFileList::CheckedCount() const {
  return static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const TFileRow& row) { return row.Checked; }));
}
