#include "engine/binding/EngineLog.h"

#include <cstdarg>

#include "engine/binding/MediaLibraries.h"

int LibraryLogLevel(int engineLevel) {
  switch (engineLevel) {
    case -1:
      return AV_LOG_QUIET;
    case 0:
      return AV_LOG_ERROR;
    case 1:
      return AV_LOG_INFO;
    case 2:
      return AV_LOG_DEBUG;
    default:
      return engineLevel < -1 ? AV_LOG_QUIET : AV_LOG_TRACE;
  }
}

void EngineLog(int level, const char* format, ...) {
  if (!FF.av_vlog) return;
  va_list args;
  va_start(args, format);
  FF.av_vlog(nullptr, LibraryLogLevel(level), format, args);
  va_end(args);
}
