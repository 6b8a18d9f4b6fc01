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
// Locks: the registry's lock guards the list of components only. A library
// line is delivered without it: the registry counts the deliveries under way
// to each component, and removing a component waits until its count is 0.
// So no lock is held while a component's EventLock is taken, and a library
// message logged while some EventLock is held cannot close a cycle. The log
// buffers have their own lock, never held while another lock is taken.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TCustomFFmpegVCL;

// Every live converter component.
class TComponentRegistry {
public:
  void Add(TCustomFFmpegVCL* component);
  // Returns once no delivery to the component is under way; none starts after.
  void Remove(TCustomFFmpegVCL* component);
  // Calls visit(component) for each component registered at the call.
  void ForEach(const std::function<void(TCustomFFmpegVCL&)>& visit);

private:
  // Deliveries under way to one component.
  struct TDeliveries {
    std::mutex Lock;
    std::condition_variable Idle;
    int Count = 0;
  };
  struct TEntry {
    TCustomFFmpegVCL* Component;
    std::shared_ptr<TDeliveries> Deliveries;
  };

  std::mutex lock_;
  std::vector<TEntry> components_;
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
