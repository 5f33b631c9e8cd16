#include "timer/clock.h"

#include <algorithm>

namespace pendlo {

Micros steadyMicros(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

Micros steadyNowMicros() {
  return steadyMicros(std::chrono::steady_clock::now());
}

bool SteadyMappedClock::waitUntil(Micros deadline) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (interrupted_) {
      interrupted_ = false;
      return false;
    }
    if (now() >= deadline) return true;
    const std::uint64_t seen = wakes_;
    // A mapping that says "already due" while now() disagrees would spin; a
    // short nap lets now() catch up instead.
    const auto floor = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    cv_.wait_until(lock, std::max(steadyAt(deadline), floor),
                   [&] { return interrupted_ || wakes_ != seen; });
  }
}

void SteadyMappedClock::interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  cv_.notify_all();
}

void SteadyMappedClock::wakeWaiters() {
  {
    std::lock_guard lock(mutex_);
    ++wakes_;
  }
  cv_.notify_all();
}

Micros MonotonicClock::now() {
  return steadyNowMicros();
}

std::chrono::steady_clock::time_point MonotonicClock::steadyAt(Micros t) {
  return std::chrono::steady_clock::time_point(std::chrono::microseconds(t));
}

}  // namespace pendlo
