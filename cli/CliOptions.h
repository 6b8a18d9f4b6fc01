#pragma once
// The command line of tovrin-convert: what was asked and how to read it.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct TCliOptions {
  std::optional<int> FormatIndex;  // -f; none: the stored "OutPutFormat"
  std::string OutputFolder;        // -o; empty: the stored "OutPutDir"
  int TrimStartMs = 0;             // --trim
  int TrimLengthMs = 0;            // 0: to the end
  bool Crop = false;               // --crop given
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  std::string SettingsFile;  // --settings
  bool Info = false;
  bool ListFormats = false;
  bool Help = false;
  int Jobs = 1;
  bool Quiet = false;
  std::vector<std::string> Files;
};

// Fills options from the arguments; false with the reason on a usage error.
bool ParseCommandLine(int argc, char** argv, TCliOptions& options, std::string& error);
void PrintUsage(FILE* out);

// The short name of each output format, in format order ("flv" ... "aac").
const char* FormatShortName(int formatIndex);
// A format given by index (0-17) or short name (any letter case); none for
// anything else.
std::optional<int> ParseFormat(const std::string& text);
// Seconds ("90", "12.5") or [[HH:]MM:]SS (seconds may have a fraction) as
// milliseconds; none for anything else.
std::optional<int64_t> ParseTimeText(const std::string& text);
