// What a stopped beat's output should be, from how long the beat has been
// stopped: playing on through a short pause (so the next Start is quick),
// then paused (its stream silent and its sink free to sleep), then, for an
// output that allows it, closed until Start. Plain values on steady-clock
// microseconds; the player keeps it under its own lock.
#pragma once

#include <optional>

#include "timer/clock.h"

namespace pendlo::sound::player {

enum class OutputAtRest { kPlaying, kPaused, kReleased };

class RestPlan {
 public:
  // The stream pauses after `pauseAfter` at rest; an output that allows it
  // is closed after `releaseAfter` (0: never).
  RestPlan(Micros pauseAfter, Micros releaseAfter)
      : pauseAfter_(pauseAfter), releaseAfter_(releaseAfter) {}

  // The beat stopped (true) or is about to start (false) at steady time `now`.
  void SetResting(bool resting, Micros now);
  bool Resting() const { return resting_; }

  // What the output should be at steady time `now`; `releasable`: it may be
  // closed at rest (AudioBackend::ReleasableAtRest).
  OutputAtRest Wanted(Micros now, bool releasable) const;
  // The steady time after `now` at which Wanted changes by itself; nullopt
  // when it stays as it is until the next SetResting.
  std::optional<Micros> NextChange(Micros now, bool releasable) const;

 private:
  Micros pauseAfter_;
  Micros releaseAfter_;
  bool resting_ = false;
  Micros since_ = 0;  // steady time of the last SetResting
};

}  // namespace pendlo::sound::player
