#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>

#include "engine/binding/MediaLibraries.h"

namespace testsupport {

std::string FixtureFolder() {
  const char* folder = std::getenv("TOVRIN_FIXTURES");
  return folder && *folder ? folder : TOVRIN_DEFAULT_FIXTURE_DIR;
}

std::string ProgramFolder() {
  const char* folder = std::getenv("TOVRIN_PROGRAM_DIR");
  return folder && *folder ? folder : TOVRIN_DEFAULT_PROGRAM_DIR;
}

std::string Fixture(const std::string& name) {
  return FixtureFolder() + "/" + name;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovrin-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void LoadLibrariesOrFail() {
  if (!LoadMediaLibraries("", true)) FAIL() << MediaLibrariesError();
}

LogCapture* LogCapture::active_ = nullptr;

LogCapture::LogCapture() {
  active_ = this;
  FF.av_log_set_callback(&LogCapture::Callback);
}

LogCapture::~LogCapture() {
  FF.av_log_set_callback(FF.av_log_default_callback);
  active_ = nullptr;
}

void LogCapture::Callback(void*, int level, const char* format, va_list args) {
  char buffer[4096];
  vsnprintf(buffer, sizeof buffer, format, args);
  if (LogCapture* capture = active_) {
    std::lock_guard<std::mutex> guard(capture->lock_);
    capture->lines_.emplace_back(level, buffer);
  }
}

std::string LogCapture::Text() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string all;
  for (const auto& line : lines_) all += line.second;
  return all;
}

bool LogCapture::Contains(const std::string& text) const {
  return Text().find(text) != std::string::npos;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
}

}  // namespace testsupport
