#pragma once
// Helpers of the converter tests: a main-thread stand-in for thread mode 0,
// and a recorder of the converter's events with waits that end on the event,
// not after a delay.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "engine/component/LogRouting.h"
#include "engine/component/ZERIConverter.h"

namespace componenttest {

using namespace std::chrono_literals;

// A thread that runs posted work at its due time, like an application's
// main loop with single-shot timers.
class TestDispatcher : public TMainThreadDispatcher {
public:
  TestDispatcher() : thread_([this] { Loop(); }) {}
  ~TestDispatcher() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      quit_ = true;
      wake_.notify_all();
    }
    thread_.join();
  }

  void RunAfter(int delayMs, std::function<void()> task) override {
    std::lock_guard<std::mutex> guard(lock_);
    delays_.push_back(delayMs);
    callers_.push_back(std::this_thread::get_id());
    tasks_.push(TTask{Clock::now() + std::chrono::milliseconds(delayMs), order_++, std::move(task)});
    wake_.notify_all();
  }

  std::thread::id ThreadId() const { return thread_.get_id(); }
  std::vector<int> Delays() const {
    std::lock_guard<std::mutex> guard(lock_);
    return delays_;
  }
  // The threads that asked for each run, in order.
  std::vector<std::thread::id> Callers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return callers_;
  }

private:
  using Clock = std::chrono::steady_clock;
  struct TTask {
    Clock::time_point due;
    long order;
    std::function<void()> work;
    bool operator>(const TTask& other) const {
      return due != other.due ? due > other.due : order > other.order;
    }
  };

  void Loop() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!quit_) {
      if (tasks_.empty()) {
        wake_.wait(guard);
        continue;
      }
      if (Clock::now() < tasks_.top().due) {
        wake_.wait_until(guard, tasks_.top().due);
        continue;
      }
      std::function<void()> work = tasks_.top().work;
      tasks_.pop();
      guard.unlock();
      work();
      guard.lock();
    }
  }

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::priority_queue<TTask, std::vector<TTask>, std::greater<TTask>> tasks_;
  std::vector<int> delays_;
  std::vector<std::thread::id> callers_;
  long order_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

enum class Kind { Log, Progress, Terminate };

struct Event {
  Kind kind = Kind::Log;
  int index = -1;
  std::thread::id thread;
  int32_t threadId = 0;  // the kernel's id of the thread
  // Log
  TLogLevel level = llInfo;
  std::string text;
  // Progress
  int frameNumber = 0;
  int currentDuration = 0;
  int64_t currentSize = 0;
  int totalDuration = 0;
  // Terminate
  bool finished = false;
  bool exception = false;
};

// Records OnLog, OnProgress and OnTerminate of a converter. Reaction runs
// inside the handler after each event is recorded (on the job's thread, with
// the converter's event lock held).
class EventRecorder {
public:
  explicit EventRecorder(DIZAVUrevadado& converter) {
    converter.OnLog = [this](int index, TLogLevel level, const std::string& text) {
      Event event;
      event.kind = Kind::Log;
      event.index = index;
      event.level = level;
      event.text = text;
      Record(event);
    };
    converter.OnProgress = [this](int index, int frameNumber, int, int currentDuration, float, float,
                                  int64_t currentSize, int totalDuration) {
      Event event;
      event.kind = Kind::Progress;
      event.index = index;
      event.frameNumber = frameNumber;
      event.currentDuration = currentDuration;
      event.currentSize = currentSize;
      event.totalDuration = totalDuration;
      Record(event);
    };
    converter.OnTerminate = [this](int index, bool finished, bool exception, const std::string& message) {
      Event event;
      event.kind = Kind::Terminate;
      event.index = index;
      event.finished = finished;
      event.exception = exception;
      event.text = message;
      Record(event);
    };
  }

  std::function<void(const Event&)> Reaction;

  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  std::vector<Event> Of(Kind kind) const {
    std::vector<Event> selected;
    for (const Event& event : Events())
      if (event.kind == kind) selected.push_back(event);
    return selected;
  }
  // Position of the first event matching, -1 when none.
  long FirstIndexOf(const std::function<bool(const Event&)>& match) const {
    const std::vector<Event> events = Events();
    for (size_t i = 0; i < events.size(); ++i)
      if (match(events[i])) return static_cast<long>(i);
    return -1;
  }

  // Waits until the events satisfy done; false after the timeout.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& done,
               std::chrono::milliseconds timeout = 180s) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return done(events_); });
  }
  bool WaitForBatchEnd(std::chrono::milliseconds timeout = 180s) {
    return WaitFor(
        [](const std::vector<Event>& events) {
          for (const Event& event : events)
            if (event.kind == Kind::Terminate && event.index == -1) return true;
          return false;
        },
        timeout);
  }

private:
  void Record(Event event) {
    event.thread = std::this_thread::get_id();
    event.threadId = CurrentThreadId();
    {
      std::lock_guard<std::mutex> guard(lock_);
      events_.push_back(event);
      changed_.notify_all();
    }
    if (Reaction) Reaction(event);
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

inline bool IsTerminate(const Event& event, int index) {
  return event.kind == Kind::Terminate && event.index == index;
}

}  // namespace componenttest
