#pragma once
// Process-wide state of the converter components: the registry of live
// components, the per-thread buffers of unfinished library log lines, and the
// x87 floating-point control word.
//
// The state is one function-local static guard object (EngineState()). The
// converter's translation unit touches it from a static initializer, so it is
// made at program start on the main thread: the control word is saved there
// and set to 0x133F (all floating-point exceptions masked, 64-bit mantissa,
// round to nearest). At program end the guard's destructor restores the saved
// word, takes the converter's log callback out of the media library and
// frees the rest; a library message arriving later is dropped. Only x86 has
// the x87 control word; elsewhere nothing is saved or set.
//
// Locks: the registry's lock guards the list of components; library log lines
// are delivered under it held shared, and a component is added or removed
// under it held exclusively, so removal waits for deliveries in progress. The
// log buffers have their own lock, taken last and never held while another
// lock is taken: a component clears the buffers while holding its EventLock,
// and a delivery takes the registry lock, then a component's EventLock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

class TCustomFFmpegVCL;

// Every live converter component.
class TComponentRegistry {
public:
  void Add(TCustomFFmpegVCL* component);
  // Returns once no delivery to the component is in progress.
  void Remove(TCustomFFmpegVCL* component);
  // Calls visit(component) for each, under the shared lock.
  template <class Visit>
  void ForEach(Visit&& visit) const {
    std::shared_lock<std::shared_mutex> guard(lock_);
    for (TCustomFFmpegVCL* component : components_) visit(*component);
  }

private:
  mutable std::shared_mutex lock_;
  std::vector<TCustomFFmpegVCL*> components_;
};

// Unfinished text of one logging thread.
struct TLogItem {
  int32_t ThreadId = 0;  // 0: the item is free
  std::string Text;
  std::unique_ptr<TLogItem> Next;
};

// Per-thread buffers of unfinished log lines: the first item is embedded,
// the others are chained behind it.
class TLogList {
public:
  TLogList() = default;
  ~TLogList();
  TLogList(const TLogList&) = delete;
  TLogList& operator=(const TLogList&) = delete;

  // The item of threadId; the first item when it is free (it takes the id),
  // else a new empty item right after the first one when none has the id.
  TLogItem& FindOrAdd(int32_t threadId);
  // Frees the first item and disposes of the chained ones.
  void Clear();
  size_t Count() const;

private:
  TLogItem first_;
};

// Makes the process-wide state when it does not exist yet.
void EnsureEngineState();
TComponentRegistry& ComponentRegistry();
// Guarded by LogBuffersLock().
TLogList& LogBuffers();
std::mutex& LogBuffersLock();
// False once the process-wide state is gone (at program end).
bool EngineStateAlive();
// The x87 control word saved at program start (0 where there is none).
unsigned SavedFpuControlWord();
