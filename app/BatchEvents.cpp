#include "app/BatchEvents.h"

void TBatchEventQueue::SetWakeUp(std::function<void()> wakeUp) {
  std::lock_guard<std::mutex> guard(lock_);
  wakeUp_ = std::move(wakeUp);
}

void TBatchEventQueue::Push(TBatchEvent event) {
  std::function<void()> wakeUp;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const bool wasEmpty = events_.empty();
    events_.push_back(std::move(event));
    // One wake-up per batch of events: the drain takes them all.
    if (wasEmpty) wakeUp = wakeUp_;
  }
  if (wakeUp) wakeUp();
}

std::vector<TBatchEvent> TBatchEventQueue::TakeAll() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<TBatchEvent> taken;
  taken.swap(events_);
  return taken;
}

bool TBatchEventQueue::Empty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return events_.empty();
}
