#pragma once
// The checked list of source files behind the main window's file list: one
// row per file with its record, the texts of the five columns, the check
// state and the selection. The window shows what this model holds; the trim
// and crop dialogs edit a row's record.
//
// Threads: the application's (user-interface) thread only.
#include <array>
#include <string>
#include <string_view>
#include <vector>

// The record of one row: what was learnt when the file was added and what
// the trim and crop dialogs chose for it.
struct TlvFilesRecord {
  int DialogIndex = 0;            // position within the selection it was added from
  std::string SourceFile;         // full path, the row's caption
  std::string DestFile;           // output path computed when the file was added
  int SourceDuration = 0;         // whole seconds
  int TrimStart = 0;              // ms; 0 = from the beginning
  int TrimLength = 0;             // ms; 0 = to the end
  std::string ZoomMode = "lbox";  // "lbox", "cent", "full" or "orig"
  int CropTop = 0;                // even pixels, 0 = none
  int CropLeft = 0;
  int CropBottom = 0;
  int CropRight = 0;

  bool HasCrop() const { return CropTop > 0 || CropLeft > 0 || CropBottom > 0 || CropRight > 0; }
};

struct TFileListColumn {
  std::string_view Caption;
  int Width;
};
// The report view's columns, in order; shown while the list has rows.
inline constexpr std::array<TFileListColumn, 5> kFileListColumns{{
    {"Source", 140},
    {"Length", 70},
    {"Trimmed Length", 90},
    {"Destination File", 120},
    {"Progress", 60},
}};

struct TFileRow {
  TlvFilesRecord Record;
  bool Checked = true;
  std::string Length;         // "Length" column: whole seconds
  std::string TrimmedLength;  // "Trimmed Length" column
  std::string Destination;    // "Destination File" column: file name of DestFile
  std::string Progress;       // "Progress" column

  const std::string& Caption() const { return Record.SourceFile; }
};

class TFileList {
public:
  int Count() const { return static_cast<int>(rows_.size()); }
  bool Empty() const { return rows_.empty(); }
  TFileRow& Row(int index) { return rows_.at(static_cast<size_t>(index)); }
  const TFileRow& Row(int index) const { return rows_.at(static_cast<size_t>(index)); }

  // The row whose caption is exactly fileName (case-sensitive), or -1.
  int Find(const std::string& fileName) const;
  // Appends a checked row for the record with its column texts; returns its
  // index.
  int Add(const TlvFilesRecord& record);

  // -1 when no row is selected.
  int Selected() const { return selected_; }
  void Select(int index);

  // Removes the selected row, then selects the row now at its position, or
  // the new last row when it was the last. False when no row was selected.
  bool RemoveSelected();
  void Clear();

  void CheckAll();
  void UncheckAll();
  void ReverseCheck();
  // Set the state of the selected row; nothing without a selection.
  void CheckSelected();
  void UncheckSelected();
  int CheckedCount() const;

private:
  std::vector<TFileRow> rows_;
  int selected_ = -1;
};

// The file name part of a path.
std::string FileNameOf(const std::string& path);
