#pragma once
// Small shared routines of the engine.
#include <cstdint>
#include <string>

// head = text before the first separator; with remove, text keeps what follows
// it (or becomes empty when the separator does not occur).
void SplitAtSeparator(std::string& text, const std::string& separator, bool remove, std::string& head);

// Size in bytes of an existing regular file, -1 when it does not exist.
int64_t FileSizeByName(const std::string& fileName);

// "%.2f GB" / "%.2f MB" / "%.2f KB" above each threshold, else "%d Byte".
std::string FormatByteSize(int64_t size);

// Local time zone offset from UTC in days (positive east of Greenwich).
double LocalTimeZoneBias();
// Days since 1899-12-30 in local time for a Unix time in seconds.
double UnixTimeToLocalDateTime(int64_t seconds);
// yyyy, mm, dd, hh, nn, ss are replaced; other characters are copied.
std::string FormatDateTimeText(const std::string& format, double value);

// Loads a shared library: through the system's search when the folder is
// empty, else by its full path in the folder. Returns the dlopen handle or null
// (dlerror() tells why).
void* LoadLibraryFromFolder(const std::string& folder, const std::string& fileName);

// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
