// What the player tells of its output's failures: each failure once, as a
// message the window takes when it looks, and a call that it has news when
// the failure was found without the window asking (an output lost while
// playing), and one when the failure being told is over (the output plays
// again). Also the name of the output that plays, for the figures.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "timer/clock.h"

namespace pendlo::sound::player {

class FailureReport {
 public:
  using SteadySource = Micros (*)();  // steady-clock microseconds now
  // `steady` times how long a reopened output has played (Playing).
  explicit FailureReport(SteadySource steady = &steadyNowMicros) : steady_(steady) {}

  // Any thread: `onFailure` is called, on the thread that found it, when a
  // failure is found without a call from the window (NotifyIfPending).
  void SetOnFailure(std::function<void()> onFailure);
  // Any thread: `onRecovered` is called, on the supervisor's thread and
  // never under the report's lock, when the failure being told is over:
  // Opened ends it, or Playing once the output has settled.
  void SetOnRecovered(std::function<void()> onRecovered);

  // Any thread: `message` is the failure to tell, unless one is being told
  // already (repeated failed attempts add nothing). True when it is news.
  bool Report(std::string message);
  // Any thread: the message not yet taken, once; "" otherwise.
  std::string Take();
  // Supervisor: calls onFailure when a message waits to be taken. Never
  // under the report's lock.
  void NotifyIfPending();

  // Supervisor: `output` opened. A first open ends the failure being told
  // and drops its message; a reopen after a loss ends it only once the
  // stream has played for a while (Settled), because a server coming back
  // may drop a new stream once more while it sets itself up: still the same
  // outage, told once.
  void Opened(const std::string& output, bool reconnecting);
  // Supervisor: the output closed.
  void Closed();
  // Supervisor, while an output plays without loss: once it has played long
  // enough since it was reopened, the next failure is news again.
  void Playing();

  // Any thread: the output that plays; "" when none.
  std::string Output() const;

 private:
  // Under the lock: the failure being told is over; what to call, if anything.
  std::function<void()> Recovered();

  const SteadySource steady_;
  mutable std::mutex mutex_;  // never held across a call into another module
  bool failing_ = false;
  std::string pending_;
  std::string output_;
  std::function<void()> onFailure_;
  std::function<void()> onRecovered_;
  Micros settleUntil_ = 0;
};

}  // namespace pendlo::sound::player
