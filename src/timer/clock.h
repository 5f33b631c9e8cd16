// The time base a TMMTimer runs on. While an audio stream is open the
// stream's frame counter is the clock, so beats follow what is heard; the
// monotonic clock stands in otherwise. Tests use a fake clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace pendlo {

using Micros = std::int64_t;  // microseconds on one clock's own timeline

class Clock {
 public:
  virtual ~Clock() = default;

  // The time now. Any thread; never blocks for long.
  virtual Micros now() = 0;

  // Blocks until now() >= deadline, or until interrupt() is called. An
  // interrupt() that arrives while nobody waits ends the next wait at once.
  // Returns true when the deadline was reached.
  virtual bool waitUntil(Micros deadline) = 0;

  // Ends the current (or next) waitUntil early. Any thread.
  virtual void interrupt() = 0;
};

// A clock that waits on a condition variable until the steady-clock moment it
// expects its own deadline to fall on, then checks now() again. Subclasses
// give now() and that estimate; wakeWaiters() lets a clock whose time jumps
// (a fake clock) re-check at once.
class SteadyMappedClock : public Clock {
 public:
  bool waitUntil(Micros deadline) override;
  void interrupt() override;

 protected:
  // Best estimate of the steady-clock moment at which now() reaches t.
  virtual std::chrono::steady_clock::time_point steadyAt(Micros t) = 0;
  void wakeWaiters();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool interrupted_ = false;
  std::uint64_t wakes_ = 0;
};

// CLOCK_MONOTONIC in microseconds since an arbitrary start.
class MonotonicClock final : public SteadyMappedClock {
 public:
  Micros now() override;

 protected:
  std::chrono::steady_clock::time_point steadyAt(Micros t) override;
};

// Microseconds of std::chrono::steady_clock, the base every clock maps to.
Micros steadyMicros(std::chrono::steady_clock::time_point t);
Micros steadyNowMicros();

}  // namespace pendlo
