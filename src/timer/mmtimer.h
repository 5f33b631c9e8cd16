// TMMTimer: calls its OnTimer handler every Interval milliseconds on a thread
// of its own, at a fixed rate on the grid of a Clock. Not tied to any GUI
// message loop, so beats keep time while the window is busy. With a
// lookahead each call comes that long before its due time, so that what it
// decides reaches the output in time.
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
  // Disarms; waits for a running call unless called from inside it. From
  // inside its own call the timer may be destroyed: the thread then ends on
  // its own once the call returns, touching only state it shares.
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

  Clock& clock() const;

  // Each call comes this long before its due time (0 after construction),
  // and once armed from outside a call, the first is due no sooner than
  // that. Only while disabled; a negative value counts as 0.
  void SetLookahead(Micros lookahead);

  // While held no call starts and the grid stays where it is: a call that
  // falls due meanwhile comes once the last hold is released. Hold waits for
  // a running call, so it is never made from inside one. Holds nest.
  void Hold();
  void Release();

  // Only while held, after calls whose decisions are being undone: the next
  // call falls due at `due` and the period from there is `ms`, as they were
  // before those calls. While disarmed only the interval is restored.
  void Rewind(Micros due, std::uint32_t ms);

  // The due time (on clock()) of the call in progress; valid inside OnTimer.
  Micros DueTime() const { return state_->currentDue.load(std::memory_order_relaxed); }

  // True while a periodic event is armed.
  bool Armed() const;

 protected:
  // Calls OnTimer with this timer as sender. Timer thread.
  virtual void DoTimer();

 private:
  // What the timer thread uses. The thread holds its own reference, so
  // it can outlive a timer destroyed from inside its call.
  struct State {
    std::shared_ptr<Clock> clock;
    std::mutex mutex;
    std::condition_variable changed;  // arming changes, end of a call
    bool enabled = true;
    std::uint32_t interval = 1000;
    TimerEvent onTimer;
    ErrorEvent onError;
    bool armed = false;
    Micros nextDue = 0;
    std::uint64_t generation = 0;  // bumped by every kill-and-re-arm
    bool inCall = false;
    int holds = 0;
    Micros lookahead = 0;
    bool quit = false;  // the timer is gone or going: the thread ends
    std::atomic<Micros> currentDue{0};
    std::thread::id threadId;
  };

  void UpdateTimer(std::unique_lock<std::mutex>& lock);
  void EnsureThread(std::unique_lock<std::mutex>& lock);
  // The thread's loop. Calls through `self` only while the state says the
  // timer is alive (not quit), and only outside the lock.
  static void Run(std::shared_ptr<State> state, TMMTimer* self);
  bool OnTimerThread() const;

  const std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace pendlo
