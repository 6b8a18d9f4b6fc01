#pragma once
// Video-hook plug-ins: each session keeps an ordered chain of hooks, each one a
// plug-in library (see FrameHookPlugin.h) with its own context. A plug-in file
// is loaded once per process and never unloaded.
//
// Threads: hooks are added on the thread that builds a session and processed
// and released on the thread that runs it. The process-wide plug-in cache is
// guarded by a mutex, so sessions may add hooks from different threads.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/binding/FrameHookPlugin.h"

// One hook of a chain, allocated zero-filled with av_mallocz.
struct TFrameHookEntry {
  TFrameHookEntry* next;
  FrameHookConfigureFn configure;  // null when the plug-in has none
  FrameHookProcessFn process;
  FrameHookReleaseFn release;  // null when the plug-in has none
  void* context;               // the plug-in's own, set by "Configure"
};

// Results of AddFrameHook.
constexpr int kFrameHookNotLoadable = -1;   // the library does not load
constexpr int kFrameHookMissingEntry = -2;  // no path, or a required entry point is missing
constexpr int kFrameHookNoMemory = -12;
constexpr int kFrameHookConfigRefused = -22;  // "Configure" returned non-zero

// Loads the plug-in argv[0] (once per process; paths compare without regard to
// letter case) and appends a configured hook to the chain. 0 on success, one
// of the codes above otherwise; every failure but a missing path and a failed
// allocation is logged at level 0. A failed hook is not added and leaves
// nothing allocated.
int AddFrameHook(TFrameHookEntry*& head, int argc, char* argv[]);

// Runs "Process" of every hook in chain order on the picture, in place.
void ProcessFrameHooks(TFrameHookEntry* head, FrameHookPicture* picture, int pixelFormat, int width,
                       int height, int64_t pts);

// Calls "Release" of every hook that has one, frees the entries and empties the
// chain. The libraries stay loaded.
void ReleaseFrameHooks(TFrameHookEntry*& head);

// Splits a video-hook option text into plug-in arguments: at "|" when the
// text contains one, else at spaces. Empty pieces are skipped and at most
// kMaxFrameHookArguments pieces are taken.
constexpr int kMaxFrameHookArguments = 64;
std::vector<std::string> SplitHookArguments(const std::string& text);
