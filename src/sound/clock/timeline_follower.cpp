#include "sound/clock/timeline_follower.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pendlo::sound::clock {
namespace {

// Loop bandwidth for callbacks. Narrow enough to smooth the callback jitter
// of a sound server (a few ms), wide enough to settle within a few seconds.
constexpr double kBandwidthHz = 0.5;
// Position reports come a few times a second and each is off by up to a
// block of the sink's and a late reply: a narrower loop, well below the
// report rate, that no single report moves by more than kPositionStepMicros;
// only a report further off than kPositionJumpMicros (the process was
// stopped) makes the clock follow at once.
constexpr double kPositionBandwidthHz = 0.1;
constexpr double kPositionStepMicros = 10000;
constexpr double kPositionJumpMicros = 60000;
// A callback further than this from its predicted time (or than 2.5 buffers,
// or than the server holds) means the stream stalled: the clock re-joins it
// instead of dragging the loop through the jump.
constexpr double kStallMicros = 20000;
// A graph-paced stream dates its cycles by the driver's own smoothed clock:
// a frame count further than this from where that clock puts it has jumped.
constexpr double kGraphJumpMicros = 2000;
// The graph's rate against the monotonic clock is measured over at least
// this many seconds of frames before it replaces the nominal rate.
constexpr double kGraphRateSeconds = 1.0;
// The stream's rate may differ from the monotonic clock's by a little
// (crystals, resampling); the loops are kept within this fraction.
constexpr double kMaxRateError = 0.02;

}  // namespace

CallbackFollower::CallbackFollower(AudioClock& clock)
    : clock_(clock), loop_(kBandwidthHz, 1e6 / 48000, kMaxRateError) {}

void CallbackFollower::Begin(Micros buffered) {
  buffered_ = buffered;
  nextFrame_ = 0;
}

std::int64_t CallbackFollower::OnBuffer_RT(int frames, Micros at) {
  const std::int64_t first = nextFrame_;
  const int rate = clock_.Rate_RT();
  if (rate <= 0 || frames <= 0) return first;
  const double nominal = 1e6 / rate;
  const AudioClock::Line& line = clock_.Line_RT();
  const double error = static_cast<double>(at) - line.t1;
  const double limit =
      std::max({kStallMicros, 2.5 * frames * nominal, static_cast<double>(buffered_)});
  AudioClock::Line next;
  if (clock_.MustJoin_RT() || std::abs(error) > limit) {
    const auto s = static_cast<double>(at);
    clock_.Join_RT(first, s);
    // The loop starts over: a rate learnt before the stall says nothing of
    // the stream after it.
    loop_ = DelayLockedLoop(kBandwidthHz, nominal, kMaxRateError);
    const double c0 = clock_.TimeOfFrame_RT(static_cast<double>(first));
    next = AudioClock::Line{s, s + loop_.Rate() * frames, c0, c0 + frames * 1e6 / rate};
  } else {
    // t1 is the predicted time of the next callback; the loop's rate is the
    // steady time per frame, following the stream's true rate.
    // One odd callback (a late thread, then a quick catch-up) moves the loop
    // by at most a buffer's worth.
    const double e = std::clamp(error, -frames * nominal, frames * nominal);
    const double period = loop_.Rate();
    const double t0 = line.t1;
    const double t1 = line.t1 + loop_.Step(e, frames * period * 1e-6, frames) + period * frames;
    const double c0 = clock_.TimeOfFrame_RT(static_cast<double>(first));
    next = AudioClock::Line{t0, t1, c0, c0 + frames * nominal};
  }
  next.renderedTo = next.c1;
  clock_.Follow_RT(next);
  nextFrame_ = first + frames;
  return first;
}

std::int64_t GraphFollower::OnCycle_RT(std::int64_t frame, int frames, Micros at) {
  const int rate = clock_.Rate_RT();
  if (rate <= 0 || frames <= 0) return frame;
  const double nominal = 1e6 / rate;
  const auto s = static_cast<double>(at);
  bool rejoin = clock_.MustJoin_RT();
  if (!rejoin) {
    // Skipped cycles keep the timeline, and so does a cycle read twice (a
    // late callback and the one right after it); only frames that disagree
    // with the driver's clock mean a jump. A callback that ran late may date
    // its buffer up to a cycle off: that is not a jump.
    const double predicted =
        static_cast<double>(lastCycle_) + static_cast<double>(frame - lastFrame_) * period_;
    rejoin = std::abs(s - predicted) > std::max(kGraphJumpMicros, 1.5 * frames * nominal);
  }
  const std::int64_t since = frame - clock_.JoinFrame_RT();
  if (rejoin) {
    clock_.Join_RT(frame, s);
    joinSteady_ = at;
    period_ = nominal;
  } else if (static_cast<double>(since) >= kGraphRateSeconds * rate) {
    period_ = std::clamp(static_cast<double>(at - joinSteady_) / static_cast<double>(since),
                         nominal * (1 - kMaxRateError), nominal * (1 + kMaxRateError));
  }
  const double c0 = clock_.TimeOfFrame_RT(static_cast<double>(frame));
  AudioClock::Line next{s, s + period_ * frames, c0, c0 + frames * nominal};
  next.renderedTo = next.c1;
  clock_.Follow_RT(next);
  lastCycle_ = at;
  lastFrame_ = frame;
  return frame;
}

PositionFollower::PositionFollower(AudioClock& clock)
    : clock_(clock), loop_(kPositionBandwidthHz, 1.0, kMaxRateError) {}

AudioClock::Line PositionFollower::Join(double frame, double s) {
  // The grid starts on a whole frame: the date moves with it, so that a
  // frame heard between two samples does not move the grid by a fraction.
  const std::int64_t whole = std::llround(frame);
  s += MicrosOf(static_cast<double>(whole) - frame);
  clock_.Join_RT(whole, s);
  loop_.Reset();
  const double c0 = clock_.TimeOfFrame_RT(static_cast<double>(whole));
  return AudioClock::Line{s, s + 1e6, c0, c0 + 1e6};
}

bool PositionFollower::TakeRejoinReport(double frame, double s) {
  // Reports asked for back to back, a few milliseconds in all: against the
  // stream's rate, their leads differ only by how late each was dated.
  rejoinLeads_[rejoinTaken_] = MicrosOf(frame) - s;
  rejoinFrame_ = frame;
  if (++rejoinTaken_ < kRejoinReports) return false;
  rejoinTaken_ = 0;
  return true;
}

AudioClock::Line PositionFollower::JoinAtMiddleLead() {
  // The middle, not the least late: the line before the stall followed the
  // reports' middle, and a join on their edge put the grid after the stall a
  // sample or two from the one before.
  std::array<double, kRejoinReports> leads = rejoinLeads_;
  std::sort(leads.begin(), leads.end());
  const double lead = (leads[kRejoinReports / 2 - 1] + leads[kRejoinReports / 2]) / 2;
  return Join(rejoinFrame_, MicrosOf(rejoinFrame_) - lead);
}

void PositionFollower::OnResume_RT(double frame, Micros at) {
  if (clock_.Rate_RT() <= 0) return;
  const auto s = static_cast<double>(at);
  ranDry_ = false;
  rejoinTaken_ = 0;
  lastReport_ = s;
  AudioClock::Line next = Join(frame, s);
  next.renderedTo = 0;
  clock_.Follow_RT(next);
}

bool PositionFollower::OnPosition_RT(double frame, Micros at) {
  if (clock_.Rate_RT() <= 0) return false;
  const auto s = static_cast<double>(at);
  const bool ranDry = std::exchange(ranDry_, false);
  AudioClock::Line next;
  if (rejoinTaken_ > 0) {
    if (!TakeRejoinReport(frame, s)) return true;
    next = JoinAtMiddleLead();
  } else if (clock_.MustJoin_RT()) {
    next = Join(frame, s);
  } else {
    const double measured = clock_.TimeOfFrame_RT(frame);
    const double predicted = clock_.ClockAt_RT(s);
    const double error = measured - predicted;
    if (std::abs(error) > kPositionJumpMicros && ranDry) {
      // The stream ran dry and its frames moved: the clock re-joins it from
      // its present time, on a new grid, from a few reports; until then it
      // shows the steady clock's time and places no click.
      clock_.OnLost_RT(at);
      TakeRejoinReport(frame, s);
      lastReport_ = s;
      return true;
    } else if (std::abs(error) > kPositionJumpMicros) {
      // Far off (the process was stopped, the server stalled): follow the
      // stream at once; the grid stays, the frames kept their moments.
      loop_.Reset();
      next = AudioClock::Line{s, s + 1e6, measured, measured + 1e6};
    } else {
      // The line moves part of the way to the report and its slope follows
      // the stream's rate against the steady clock. A report right after the
      // queue ran dry is as far off as any (the read index moves a sink's
      // block at a time): taken as a new grid, it would move every later
      // click by up to a block for good.
      const double dt = std::clamp(s - lastReport_, 1000.0, 1e6);
      const double e = std::clamp(error, -kPositionStepMicros, kPositionStepMicros);
      const double c0 = predicted + loop_.Step(e, dt * 1e-6, dt);
      next = AudioClock::Line{s, s + 1e6, c0, c0 + 1e6 * loop_.Rate()};
    }
  }
  lastReport_ = s;
  next.renderedTo = 0;
  clock_.Follow_RT(next);
  return false;
}

}  // namespace pendlo::sound::clock
