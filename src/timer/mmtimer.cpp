#include "timer/mmtimer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>
#include <system_error>

namespace pendlo {

TMMTimer::TMMTimer(std::shared_ptr<Clock> clock) : state_(std::make_shared<State>()) {
  state_->clock = clock ? std::move(clock) : std::make_shared<MonotonicClock>();
}

TMMTimer::~TMMTimer() {
  State& s = *state_;
  std::shared_ptr<Clock> clock;
  {
    std::unique_lock lock(s.mutex);
    s.enabled = false;  // directly, not through the setter
    s.armed = false;
    ++s.generation;
    s.quit = true;
    clock = s.clock;
  }
  s.changed.notify_all();
  clock->interrupt();
  if (thread_.joinable()) {
    if (OnTimerThread()) {
      // Destroyed from inside its own call: the thread cannot join itself. It
      // keeps the state alive and ends once the call returns.
      thread_.detach();
    } else {
      thread_.join();
    }
  }
}

void TMMTimer::Loaded() {
  std::unique_lock lock(state_->mutex);
  UpdateTimer(lock);
}

bool TMMTimer::Enabled() const {
  std::lock_guard lock(state_->mutex);
  return state_->enabled;
}

void TMMTimer::SetEnabled(bool value) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (value == s.enabled) return;
  s.enabled = value;
  UpdateTimer(lock);
  if (!value && !OnTimerThread()) {
    // No call may follow once disabling returns: wait out one in progress.
    s.changed.wait(lock, [&] { return !s.inCall; });
  }
}

std::uint32_t TMMTimer::Interval() const {
  std::lock_guard lock(state_->mutex);
  return state_->interval;
}

void TMMTimer::SetInterval(std::uint32_t ms) {
  std::unique_lock lock(state_->mutex);
  if (ms == state_->interval) return;
  state_->interval = ms;
  UpdateTimer(lock);
}

void TMMTimer::SetOnTimer(TimerEvent handler) {
  std::lock_guard lock(state_->mutex);
  state_->onTimer = std::move(handler);
}

void TMMTimer::SetOnError(ErrorEvent handler) {
  std::lock_guard lock(state_->mutex);
  state_->onError = std::move(handler);
}

void TMMTimer::StartTimer() {
  SetEnabled(true);
}

Clock& TMMTimer::clock() const {
  std::lock_guard lock(state_->mutex);
  return *state_->clock;
}

void TMMTimer::SetLookahead(Micros lookahead) {
  std::lock_guard lock(state_->mutex);
  if (!state_->enabled) state_->lookahead = std::max<Micros>(0, lookahead);
}

void TMMTimer::Hold() {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  ++s.holds;
  if (!OnTimerThread()) s.changed.wait(lock, [&] { return !s.inCall; });
}

void TMMTimer::Release() {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex);
    if (s.holds > 0) --s.holds;
  }
  s.changed.notify_all();
}

void TMMTimer::Rewind(Micros due, std::uint32_t ms) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  s.interval = ms;
  if (!s.armed) return;
  ++s.generation;
  s.nextDue = due;
  s.armed = ms != 0;
  s.changed.notify_all();
  s.clock->interrupt();
}

bool TMMTimer::Armed() const {
  std::lock_guard lock(state_->mutex);
  return state_->armed;
}

void TMMTimer::DoTimer() {
  TimerEvent handler;
  {
    std::lock_guard lock(state_->mutex);
    handler = state_->onTimer;
  }
  if (handler) handler(*this);
}

bool TMMTimer::OnTimerThread() const {
  return std::this_thread::get_id() == state_->threadId;
}

void TMMTimer::UpdateTimer(std::unique_lock<std::mutex>& lock) {
  State& s = *state_;
  // Kill whatever is armed...
  s.armed = false;
  ++s.generation;
  // ...and arm anew when there is something to call.
  if (s.enabled && s.interval != 0 && s.onTimer) {
    EnsureThread(lock);
    // A re-arm from inside a call keeps the grid: the new period starts at
    // that call's due time, so tuplet notes are exactly their length.
    const bool fromCall = s.inCall && OnTimerThread();
    const Micros start = fromCall ? s.currentDue.load() : s.clock->now();
    // Armed from outside (Start, a new tempo), the first call is due no
    // sooner than the lookahead: a click due sooner, after a short tuplet
    // note, could not reach the output in time and would sound late.
    s.nextDue =
        start + std::max(static_cast<Micros>(s.interval) * 1000, fromCall ? 0 : s.lookahead);
    s.armed = true;
  }
  s.changed.notify_all();
  s.clock->interrupt();
}

void TMMTimer::EnsureThread(std::unique_lock<std::mutex>&) {
  if (thread_.joinable()) return;
  try {
    thread_ = std::thread(&TMMTimer::Run, state_, this);
  } catch (const std::system_error&) {
    throw EMMTimerError();
  }
  state_->threadId = thread_.get_id();
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

void TMMTimer::Run(std::shared_ptr<State> state, TMMTimer* self) {
  RaiseThreadPriority();
  State& s = *state;
  std::unique_lock lock(s.mutex);
  while (!s.quit) {
    if (!s.armed || s.holds > 0) {
      s.changed.wait(lock, [&] { return s.quit || (s.armed && s.holds == 0); });
      continue;
    }
    const Micros due = s.nextDue;
    const Micros wake = due - s.lookahead;
    const std::uint64_t generation = s.generation;
    std::shared_ptr<Clock> clock = s.clock;
    lock.unlock();
    const bool reached = clock->waitUntil(wake);
    lock.lock();
    // Killed, re-armed, rewound or held meanwhile: start over.
    if (!reached || generation != s.generation || !s.armed || s.holds > 0) continue;

    s.inCall = true;
    s.currentDue.store(due);
    lock.unlock();
    // The call may destroy the timer: from here on only the state is used.
    try {
      self->DoTimer();
    } catch (...) {
      ErrorEvent report;
      {
        std::lock_guard guard(s.mutex);
        report = s.onError;
      }
      if (report) report(std::current_exception());
    }
    lock.lock();
    s.inCall = false;
    s.changed.notify_all();
    // The grid runs on from this call's due time. Periods that fell due while
    // the thread was late or a call ran long follow at once, one call each and
    // in order, so the handler can count every one of them.
    if (s.armed && generation == s.generation)
      s.nextDue = due + static_cast<Micros>(s.interval) * 1000;
  }
}

}  // namespace pendlo
