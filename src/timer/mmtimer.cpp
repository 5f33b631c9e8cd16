#include "timer/mmtimer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <system_error>

namespace pendlo {

TMMTimer::TMMTimer(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : std::make_shared<MonotonicClock>()) {}

TMMTimer::~TMMTimer() {
  {
    std::unique_lock lock(mutex_);
    enabled_ = false;  // directly, not through the setter
    armed_ = false;
    ++generation_;
    quit_ = true;
  }
  changed_.notify_all();
  clock_->interrupt();
  if (thread_.joinable()) {
    if (OnTimerThread()) {
      thread_.detach();  // destroyed from inside its own call: cannot join itself
    } else {
      thread_.join();
    }
  }
}

void TMMTimer::Loaded() {
  std::unique_lock lock(mutex_);
  UpdateTimer(lock);
}

bool TMMTimer::Enabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void TMMTimer::SetEnabled(bool value) {
  std::unique_lock lock(mutex_);
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer(lock);
  if (!value && !OnTimerThread()) {
    // No call may follow once disabling returns: wait out one in progress.
    changed_.wait(lock, [&] { return !inCall_; });
  }
}

std::uint32_t TMMTimer::Interval() const {
  std::lock_guard lock(mutex_);
  return interval_;
}

void TMMTimer::SetInterval(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  if (ms == interval_) return;
  interval_ = ms;
  UpdateTimer(lock);
}

void TMMTimer::SetOnTimer(TimerEvent handler) {
  std::lock_guard lock(mutex_);
  onTimer_ = std::move(handler);
}

void TMMTimer::SetOnError(ErrorEvent handler) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(handler);
}

void TMMTimer::StartTimer() {
  SetEnabled(true);
}

void TMMTimer::SetClock(std::shared_ptr<Clock> clock) {
  std::unique_lock lock(mutex_);
  if (armed_ || !clock) return;
  clock_ = std::move(clock);
}

bool TMMTimer::Armed() const {
  std::lock_guard lock(mutex_);
  return armed_;
}

void TMMTimer::DoTimer() {
  TimerEvent handler;
  {
    std::lock_guard lock(mutex_);
    handler = onTimer_;
  }
  if (handler) handler(*this);
}

bool TMMTimer::OnTimerThread() const {
  return std::this_thread::get_id() == threadId_;
}

void TMMTimer::UpdateTimer(std::unique_lock<std::mutex>& lock) {
  // Kill whatever is armed...
  armed_ = false;
  ++generation_;
  // ...and arm anew when there is something to call.
  if (enabled_ && interval_ != 0 && onTimer_) {
    EnsureThread(lock);
    // A re-arm from inside a call keeps the grid: the new period starts at
    // that call's due time, so tuplet notes are exactly their length.
    const Micros start = inCall_ && OnTimerThread() ? currentDue_.load() : clock_->now();
    nextDue_ = start + static_cast<Micros>(interval_) * 1000;
    armed_ = true;
  }
  changed_.notify_all();
  clock_->interrupt();
}

void TMMTimer::EnsureThread(std::unique_lock<std::mutex>&) {
  if (thread_.joinable()) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    throw EMMTimerError();
  }
  threadId_ = thread_.get_id();
}

namespace {

void RaiseThreadPriority() {
  // Real-time scheduling when the system grants it; normal priority otherwise.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  // Ask for wake-ups within a few microseconds of the deadline.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

}  // namespace

void TMMTimer::Run() {
  RaiseThreadPriority();
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (!armed_) {
      changed_.wait(lock, [&] { return quit_ || armed_; });
      continue;
    }
    const Micros due = nextDue_;
    const std::uint64_t generation = generation_;
    std::shared_ptr<Clock> clock = clock_;
    lock.unlock();
    const bool reached = clock->waitUntil(due);
    lock.lock();
    if (!reached || generation != generation_ || !armed_) continue;  // killed or re-armed

    inCall_ = true;
    currentDue_.store(due);
    lock.unlock();
    try {
      DoTimer();
    } catch (...) {
      ErrorEvent report;
      {
        std::lock_guard guard(mutex_);
        report = onError_;
      }
      if (report) report(std::current_exception());
    }
    lock.lock();
    inCall_ = false;
    changed_.notify_all();
    if (!armed_) continue;

    if (generation == generation_) nextDue_ = due + static_cast<Micros>(interval_) * 1000;
    // Periods that fell due during a long call are not delivered as a burst:
    // one call follows at once, then the grid continues.
    const Micros now = clock_->now();
    const Micros period = static_cast<Micros>(interval_) * 1000;
    if (nextDue_ < now && period > 0) nextDue_ += (now - nextDue_) / period * period;
  }
}

}  // namespace pendlo
