#pragma once
// The media library's log callback of the converter components.
//
// A message passes when its level is within the library's current log level
// (both on the converter's scale, below). Its text is appended to the
// calling thread's buffer (LogBuffers); each complete line is then offered to
// every registered component, which hands it to the job running on the
// calling thread, or reports it without a job (index -1). Text after the last
// line feed waits in the buffer for the rest of its line.
//
// Threads: the callback runs on whichever thread logs.
#include <cstdarg>
#include <cstdint>

// The converter's log level scale (-1 quiet, 0 errors, 1 warnings,
// information and verbose messages, 2 debug, 3 trace) of a library level.
int EngineLevelOfLibraryLevel(int libraryLevel);

// The id the converter keeps for the calling thread (the kernel's thread id).
int32_t CurrentThreadId();

void ComponentLogCallback(void* context, int level, const char* format, va_list args);
// Installs the callback in the loaded media library.
void InstallLibraryLogCallback();
// Puts the library's default callback back when the converter's is installed.
void RemoveLibraryLogCallback();
