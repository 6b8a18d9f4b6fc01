#pragma once
// Run-time binding of the media libraries.
//
// The engine never links FFmpeg: LoadMediaLibraries opens the shared objects
// (from a folder, or through the system's library search when the folder is
// empty) and fills the process-wide table FF with one typed pointer per
// function listed in MediaFunctions.def.
//
// Threads: load and unload on the main thread before conversions start; the
// pointers are only read afterwards, from any thread, without a lock.
#include <atomic>
#include <string>

#include "engine/binding/FFmpegHeaders.h"
#include "engine/binding/MediaFunctions.def"

struct MediaFunctionTable {
#define TOVRIN_DECLARE_POINTER(name) decltype(&::name) name = nullptr;
  TOVRIN_AVCODEC_FUNCTIONS(TOVRIN_DECLARE_POINTER)
  TOVRIN_AVFILTER_FUNCTIONS(TOVRIN_DECLARE_POINTER)
  TOVRIN_AVFORMAT_FUNCTIONS(TOVRIN_DECLARE_POINTER)
  TOVRIN_AVUTIL_FUNCTIONS(TOVRIN_DECLARE_POINTER)
  TOVRIN_SWSCALE_FUNCTIONS(TOVRIN_DECLARE_POINTER)
  TOVRIN_SWRESAMPLE_FUNCTIONS(TOVRIN_DECLARE_POINTER)
#undef TOVRIN_DECLARE_POINTER
};

// The process-wide function table.
extern MediaFunctionTable FF;

// The media library's log level, read right after a successful load. Set
// from any thread (a job's verbosity is applied on the thread that starts it).
extern std::atomic<int> CurrentLogLevel;

// Whole set: libavcodec, libavfilter, libavformat, libavutil, libswscale,
// libswresample and the helper library (the C library stands in for it), in
// that order. Never throws; the first failure's text is kept.
bool LoadMediaLibraries(const std::string& folder, bool useVersionedNames);
void UnloadMediaLibraries();
std::string MediaLibrariesError();
bool MediaLibrariesLoaded();

// One family of operations per library. The error text argument receives the
// library's error text when the load fails. Register-all calls no longer exist
// in the installed libraries; the flag is accepted and has nothing to do.
std::string AVCodecLibraryName();
bool LoadAVCodecLibrary(std::string& errorText, const std::string& folder, bool useVersionedName,
                        bool registerAll);
void ResolveAVCodecFunction(const std::string& name, void*& pointer);
void UnloadAVCodecLibrary();
bool AVCodecLoaded();

std::string AVFilterLibraryName();
bool LoadAVFilterLibrary(std::string& errorText, const std::string& folder, bool useVersionedName,
                         bool registerAll);
void ResolveAVFilterFunction(const std::string& name, void*& pointer);
void UnloadAVFilterLibrary();
bool AVFilterLoaded();

std::string AVFormatLibraryName();
bool LoadAVFormatLibrary(std::string& errorText, const std::string& folder, bool useVersionedName,
                         bool registerAll);
void ResolveAVFormatFunction(const std::string& name, void*& pointer);
void UnloadAVFormatLibrary();
bool AVFormatLoaded();

std::string AVUtilLibraryName();
bool LoadAVUtilLibrary(std::string& errorText, const std::string& folder, bool useVersionedName);
void ResolveAVUtilFunction(const std::string& name, void*& pointer);
void UnloadAVUtilLibrary();
bool AVUtilLoaded();

std::string SwScaleLibraryName();
bool LoadSwScaleLibrary(std::string& errorText, const std::string& folder, bool useVersionedName);
void ResolveSwScaleFunction(const std::string& name, void*& pointer);
void UnloadSwScaleLibrary();
bool SwScaleLoaded();

std::string SwResampleLibraryName();
bool LoadSwResampleLibrary(std::string& errorText, const std::string& folder, bool useVersionedName);
void ResolveSwResampleFunction(const std::string& name, void*& pointer);
void UnloadSwResampleLibrary();
bool SwResampleLoaded();

// The helper library's routines come from the C library, which is always
// present: its load always succeeds and loads nothing.
std::string MyUtilLibraryName();
bool LoadMyUtilLibrary(std::string& errorText, const std::string& folder);
void UnloadMyUtilLibrary();
bool MyUtilLoaded();
