// A clock that moves only when the test moves it, and lets the test see
// which deadline the timer thread is waiting for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "timer/clock.h"

namespace pendlo::testing {

class FakeClock final : public Clock {
 public:
  Micros now() override;
  bool waitUntil(Micros deadline) override;
  void interrupt() override;

  // Moves the time to t (never backwards) and wakes a waiter that is due.
  void set(Micros t);
  void advance(Micros d);

  // Blocks until a thread waits on this clock; returns its deadline, or
  // nullopt when none waits within the timeout.
  std::optional<Micros> awaitWaiter(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Runs the timer to its next deadline and waits until it waits again, so
  // the call at that deadline has finished. Returns the deadline.
  std::optional<Micros> step();
  // step() n times; the deadlines reached (fewer when the timer stopped).
  std::vector<Micros> steps(int n);

  // True once the timer waits for `deadline` (a re-armed timer may still
  // wait for its old one for a moment); false after about 2 s.
  bool awaitDeadline(Micros deadline);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  Micros now_ = 1'000'000;
  bool waiting_ = false;
  Micros deadline_ = 0;
  bool interrupted_ = false;
};

// The spacing of successive times, such as the deadlines steps() returns.
std::vector<Micros> Gaps(const std::vector<Micros>& times);

}  // namespace pendlo::testing
