#pragma once
// The pause of a running job. Threads cannot be suspended from outside, so
// the job's thread passes the gate at the head of every main-loop iteration
// and of the picture-duplication loop, and waits there while it is closed.
// A stop opens the gate, so a paused job can always end.
//
// Threads: Close and Open from any thread; Pass on the job's thread only.
#include <chrono>
#include <condition_variable>
#include <mutex>

class TPauseGate {
public:
  void Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
  }
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = false;
    changed_.notify_all();
  }
  bool Closed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
  }

  // Returns at once while open; otherwise waits until opened.
  void Pass() {
    std::unique_lock<std::mutex> guard(lock_);
    if (!closed_) return;
    held_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return !closed_; });
    held_ = false;
  }

  // True once the job's thread waits at the closed gate; false when the gate
  // is open, or after timeout without the thread reaching it.
  bool WaitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, timeout, [this] { return held_ || !closed_; });
    return held_ && closed_;
  }

private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool held_ = false;
};
