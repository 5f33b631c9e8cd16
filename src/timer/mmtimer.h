// TMMTimer: calls its OnTimer handler every Interval milliseconds on a thread
// of its own, at a fixed rate on the grid of a Clock. Not tied to any GUI
// message loop, so beats keep time while the window is busy.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "timer/clock.h"

namespace pendlo {

// Raised when no periodic timer can be had (no thread, no clock).
class EMMTimerError : public std::runtime_error {
 public:
  EMMTimerError() : std::runtime_error("No timer available") {}
};

class TMMTimer {
 public:
  using TimerEvent = std::function<void(TMMTimer& sender)>;

  // Enabled true, Interval 1000, no handler, nothing armed. A null clock
  // means the monotonic clock.
  explicit TMMTimer(std::shared_ptr<Clock> clock = nullptr);
  // Disarms; waits for a running call unless called from inside it.
  virtual ~TMMTimer();
  TMMTimer(const TMMTimer&) = delete;
  TMMTimer& operator=(const TMMTimer&) = delete;

  // Arms according to Enabled, Interval and OnTimer once the owner has set
  // them. Throws EMMTimerError.
  void Loaded();

  bool Enabled() const;
  // An effective change kills and re-arms; the same value changes nothing.
  // After SetEnabled(false) returns no call follows: it waits for a running
  // call, unless made from inside that call. Throws EMMTimerError.
  void SetEnabled(bool value);

  std::uint32_t Interval() const;
  // An effective change re-arms: from inside OnTimer the new period starts at
  // that call's due time, from another thread at the moment of the change.
  // 0 leaves the timer disarmed without error. Throws EMMTimerError.
  void SetInterval(std::uint32_t ms);

  // Stores the handler; like any property set while the owner is being
  // built it takes effect at Loaded() or at the next effective change.
  void SetOnTimer(TimerEvent handler);

  // Receives an exception that escaped OnTimer, on the timer thread; the
  // timer carries on. Without one the exception is dropped.
  using ErrorEvent = std::function<void(std::exception_ptr)>;
  void SetOnError(ErrorEvent handler);

  // SetEnabled(true).
  void StartTimer();

  // Replaces the clock. Only while disarmed or disabled.
  void SetClock(std::shared_ptr<Clock> clock);
  Clock& clock() const { return *clock_; }

  // The due time (on clock()) of the call in progress; valid inside OnTimer.
  Micros DueTime() const { return currentDue_.load(std::memory_order_relaxed); }

  // True while a periodic event is armed.
  bool Armed() const;

 protected:
  // Calls OnTimer with this timer as sender. Timer thread.
  virtual void DoTimer();

 private:
  void UpdateTimer(std::unique_lock<std::mutex>& lock);
  void EnsureThread(std::unique_lock<std::mutex>& lock);
  void Run();
  bool OnTimerThread() const;

  std::shared_ptr<Clock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // arming changes, end of a call
  bool enabled_ = true;
  std::uint32_t interval_ = 1000;
  TimerEvent onTimer_;
  ErrorEvent onError_;
  bool armed_ = false;
  Micros nextDue_ = 0;
  std::uint64_t generation_ = 0;  // bumped by every kill-and-re-arm
  bool inCall_ = false;
  bool quit_ = false;
  std::atomic<Micros> currentDue_{0};
  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace pendlo
