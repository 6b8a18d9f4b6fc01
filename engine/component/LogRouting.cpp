// Assembling library log lines per thread and routing them to the components.
#include "engine/component/LogRouting.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/binding/MediaLibraries.h"
#include "engine/binding/MyUtils.h"
#include "engine/component/EngineState.h"
#include "engine/component/ZERIConverter.h"

namespace {

std::atomic<bool> callbackInstalled{false};

// The message formatted as the library formats its own lines; a prefix naming
// the logging object starts a new line only.
std::string FormatMessage(void* context, int level, const char* format, va_list args, bool newLine) {
  char buffer[2048];
  int printPrefix = newLine ? 1 : 0;
  va_list copy;
  va_copy(copy, args);
  const int length =
      FF.av_log_format_line2(context, level, format, copy, buffer, sizeof buffer, &printPrefix);
  va_end(copy);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof buffer) return std::string(buffer, static_cast<size_t>(length));
  // Longer than the buffer: format again into one large enough.
  std::vector<char> large(static_cast<size_t>(length) + 1);
  printPrefix = newLine ? 1 : 0;
  va_copy(copy, args);
  FF.av_log_format_line2(context, level, format, copy, large.data(), static_cast<int>(large.size()),
                         &printPrefix);
  va_end(copy);
  return std::string(large.data(), static_cast<size_t>(length));
}

}  // namespace

int EngineLevelOfLibraryLevel(int libraryLevel) {
  if (libraryLevel < 0) return -1;
  if (libraryLevel <= AV_LOG_ERROR) return 0;
  if (libraryLevel <= AV_LOG_VERBOSE) return 1;
  if (libraryLevel <= AV_LOG_DEBUG) return 2;
  return 3;
}

int32_t CurrentThreadId() {
  return static_cast<int32_t>(syscall(SYS_gettid));
}

void ComponentLogCallback(void* context, int level, const char* format, va_list args) {
  if (!EngineStateAlive() || !FF.av_log_get_level) return;
  const int engineLevel = EngineLevelOfLibraryLevel(level);
  // The library's level rather than a copy of it: it is set from any thread.
  if (engineLevel > EngineLevelOfLibraryLevel(FF.av_log_get_level())) return;

  const int32_t threadId = CurrentThreadId();
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> guard(LogBuffersLock());
    TLogItem& item = LogBuffers().FindOrAdd(threadId);
    item.Text += FormatMessage(context, level, format, args, item.Text.empty());
    while (item.Text.find('\n') != std::string::npos) {
      std::string line;
      SplitAtSeparator(item.Text, "\n", true, line);
      lines.push_back(std::move(line));
    }
  }
  if (lines.empty()) return;
  ComponentRegistry().ForEach(
      [&](TCustomFFmpegVCL& component) { component.DeliverLibraryLines(threadId, engineLevel, lines); });
}

void InstallLibraryLogCallback() {
  if (!FF.av_log_set_callback) return;
  FF.av_log_set_callback(&ComponentLogCallback);
  callbackInstalled = true;
}

void RemoveLibraryLogCallback() {
  if (!callbackInstalled.exchange(false)) return;
  if (MediaLibrariesLoaded() && FF.av_log_set_callback && FF.av_log_default_callback)
    FF.av_log_set_callback(FF.av_log_default_callback);
}
