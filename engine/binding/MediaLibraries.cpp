#include "engine/binding/MediaLibraries.h"

#include <dlfcn.h>

#include <cstdio>
#include <vector>

#include "engine/binding/EngineError.h"
#include "engine/binding/MyUtils.h"

MediaFunctionTable FF;
std::atomic<int> CurrentLogLevel{AV_LOG_INFO};

namespace {

struct FunctionSlot {
  const char* name;
  void** pointer;
};

// One shared library of the set: its file name rule, handle, loaded flag,
// last error and the function slots it fills.
class MediaLibrary {
public:
  MediaLibrary(const char* stem, int majorVersion, std::vector<FunctionSlot> slots)
      : stem_(stem), majorVersion_(majorVersion), slots_(std::move(slots)) {}

  std::string FileName() const {
    std::string name = "lib";
    name.append(stem_).append(".so");
    if (versioned_) name.append(".").append(std::to_string(majorVersion_));
    return name;
  }

  bool Load(std::string& errorText, const std::string& folder, bool useVersionedName) {
    versioned_ = useVersionedName;
    bool ok = true;
    if (!handle_) {
      dlerror();
      handle_ = LoadLibraryFromFolder(folder, FileName());
      if (!handle_) {
        const char* reason = dlerror();
        error_ = FormatText("Load libraray %s error: %s", FileName().c_str(), reason ? reason : "");
        ok = false;
      }
    }
    if (ok && !loaded_) {
      try {
        for (const FunctionSlot& slot : slots_) Resolve(slot.name, *slot.pointer);
        loaded_ = true;
      } catch (const FFMpegException& e) {
        error_ = e.what();
        ok = false;
      }
    }
    if (!ok) errorText = error_;
    return ok;
  }

  void Resolve(const std::string& name, void*& pointer) {
    if (!handle_) return;
    dlerror();
    pointer = dlsym(handle_, name.c_str());
    if (!pointer) {
      const char* reason = dlerror();
      throw FFMpegException(FormatText("Load function %s@%s error: %s", name.c_str(), FileName().c_str(),
                                       reason ? reason : "symbol not found"));
    }
  }

  void Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
    loaded_ = false;
    for (const FunctionSlot& slot : slots_) *slot.pointer = nullptr;
  }

  bool Loaded() const { return loaded_; }

private:
  std::string stem_;
  int majorVersion_;
  std::vector<FunctionSlot> slots_;
  void* handle_ = nullptr;
  bool versioned_ = true;
  bool loaded_ = false;
  std::string error_;
};

#define TOVRIN_SLOT(name) FunctionSlot{#name, reinterpret_cast<void**>(&FF.name)},

MediaLibrary& AVCodecLibrary() {
  static MediaLibrary library("avcodec", LIBAVCODEC_VERSION_MAJOR, {TOVRIN_AVCODEC_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
MediaLibrary& AVFilterLibrary() {
  static MediaLibrary library("avfilter", LIBAVFILTER_VERSION_MAJOR,
                              {TOVRIN_AVFILTER_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
MediaLibrary& AVFormatLibrary() {
  static MediaLibrary library("avformat", LIBAVFORMAT_VERSION_MAJOR,
                              {TOVRIN_AVFORMAT_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
MediaLibrary& AVUtilLibrary() {
  static MediaLibrary library("avutil", LIBAVUTIL_VERSION_MAJOR, {TOVRIN_AVUTIL_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
MediaLibrary& SwScaleLibrary() {
  static MediaLibrary library("swscale", LIBSWSCALE_VERSION_MAJOR, {TOVRIN_SWSCALE_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
MediaLibrary& SwResampleLibrary() {
  static MediaLibrary library("swresample", LIBSWRESAMPLE_VERSION_MAJOR,
                              {TOVRIN_SWRESAMPLE_FUNCTIONS(TOVRIN_SLOT)});
  return library;
}
#undef TOVRIN_SLOT

bool allLoaded = false;
bool myUtilLoaded = false;
std::string setError;

}  // namespace

bool LoadMediaLibraries(const std::string& folder, bool useVersionedNames) {
  if (allLoaded) return true;
  setError.clear();
  allLoaded = LoadAVCodecLibrary(setError, folder, useVersionedNames, true) &&
              LoadAVFilterLibrary(setError, folder, useVersionedNames, true) &&
              LoadAVFormatLibrary(setError, folder, useVersionedNames, true) &&
              LoadAVUtilLibrary(setError, folder, useVersionedNames) &&
              LoadSwScaleLibrary(setError, folder, useVersionedNames) &&
              LoadSwResampleLibrary(setError, folder, useVersionedNames) &&
              LoadMyUtilLibrary(setError, folder);
  if (allLoaded)
    CurrentLogLevel = FF.av_log_get_level();
  else
    UnloadMediaLibraries();
  return allLoaded;
}

void UnloadMediaLibraries() {
  allLoaded = false;
  UnloadAVCodecLibrary();
  UnloadAVFilterLibrary();
  UnloadAVFormatLibrary();
  UnloadAVUtilLibrary();
  UnloadSwScaleLibrary();
  UnloadSwResampleLibrary();
  UnloadMyUtilLibrary();
}

std::string MediaLibrariesError() {
  return setError;
}
bool MediaLibrariesLoaded() {
  return allLoaded;
}

std::string AVCodecLibraryName() {
  return AVCodecLibrary().FileName();
}
bool LoadAVCodecLibrary(std::string& errorText, const std::string& folder, bool useVersionedName, bool) {
  return AVCodecLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveAVCodecFunction(const std::string& name, void*& pointer) {
  AVCodecLibrary().Resolve(name, pointer);
}
void UnloadAVCodecLibrary() {
  AVCodecLibrary().Unload();
}
bool AVCodecLoaded() {
  return AVCodecLibrary().Loaded();
}

std::string AVFilterLibraryName() {
  return AVFilterLibrary().FileName();
}
bool LoadAVFilterLibrary(std::string& errorText, const std::string& folder, bool useVersionedName, bool) {
  return AVFilterLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveAVFilterFunction(const std::string& name, void*& pointer) {
  AVFilterLibrary().Resolve(name, pointer);
}
void UnloadAVFilterLibrary() {
  AVFilterLibrary().Unload();
}
bool AVFilterLoaded() {
  return AVFilterLibrary().Loaded();
}

std::string AVFormatLibraryName() {
  return AVFormatLibrary().FileName();
}
bool LoadAVFormatLibrary(std::string& errorText, const std::string& folder, bool useVersionedName, bool) {
  return AVFormatLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveAVFormatFunction(const std::string& name, void*& pointer) {
  AVFormatLibrary().Resolve(name, pointer);
}
void UnloadAVFormatLibrary() {
  AVFormatLibrary().Unload();
}
bool AVFormatLoaded() {
  return AVFormatLibrary().Loaded();
}

std::string AVUtilLibraryName() {
  return AVUtilLibrary().FileName();
}
bool LoadAVUtilLibrary(std::string& errorText, const std::string& folder, bool useVersionedName) {
  return AVUtilLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveAVUtilFunction(const std::string& name, void*& pointer) {
  AVUtilLibrary().Resolve(name, pointer);
}
void UnloadAVUtilLibrary() {
  AVUtilLibrary().Unload();
}
bool AVUtilLoaded() {
  return AVUtilLibrary().Loaded();
}

std::string SwScaleLibraryName() {
  return SwScaleLibrary().FileName();
}
bool LoadSwScaleLibrary(std::string& errorText, const std::string& folder, bool useVersionedName) {
  return SwScaleLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveSwScaleFunction(const std::string& name, void*& pointer) {
  SwScaleLibrary().Resolve(name, pointer);
}
void UnloadSwScaleLibrary() {
  SwScaleLibrary().Unload();
}
bool SwScaleLoaded() {
  return SwScaleLibrary().Loaded();
}

std::string SwResampleLibraryName() {
  return SwResampleLibrary().FileName();
}
bool LoadSwResampleLibrary(std::string& errorText, const std::string& folder, bool useVersionedName) {
  return SwResampleLibrary().Load(errorText, folder, useVersionedName);
}
void ResolveSwResampleFunction(const std::string& name, void*& pointer) {
  SwResampleLibrary().Resolve(name, pointer);
}
void UnloadSwResampleLibrary() {
  SwResampleLibrary().Unload();
}
bool SwResampleLoaded() {
  return SwResampleLibrary().Loaded();
}

std::string MyUtilLibraryName() {
  return "libc.so.6";
}
bool LoadMyUtilLibrary(std::string&, const std::string&) {
  myUtilLoaded = true;
  return true;
}
void UnloadMyUtilLibrary() {
  myUtilLoaded = false;
}
bool MyUtilLoaded() {
  return myUtilLoaded;
}
