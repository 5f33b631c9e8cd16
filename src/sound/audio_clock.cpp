#include "sound/audio_clock.h"

#include <algorithm>
#include <cmath>

namespace pendlo {
namespace {

// Loop bandwidth of the DLL. Narrow enough to smooth the callback jitter of
// a sound server (a few ms), wide enough to settle within a few seconds.
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
// (crystals, resampling); the loop is kept within this fraction.
constexpr double kMaxRateError = 0.02;

}  // namespace

AudioClock::AudioClock(SteadySource steadySource)
    : steady_(steadySource),
      callbackLoop_(kBandwidthHz, 1e6 / 48000, kMaxRateError),
      positionLoop_(kPositionBandwidthHz, 1.0, kMaxRateError) {
  const auto s = static_cast<double>(steady_());
  rt_ = Mapping{s, s + 1e6, s, s + 1e6};
  mapping_.Store(rt_);
}

double AudioClock::ClockAt(const Mapping& m, double steady) {
  return m.c0 + (steady - m.t0) * (m.c1 - m.c0) / (m.t1 - m.t0);
}

Micros AudioClock::now() {
  const Mapping m = mapping_.Load();
  const auto t = static_cast<Micros>(std::floor(ClockAt(m, static_cast<double>(steady_()))));
  // Re-anchoring and loop corrections may bend the line slightly backwards
  // at a callback; the clock itself never runs back.
  Micros last = lastNow_.load(std::memory_order_relaxed);
  while (t > last && !lastNow_.compare_exchange_weak(last, t, std::memory_order_relaxed)) {
  }
  return std::max(t, last);
}

Micros AudioClock::SteadyAt(Micros t) const {
  const Mapping m = mapping_.Load();
  const double s = m.t0 + (static_cast<double>(t) - m.c0) * (m.t1 - m.t0) / (m.c1 - m.c0);
  return static_cast<Micros>(std::ceil(s));
}

Micros AudioClock::RenderedUpTo() {
  const Mapping m = mapping_.Load();
  if (m.renderedTo == 0) return now();
  return static_cast<Micros>(std::floor(m.renderedTo));
}

std::chrono::steady_clock::time_point AudioClock::steadyAt(Micros t) {
  return std::chrono::steady_clock::time_point(std::chrono::microseconds(SteadyAt(t)));
}

void AudioClock::BeginStream(int rate, Micros bufferedMicros) {
  rate_ = rate;
  buffered_ = bufferedMicros;
  needAnchor_ = true;
  nextFrame_ = 0;
}

void AudioClock::EndStream() {
  const auto s = static_cast<double>(steady_());
  const double c = ClockAt(rt_, s);
  rt_ = Mapping{s, s + 1e6, c, c + 1e6};
  mapping_.Store(rt_);
  rate_ = 0;
  needAnchor_ = false;
  PublishGrid();
  streaming_.store(false, std::memory_order_release);
}

void AudioClock::OnLost_RT(Micros at) {
  if (!streaming_.load(std::memory_order_relaxed)) return;
  const auto s = static_cast<double>(at);
  const double c = ClockAt(rt_, s);
  rt_ = Mapping{s, s + 1e6, c, c + 1e6};
  mapping_.Store(rt_);
  streaming_.store(false, std::memory_order_release);
}

void AudioClock::Join_RT(std::int64_t frame, double steady) {
  // Continue from the time the clock shows now, so it never jumps.
  anchorTime_ = static_cast<Micros>(std::ceil(ClockAt(rt_, steady)));
  anchorFrame_ = frame;
  needAnchor_ = false;
  PublishGrid();
  anchors_.fetch_add(1, std::memory_order_relaxed);
}

void AudioClock::Anchor_RT(int frames, Micros at) {
  const auto s = static_cast<double>(at);
  Join_RT(nextFrame_, s);
  // The loop starts over: a rate learnt before the stall says nothing of
  // the stream after it.
  callbackLoop_ = DelayLockedLoop(kBandwidthHz, 1e6 / rate_, kMaxRateError);
  const double span = frames * 1e6 / rate_;
  rt_ = Mapping{s, s + callbackLoop_.Rate() * frames, static_cast<double>(anchorTime_),
                static_cast<double>(anchorTime_) + span};
}

std::int64_t AudioClock::OnBuffer_RT(int frames, Micros at) {
  const std::int64_t first = nextFrame_;
  if (rate_ <= 0 || frames <= 0) return first;
  const double nominal = 1e6 / rate_;
  const double error = static_cast<double>(at) - rt_.t1;
  const double limit =
      std::max({kStallMicros, 2.5 * frames * nominal, static_cast<double>(buffered_)});
  if (needAnchor_ || std::abs(error) > limit || !streaming_.load(std::memory_order_relaxed)) {
    Anchor_RT(frames, at);
  } else {
    // t1 is the predicted time of the next callback; the loop's rate is the
    // steady time per frame, following the stream's true rate.
    // One odd callback (a late thread, then a quick catch-up) moves the loop
    // by at most a buffer's worth.
    const double e = std::clamp(error, -frames * nominal, frames * nominal);
    const double period = callbackLoop_.Rate();
    const double t0 = rt_.t1;
    const double t1 =
        rt_.t1 + callbackLoop_.Step(e, frames * period * 1e-6, frames) + period * frames;
    const double c0 =
        static_cast<double>(anchorTime_) + static_cast<double>(first - anchorFrame_) * 1e6 / rate_;
    rt_ = Mapping{t0, t1, c0, c0 + frames * nominal};
  }
  rt_.renderedTo = rt_.c1;
  mapping_.Store(rt_);
  streaming_.store(true, std::memory_order_release);
  nextFrame_ = first + frames;
  return first;
}

std::int64_t AudioClock::OnCycle_RT(std::int64_t frame, int frames, Micros at) {
  if (rate_ <= 0 || frames <= 0) return frame;
  const double nominal = 1e6 / rate_;
  const auto s = static_cast<double>(at);
  bool rejoin = needAnchor_ || !streaming_.load(std::memory_order_relaxed);
  if (!rejoin) {
    // Skipped cycles keep the timeline, and so does a cycle read twice (a
    // late callback and the one right after it); only frames that disagree
    // with the driver's clock mean a jump. A callback that ran late may date
    // its buffer up to a cycle off: that is not a jump.
    const double predicted =
        static_cast<double>(lastCycle_) + static_cast<double>(frame - lastFrame_) * graphPeriod_;
    rejoin = std::abs(s - predicted) > std::max(kGraphJumpMicros, 1.5 * frames * nominal);
  }
  if (rejoin) {
    Join_RT(frame, s);
    anchorSteady_ = at;
    graphPeriod_ = nominal;
  } else if (static_cast<double>(frame - anchorFrame_) >= kGraphRateSeconds * rate_) {
    graphPeriod_ = std::clamp(
        static_cast<double>(at - anchorSteady_) / static_cast<double>(frame - anchorFrame_),
        nominal * (1 - kMaxRateError), nominal * (1 + kMaxRateError));
  }
  const double c0 =
      static_cast<double>(anchorTime_) + static_cast<double>(frame - anchorFrame_) * nominal;
  rt_ = Mapping{s, s + graphPeriod_ * frames, c0, c0 + frames * nominal};
  rt_.renderedTo = rt_.c1;
  mapping_.Store(rt_);
  streaming_.store(true, std::memory_order_release);
  lastCycle_ = at;
  lastFrame_ = frame;
  nextFrame_ = frame + frames;
  return frame;
}

std::int64_t AudioClock::FrameOnGrid(const Grid& g, Micros t) {
  // Exact integer rounding: whole-millisecond steps land on whole frames.
  const __int128 num = static_cast<__int128>(t - g.anchorTime) * g.rate * 2 + 1'000'000;
  const __int128 den = 2'000'000;
  __int128 q = num / den;
  if (num % den != 0 && num < 0) --q;  // floor division
  return g.anchorFrame + static_cast<std::int64_t>(q);
}

Micros AudioClock::TimeOnGrid(const Grid& g, std::int64_t frame) {
  // The inverse of FrameOnGrid's rounding: frame f begins half a frame
  // before its own moment.
  const __int128 num = static_cast<__int128>(2 * (frame - g.anchorFrame) - 1) * 500'000;
  const __int128 den = g.rate;
  __int128 q = num / den;
  if (num % den != 0 && num > 0) ++q;  // ceiling division
  return g.anchorTime + static_cast<Micros>(q);
}

Micros AudioClock::TimeAt_RT(std::int64_t frame) const {
  if (rate_ <= 0) return 0;
  return TimeOnGrid(Grid{anchorTime_, anchorFrame_, rate_}, frame);
}

bool AudioClock::TimeAt(std::int64_t frame, Micros& t) const {
  const Grid g = grid_.Load();
  if (g.rate <= 0) return false;
  t = TimeOnGrid(g, frame);
  return true;
}

std::int64_t AudioClock::FrameAt_RT(Micros t) const {
  if (rate_ <= 0) return nextFrame_;
  return FrameOnGrid(Grid{anchorTime_, anchorFrame_, rate_}, t);
}

bool AudioClock::FrameAt(Micros t, std::int64_t& frame) const {
  const Grid g = grid_.Load();
  if (g.rate <= 0) return false;
  frame = FrameOnGrid(g, t);
  return true;
}

void AudioClock::OnPosition_RT(double frame, Micros at) {
  if (rate_ <= 0) return;
  const auto s = static_cast<double>(at);
  const double nominal = 1e6 / rate_;
  if (needAnchor_ || !streaming_.load(std::memory_order_relaxed)) {
    Join_RT(std::llround(frame), s);
    positionLoop_.Reset();
    rt_ = Mapping{s, s + 1e6, static_cast<double>(anchorTime_),
                  static_cast<double>(anchorTime_) + 1e6};
  } else {
    const double measured =
        static_cast<double>(anchorTime_) + (frame - static_cast<double>(anchorFrame_)) * nominal;
    const double predicted = ClockAt(rt_, s);
    const double error = measured - predicted;
    if (std::abs(error) > kPositionJumpMicros) {
      // Far off (the process was stopped, the server stalled): follow the
      // stream at once; the grid stays, the frames kept their moments.
      positionLoop_.Reset();
      rt_ = Mapping{s, s + 1e6, measured, measured + 1e6};
    } else {
      // The line moves part of the way to the report and its slope follows
      // the stream's rate against the steady clock.
      const double dt = std::clamp(s - lastReport_, 1000.0, 1e6);
      const double e = std::clamp(error, -kPositionStepMicros, kPositionStepMicros);
      const double c0 = predicted + positionLoop_.Step(e, dt * 1e-6, dt);
      rt_ = Mapping{s, s + 1e6, c0, c0 + 1e6 * positionLoop_.Rate()};
    }
  }
  lastReport_ = s;
  rt_.renderedTo = 0;
  mapping_.Store(rt_);
  streaming_.store(true, std::memory_order_release);
}

}  // namespace pendlo
