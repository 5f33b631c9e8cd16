// A second-order delay-locked loop: follows a line (a phase that advances
// at a rate) through measurements that each carry some jitter. Each step
// moves the predicted phase part of the way to the measurement and lets the
// rate follow the error that persists. The bandwidth sets how much of a
// measurement's jitter gets through against how fast the loop settles.
// A value type: each follower of a stream's timeline keeps its own.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pendlo::sound::clock {

class DelayLockedLoop {
 public:
  // `rate` starts at `nominal` and never leaves nominal * (1 ± maxError).
  DelayLockedLoop(double bandwidthHz, double nominal, double maxError)
      : bandwidthHz_(bandwidthHz),
        nominal_(nominal),
        lowest_(nominal * (1 - maxError)),
        highest_(nominal * (1 + maxError)),
        rate_(nominal) {}

  // Starts over at `rate` (the nominal one by default): what was learnt
  // before a stall says nothing of the stream after it.
  void Reset() { rate_ = nominal_; }
  void Reset(double rate) { rate_ = std::clamp(rate, lowest_, highest_); }

  // One measurement: `error` is the measured phase minus the predicted
  // one, `seconds` the time the step spans, `units` its length in the
  // rate's units (frames, microseconds). Returns the correction to add to
  // the predicted phase; the rate moves for the next step.
  double Step(double error, double seconds, double units) {
    const double omega = 2 * std::numbers::pi * bandwidthHz_ * seconds;
    rate_ = std::clamp(rate_ + omega * omega * error / units, lowest_, highest_);
    return std::sqrt(2.0) * omega * error;
  }

  double Rate() const { return rate_; }

 private:
  double bandwidthHz_;
  double nominal_;
  double lowest_;
  double highest_;
  double rate_;
};

}  // namespace pendlo::sound::clock
