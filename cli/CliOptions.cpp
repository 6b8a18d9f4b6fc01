#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/FormatProfiles.h"
#include "cli/CliOptions.h"

namespace {

constexpr const char* kShortNames[kFormatCount] = {
    "flv", "swf", "3gp-h263", "3gp-mpeg4", "3g2-h263", "3g2-mpeg4", "divx", "mov", "mpg",
    "mp4", "wav", "wma",      "wmv",       "xvid",     "m4a",       "m4v",  "mp3", "aac",
};

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A whole decimal number, nothing else.
std::optional<long long> ParseWhole(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return std::strtoll(text.c_str(), nullptr, 10);
}

// Decimal seconds with an optional fraction, in milliseconds.
std::optional<double> ParseSeconds(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  bool digit = false, point = false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  return std::strtod(text.c_str(), nullptr);
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

bool ParseTrim(const std::string& text, TCliOptions& options, std::string& error) {
  const std::vector<std::string> parts = SplitAt(text, ',');
  const std::optional<int64_t> start = ParseTimeText(parts[0]);
  std::optional<int64_t> length = parts.size() > 1 ? ParseTimeText(parts[1]) : std::optional<int64_t>(0);
  if (parts.size() > 2 || !start || !length || *start > INT_MAX || *length > INT_MAX ||
      (parts.size() > 1 && *length <= 0)) {
    error = "--trim wants START[,LEN]: seconds or HH:MM:SS, a length above 0";
    return false;
  }
  options.TrimStartMs = static_cast<int>(*start);
  options.TrimLengthMs = static_cast<int>(*length);
  return true;
}

bool ParseCrop(const std::string& text, TCliOptions& options, std::string& error) {
  const std::vector<std::string> parts = SplitAt(text, ',');
  int values[4] = {};
  bool good = parts.size() == 4;
  for (size_t i = 0; good && i < 4; ++i) {
    const std::optional<long long> value = ParseWhole(parts[i]);
    good = value && *value % 2 == 0 && *value <= 100000;
    if (good) values[i] = static_cast<int>(*value);
  }
  if (!good) {
    error = "--crop wants T,B,L,R: four even numbers of pixels";
    return false;
  }
  options.Crop = true;
  options.CropTop = values[0];
  options.CropBottom = values[1];
  options.CropLeft = values[2];
  options.CropRight = values[3];
  return true;
}

}  // namespace

const char* FormatShortName(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= kFormatCount) return "";
  return kShortNames[formatIndex];
}

std::optional<int> ParseFormat(const std::string& text) {
  if (const std::optional<long long> index = ParseWhole(text)) {
    if (*index < kFormatCount) return static_cast<int>(*index);
    return std::nullopt;
  }
  const std::string lower = LowerCase(text);
  for (int i = 0; i < kFormatCount; ++i)
    if (lower == kShortNames[i]) return i;
  return std::nullopt;
}

std::optional<int64_t> ParseTimeText(const std::string& text) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  if (parts.size() > 3) return std::nullopt;
  const std::optional<double> seconds = ParseSeconds(parts.back());
  if (!seconds) return std::nullopt;
  double total = *seconds;
  if (parts.size() > 1) {
    if (*seconds >= 60) return std::nullopt;
    double scale = 60;
    for (size_t i = parts.size() - 1; i-- > 0; scale *= 60) {
      const std::optional<long long> whole = ParseWhole(parts[i]);
      if (!whole || (i > 0 && *whole >= 60)) return std::nullopt;
      total += static_cast<double>(*whole) * scale;
    }
  }
  const double ms = std::round(total * 1000.0);
  if (ms > 9.0e15) return std::nullopt;
  return static_cast<int64_t>(ms);
}

void PrintUsage(FILE* out) {
  std::fputs(
      "Usage: tovrin-convert [options] FILE...\n"
      "  -f, --format NAME|N   output format: index 0-17, or flv, swf, 3gp-h263, 3gp-mpeg4, 3g2-h263,\n"
      "                        3g2-mpeg4, divx, mov, mpg, mp4, wav, wma, wmv, xvid, m4a, m4v, mp3, aac\n"
      "                        (default: the stored \"OutPutFormat\")\n"
      "  -o, --output DIR      output folder (default: the stored \"OutPutDir\")\n"
      "  --trim START[,LEN]    start and length in seconds or HH:MM:SS\n"
      "  --crop T,B,L,R        crop in source pixels (even)\n"
      "  --settings FILE       main settings file (default: the user's)\n"
      "  --info                print each file's information text and exit\n"
      "  --list-formats        print the 18 formats with their index and short name\n"
      "  -j, --jobs N          convert up to N files at once (default 1)\n"
      "  -q, --quiet           print failures only\n"
      "  -h, --help            show this help\n"
      "Exit status: 0 when every file converted, 1 when any did not, 2 for usage errors.\n",
      out);
}

bool ParseCommandLine(int argc, char** argv, TCliOptions& options, std::string& error) {
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      options.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      filesOnly = true;
      continue;
    }
    // "--name=value" is "--name value".
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (const size_t equals = arg.find('='); equals != std::string::npos) {
        inlineValue = arg.substr(equals + 1);
        arg.erase(equals);
      }
    }
    auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto flag = [&]() {
      if (!inlineValue) return true;
      error = arg + " takes no value";
      return false;
    };

    std::string text;
    if (arg == "-f" || arg == "--format") {
      if (!value(text)) return false;
      options.FormatIndex = ParseFormat(text);
      if (!options.FormatIndex) {
        error = "unknown format " + text + " (see --list-formats)";
        return false;
      }
    } else if (arg == "-o" || arg == "--output") {
      if (!value(options.OutputFolder)) return false;
      if (options.OutputFolder.empty()) {
        error = arg + " needs a folder";
        return false;
      }
    } else if (arg == "--trim") {
      if (!value(text) || !ParseTrim(text, options, error)) return false;
    } else if (arg == "--crop") {
      if (!value(text) || !ParseCrop(text, options, error)) return false;
    } else if (arg == "--settings") {
      if (!value(options.SettingsFile)) return false;
    } else if (arg == "-j" || arg == "--jobs") {
      if (!value(text)) return false;
      const std::optional<long long> jobs = ParseWhole(text);
      if (!jobs || *jobs < 1 || *jobs > 64) {
        error = "--jobs wants a number from 1 to 64";
        return false;
      }
      options.Jobs = static_cast<int>(*jobs);
    } else if (arg == "--info") {
      if (!flag()) return false;
      options.Info = true;
    } else if (arg == "--list-formats") {
      if (!flag()) return false;
      options.ListFormats = true;
    } else if (arg == "-q" || arg == "--quiet") {
      if (!flag()) return false;
      options.Quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      options.Help = true;
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (!options.Help && !options.ListFormats && options.Files.empty()) {
    error = "no input file";
    return false;
  }
  return true;
}
