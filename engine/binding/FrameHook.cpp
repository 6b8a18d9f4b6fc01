#include "engine/binding/FrameHook.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstring>
#include <mutex>
#include <utility>

#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"

namespace {

// Every plug-in library loaded by this process, by the path it was added
// with. The handles are never closed: a session's hooks may outlive the
// session that added the path first.
struct PluginCache {
  std::mutex lock;
  std::vector<std::pair<std::string, void*>> libraries;
};

PluginCache& Plugins() {
  static PluginCache cache;
  return cache;
}

// The cached handle of path, loading the library on first use; null (with the
// loader's reason in error) when it does not load.
void* LoadPlugin(const std::string& path, std::string& error) {
  PluginCache& cache = Plugins();
  std::lock_guard<std::mutex> guard(cache.lock);
  for (const auto& [name, handle] : cache.libraries)
    if (strcasecmp(name.c_str(), path.c_str()) == 0) return handle;
  // The path is used as given: a full or relative path names the file, and the
  // plug-in's own dependencies are found through its run path.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = reason ? reason : "cannot load " + path;
    return nullptr;
  }
  cache.libraries.emplace_back(path, handle);
  return handle;
}

template <typename Function>
Function Entry(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

}  // namespace

int AddFrameHook(TFrameHookEntry*& head, int argc, char* argv[]) {
  if (argc < 1 || !argv || !argv[0]) return kFrameHookMissingEntry;
  const std::string path = argv[0];

  std::string error;
  void* library = LoadPlugin(path, error);
  if (!library) {
    EngineLog(0, "%s\n", error.c_str());
    return kFrameHookNotLoadable;
  }

  auto* entry = static_cast<TFrameHookEntry*>(FF.av_mallocz(sizeof(TFrameHookEntry)));
  if (!entry) return kFrameHookNoMemory;
  entry->configure = Entry<FrameHookConfigureFn>(library, "Configure");
  entry->process = Entry<FrameHookProcessFn>(library, "Process");
  entry->release = Entry<FrameHookReleaseFn>(library, "Release");

  // An entry that fails here never reaches the chain, so it is freed at once.
  // A plug-in that refuses its configuration keeps no context with us: it
  // cleans up before refusing.
  if (!entry->process) {
    EngineLog(0, "Failed to find Process entrypoint in %s\n", path.c_str());
    FF.av_free(entry);
    return kFrameHookMissingEntry;
  }
  if (!entry->configure && argc > 1) {
    EngineLog(0, "Failed to find Configure entrypoint in %s\n", path.c_str());
    FF.av_free(entry);
    return kFrameHookMissingEntry;
  }
  if (entry->configure && entry->configure(&entry->context, argc, argv) != 0) {
    EngineLog(0, "Failed to Configure %s\n", path.c_str());
    FF.av_free(entry);
    return kFrameHookConfigRefused;
  }

  TFrameHookEntry** tail = &head;
  while (*tail) tail = &(*tail)->next;
  *tail = entry;
  return 0;
}

void ProcessFrameHooks(TFrameHookEntry* head, FrameHookPicture* picture, int pixelFormat, int width,
                       int height, int64_t pts) {
  for (TFrameHookEntry* entry = head; entry; entry = entry->next)
    entry->process(entry->context, picture, pixelFormat, width, height, pts);
}

void ReleaseFrameHooks(TFrameHookEntry*& head) {
  TFrameHookEntry* entry = head;
  head = nullptr;
  while (entry) {
    TFrameHookEntry* next = entry->next;
    if (entry->release) entry->release(entry->context);
    FF.av_free(entry);
    entry = next;
  }
}

std::vector<std::string> SplitHookArguments(const std::string& text) {
  const char* separators = text.find('|') != std::string::npos ? "|" : " ";
  std::vector<std::string> pieces;
  std::string copy = text;  // strtok_r writes into its text
  char* state = nullptr;
  for (char* piece = strtok_r(copy.data(), separators, &state);
       piece && static_cast<int>(pieces.size()) < kMaxFrameHookArguments;
       piece = strtok_r(nullptr, separators, &state))
    pieces.emplace_back(piece);
  return pieces;
}
