#pragma once
// Engine messages go through the media library's log function (no context
// object), so they reach whatever log callback the converter installed.
//
// Levels are the converter's scale: -1 a caught exception's message, 0 errors,
// 1 information and warnings, 2 debug, 3 trace.
int LibraryLogLevel(int engineLevel);
void EngineLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
