#include "sound/audio_clock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pendlo {
namespace {

// Loop bandwidth of the DLL. Narrow enough to smooth the callback jitter of
// a sound server (a few ms), wide enough to settle within a few seconds.
constexpr double kBandwidthHz = 0.5;
// A callback further than this from its predicted time (or than 2.5 buffers,
// or than the server holds) means the stream stalled: the clock re-joins it
// instead of dragging the loop through the jump.
constexpr double kStallMicros = 20000;
// The stream's rate may differ from the monotonic clock's by a little
// (crystals, resampling); the loop is kept within this fraction.
constexpr double kMaxRateError = 0.02;

}  // namespace

AudioClock::AudioClock(SteadySource steadySource) : steady_(steadySource) {
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

void AudioClock::Anchor_RT(int frames, Micros at) {
  const auto s = static_cast<double>(at);
  // Continue from the time the clock shows now, so it never jumps.
  anchorTime_ = static_cast<Micros>(std::ceil(ClockAt(rt_, s)));
  anchorFrame_ = nextFrame_;
  // The loop starts over: a rate learnt before the stall says nothing of
  // the stream after it.
  period_ = 1e6 / rate_;
  needAnchor_ = false;
  const double span = frames * 1e6 / rate_;
  rt_ = Mapping{s, s + period_ * frames, static_cast<double>(anchorTime_),
                static_cast<double>(anchorTime_) + span};
  anchors_.fetch_add(1, std::memory_order_relaxed);
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
    // Second-order DLL: t1 is the predicted time of the next callback, the
    // period per frame follows the stream's true rate.
    const double omega = 2 * std::numbers::pi * kBandwidthHz * frames * period_ * 1e-6;
    const double b = std::sqrt(2.0) * omega;
    const double c = omega * omega;
    // One odd callback (a late thread, then a quick catch-up) moves the loop
    // by at most a buffer's worth.
    const double e = std::clamp(error, -frames * nominal, frames * nominal);
    const double t0 = rt_.t1;
    const double t1 = rt_.t1 + b * e + period_ * frames;
    period_ = std::clamp(period_ + c * e / frames, nominal * (1 - kMaxRateError),
                         nominal * (1 + kMaxRateError));
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

std::int64_t AudioClock::FrameAt_RT(Micros t) const {
  if (rate_ <= 0) return nextFrame_;
  // Exact integer rounding: whole-millisecond steps land on whole frames.
  const __int128 num = static_cast<__int128>(t - anchorTime_) * rate_ * 2 + 1'000'000;
  const __int128 den = 2'000'000;
  __int128 q = num / den;
  if (num % den != 0 && num < 0) --q;  // floor division
  return anchorFrame_ + static_cast<std::int64_t>(q);
}

}  // namespace pendlo
