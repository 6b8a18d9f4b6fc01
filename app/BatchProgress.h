#pragma once
// The texts a progress report of the converter turns into: the bar position,
// the row's "Progress" column and the progress dialog's labels.
//
// Plain functions of their arguments; any thread.
#include <cstdint>
#include <string>

// One progress report as the converter's OnProgress gives it.
struct TProgressReport {
  int Job = -1;
  int FrameNumber = 0;
  int Fps = 0;
  int CurrentDuration = 0;  // ms of output written
  float Quality = 0;
  float BitRate = 0;
  int64_t CurrentSize = 0;       // bytes
  int TotalOutputDuration = -1;  // ms; -1 unknown
};

struct TProgressTexts {
  int Job = -1;
  int Row = -1;
  // Bar position 0 to 100; -1 when the total is unknown or 0, which gives no
  // percentage (the bar keeps its place).
  int Percent = -1;
  std::string RowProgress;  // "50%"; without a percentage the converted time, "12 s"
  std::string Time;         // lblTime: "5 Second"
  std::string Length;       // lblLength: "11 Second"
  std::string Size;         // lblSize: "340 kb"
  std::string Counter;      // lblProgress: "[2/3]"
  std::string Output;       // lblOutput: the output name, shortened past 50 characters
  TProgressReport Report;
};

// current x 100 / total in whole percent, held to 0..100; -1 when total is 0
// or less. Computed in 64 bits: a file of many hours does not overflow.
int ProgressPercent(int64_t current, int64_t total);

// The name as it is when it has at most 50 characters; otherwise its first
// 44 characters, ".." and its extension with the dot. Characters, not bytes:
// a UTF-8 name is never cut inside a character.
std::string ShortOutputName(const std::string& name);

// The texts of one report of job report.Job, shown in row; jobCount is the
// number of jobs in the batch.
TProgressTexts MakeProgressTexts(const TProgressReport& report, int row, int jobCount,
                                 const std::string& outputName);
