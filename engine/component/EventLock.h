#pragma once
// The converter's event lock: re-entrant for the thread that holds it (an
// event handler may call back into the converter), and able to tell whether
// the calling thread holds it, so that the converter never waits for a job
// thread that may itself be waiting for this lock.
#include <atomic>
#include <mutex>
#include <thread>

class TEventLock {
public:
  void lock() {
    mutex_.lock();
    if (depth_++ == 0) owner_.store(std::this_thread::get_id());
  }
  void unlock() {
    if (--depth_ == 0) owner_.store(std::thread::id());
    mutex_.unlock();
  }
  bool HeldByCurrentThread() const { return owner_.load() == std::this_thread::get_id(); }

private:
  std::recursive_mutex mutex_;
  int depth_ = 0;  // changed only by the holder
  std::atomic<std::thread::id> owner_{};
};
