#pragma once
// Shared helpers of the engine tests: fixture paths, library loading and a
// capture of the engine's log lines.
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Folder of the generated media (TOVRIN_FIXTURES), and a file in it.
std::string FixtureFolder();
std::string Fixture(const std::string& name);
// Folder of the built programs (TOVRIN_PROGRAM_DIR, else the build's bin/).
std::string ProgramFolder();

// A fresh empty folder under the system's temporary folder, removed by the
// destructor.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Loads the installed media libraries once per test program; fails the test
// when they do not load.
void LoadLibrariesOrFail();

// Collects every message the media library's log function receives while it
// exists, as (library level, text) pairs.
class LogCapture {
public:
  LogCapture();
  ~LogCapture();
  // All captured texts joined.
  std::string Text() const;
  bool Contains(const std::string& text) const;
  void Clear();

private:
  static void Callback(void*, int level, const char* format, va_list args);
  static LogCapture* active_;
  mutable std::mutex lock_;
  std::vector<std::pair<int, std::string>> lines_;
};

}  // namespace testsupport
