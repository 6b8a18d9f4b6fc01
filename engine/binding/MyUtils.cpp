#include "engine/binding/MyUtils.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

void SplitAtSeparator(std::string& text, const std::string& separator, bool remove, std::string& head) {
  const size_t at = separator.empty() ? std::string::npos : text.find(separator);
  if (at == std::string::npos) {
    head = text;
    if (remove) text.clear();
    return;
  }
  head = text.substr(0, at);
  if (remove) text.erase(0, at + separator.size());
}

int64_t FileSizeByName(const std::string& fileName) {
  struct stat info {};
  if (fileName.empty() || stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

std::string FormatByteSize(int64_t size) {
  constexpr int64_t kKB = 1024, kMB = 1048576, kGB = 1073741824;
  if (size > kGB) return FormatText("%.2f GB", static_cast<double>(size) / kGB);
  if (size > kMB) return FormatText("%.2f MB", static_cast<double>(size) / kMB);
  if (size > kKB) return FormatText("%.2f KB", static_cast<double>(size) / kKB);
  return FormatText("%d Byte", static_cast<int>(size));
}

double LocalTimeZoneBias() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return static_cast<double>(local.tm_gmtoff) / 60.0 / 1440.0;
}

double UnixTimeToLocalDateTime(int64_t seconds) {
  return LocalTimeZoneBias() + static_cast<double>(seconds) / 86400.0 + 25569.0;
}

std::string FormatDateTimeText(const std::string& format, double value) {
  // Round to whole seconds, then read the calendar fields without any time
  // zone: the value already is local time.
  const auto totalSeconds = static_cast<int64_t>(std::llround((value - 25569.0) * 86400.0));
  const time_t asTime = static_cast<time_t>(totalSeconds);
  struct tm parts {};
  gmtime_r(&asTime, &parts);
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    const std::string pair = format.substr(i, 2);
    if (format.compare(i, 4, "yyyy") == 0) {
      out += FormatText("%04d", parts.tm_year + 1900);
      i += 3;
    } else if (pair == "mm" || pair == "dd" || pair == "hh" || pair == "nn" || pair == "ss") {
      const int field = pair == "mm"   ? parts.tm_mon + 1
                        : pair == "dd" ? parts.tm_mday
                        : pair == "hh" ? parts.tm_hour
                        : pair == "nn" ? parts.tm_min
                                       : parts.tm_sec;
      out += FormatText("%02d", field);
      i += 1;
    } else {
      out += format[i];
    }
  }
  return out;
}

void* LoadLibraryFromFolder(const std::string& folder, const std::string& fileName) {
  // The media libraries keep process-wide state (codec tables, threads of
  // their own) that outlives any handle: closing a handle releases the
  // reference, never the mapping.
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
  if (folder.empty()) return dlopen(fileName.c_str(), kFlags);
  std::string path = folder;
  if (path.back() != '/') path += '/';
  path += fileName;
  return dlopen(path.c_str(), kFlags);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  return out;
}
