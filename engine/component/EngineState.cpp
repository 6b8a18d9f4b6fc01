// The process-wide state of the converter components.
#include "engine/component/EngineState.h"

#include <algorithm>
#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#define TOVRIN_HAS_X87 1
#endif

#include "engine/binding/MediaLibraries.h"
#include "engine/component/LogRouting.h"

namespace {

std::atomic<bool> stateAlive{false};

class TEngineState {
public:
  TEngineState() {
#ifdef TOVRIN_HAS_X87
    fpu_control_t word = 0;
    _FPU_GETCW(word);
    savedFpuWord_ = word;
    fpu_control_t wanted = 0x133F;
    _FPU_SETCW(wanted);
#endif
    stateAlive = true;
  }

  ~TEngineState() {
    stateAlive = false;
    RemoveLibraryLogCallback();
#ifdef TOVRIN_HAS_X87
    fpu_control_t word = savedFpuWord_;
    _FPU_SETCW(word);
#endif
  }

  TComponentRegistry Registry;
  TLogList Buffers;
  std::mutex BuffersLock;
  unsigned savedFpuWord_ = 0;
};

TEngineState& EngineState() {
  static TEngineState state;
  return state;
}

}  // namespace

void TComponentRegistry::Add(TCustomFFmpegVCL* component) {
  std::lock_guard<std::mutex> guard(lock_);
  components_.push_back(TEntry{component, std::make_shared<TDeliveries>()});
}

void TComponentRegistry::Remove(TCustomFFmpegVCL* component) {
  std::shared_ptr<TDeliveries> deliveries;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto entry = std::find_if(components_.begin(), components_.end(),
                              [component](const TEntry& e) { return e.Component == component; });
    if (entry == components_.end()) return;
    deliveries = entry->Deliveries;
    components_.erase(entry);
  }
  std::unique_lock<std::mutex> guard(deliveries->Lock);
  deliveries->Idle.wait(guard, [&] { return deliveries->Count == 0; });
}

void TComponentRegistry::ForEach(const std::function<void(TCustomFFmpegVCL&)>& visit) {
  std::vector<TEntry> targets;
  {
    std::lock_guard<std::mutex> guard(lock_);
    targets = components_;
    for (TEntry& target : targets) {
      std::lock_guard<std::mutex> counting(target.Deliveries->Lock);
      ++target.Deliveries->Count;
    }
  }
  for (TEntry& target : targets) {
    try {
      visit(*target.Component);
    } catch (...) {
      // A delivery failure stays with that component.
    }
    std::lock_guard<std::mutex> counting(target.Deliveries->Lock);
    if (--target.Deliveries->Count == 0) target.Deliveries->Idle.notify_all();
  }
}

TLogList::~TLogList() {
  Clear();
}

TLogItem& TLogList::FindOrAdd(int32_t threadId) {
  if (first_.ThreadId == 0 || first_.ThreadId == threadId) {
    first_.ThreadId = threadId;
    return first_;
  }
  for (TLogItem* item = first_.Next.get(); item; item = item->Next.get())
    if (item->ThreadId == threadId) return *item;
  auto added = std::make_unique<TLogItem>();
  added->ThreadId = threadId;
  added->Next = std::move(first_.Next);
  first_.Next = std::move(added);
  return *first_.Next;
}

void TLogList::Clear() {
  first_.ThreadId = 0;
  first_.Text.clear();
  // One at a time: a long chain must not recurse through the destructors.
  std::unique_ptr<TLogItem> chain = std::move(first_.Next);
  while (chain) chain = std::move(chain->Next);
}

size_t TLogList::Count() const {
  size_t count = first_.ThreadId != 0 ? 1 : 0;
  for (const TLogItem* item = first_.Next.get(); item; item = item->Next.get()) ++count;
  return count;
}

void EnsureEngineState() {
  EngineState();
}
TComponentRegistry& ComponentRegistry() {
  return EngineState().Registry;
}
TLogList& LogBuffers() {
  return EngineState().Buffers;
}
std::mutex& LogBuffersLock() {
  return EngineState().BuffersLock;
}
bool EngineStateAlive() {
  return stateAlive;
}
unsigned SavedFpuControlWord() {
  return EngineState().savedFpuWord_;
}
