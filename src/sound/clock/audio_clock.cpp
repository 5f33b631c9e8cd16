#include "sound/clock/audio_clock.h"

#include <algorithm>
#include <cmath>

namespace pendlo::sound::clock {

AudioClock::AudioClock(SteadySource steadySource) : steady_(steadySource) {
  const auto s = static_cast<double>(steady_());
  rt_ = Line{s, s + 1e6, s, s + 1e6};
  mapping_.Store(rt_);
}

double AudioClock::ClockAt(const Line& m, double steady) {
  return m.c0 + (steady - m.t0) * (m.c1 - m.c0) / (m.t1 - m.t0);
}

Micros AudioClock::now() {
  const Line m = mapping_.Load();
  const auto t = static_cast<Micros>(std::floor(ClockAt(m, static_cast<double>(steady_()))));
  // Re-anchoring and loop corrections may bend the line slightly backwards
  // at a callback; the clock itself never runs back.
  Micros last = lastNow_.load(std::memory_order_relaxed);
  while (t > last && !lastNow_.compare_exchange_weak(last, t, std::memory_order_relaxed)) {
  }
  return std::max(t, last);
}

Micros AudioClock::SteadyAt(Micros t) const {
  const Line m = mapping_.Load();
  const double s = m.t0 + (static_cast<double>(t) - m.c0) * (m.t1 - m.t0) / (m.c1 - m.c0);
  return static_cast<Micros>(std::ceil(s));
}

Micros AudioClock::RenderedUpTo() {
  const Line m = mapping_.Load();
  if (m.renderedTo == 0) return now();
  return static_cast<Micros>(std::floor(m.renderedTo));
}

std::chrono::steady_clock::time_point AudioClock::steadyAt(Micros t) {
  return std::chrono::steady_clock::time_point(std::chrono::microseconds(SteadyAt(t)));
}

void AudioClock::BeginStream(int rate) {
  rate_ = rate;
  needJoin_ = true;
}

void AudioClock::EndStream() {
  const auto s = static_cast<double>(steady_());
  const double c = ClockAt(rt_, s);
  rt_ = Line{s, s + 1e6, c, c + 1e6};
  mapping_.Store(rt_);
  rate_ = 0;
  needJoin_ = false;
  PublishGrid();
  streaming_.store(false, std::memory_order_release);
}

void AudioClock::OnLost_RT(Micros at) {
  if (!streaming_.load(std::memory_order_relaxed)) return;
  const auto s = static_cast<double>(at);
  const double c = ClockAt(rt_, s);
  rt_ = Line{s, s + 1e6, c, c + 1e6};
  mapping_.Store(rt_);
  streaming_.store(false, std::memory_order_release);
}

void AudioClock::Join_RT(std::int64_t frame, double steady) {
  // Continue from the time the clock shows now, so it never jumps.
  anchorTime_ = static_cast<Micros>(std::ceil(ClockAt(rt_, steady)));
  anchorFrame_ = frame;
  needJoin_ = false;
  PublishGrid();
  anchors_.fetch_add(1, std::memory_order_relaxed);
}

double AudioClock::TimeOfFrame_RT(double frame) const {
  return static_cast<double>(anchorTime_) +
         (frame - static_cast<double>(anchorFrame_)) * (1e6 / rate_);
}

void AudioClock::Follow_RT(const Line& line) {
  rt_ = line;
  mapping_.Store(rt_);
  streaming_.store(true, std::memory_order_release);
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

std::int64_t AudioClock::FrameAt_RT(Micros t) const {
  if (rate_ <= 0) return anchorFrame_;
  return FrameOnGrid(Grid{anchorTime_, anchorFrame_, rate_}, t);
}

Micros AudioClock::TimeAt_RT(std::int64_t frame) const {
  if (rate_ <= 0) return 0;
  return TimeOnGrid(Grid{anchorTime_, anchorFrame_, rate_}, frame);
}

bool AudioClock::FrameAt(Micros t, std::int64_t& frame) const {
  const Grid g = grid_.Load();
  if (g.rate <= 0) return false;
  frame = FrameOnGrid(g, t);
  return true;
}

bool AudioClock::TimeAt(std::int64_t frame, Micros& t) const {
  const Grid g = grid_.Load();
  if (g.rate <= 0) return false;
  t = TimeOnGrid(g, frame);
  return true;
}

}  // namespace pendlo::sound::clock
