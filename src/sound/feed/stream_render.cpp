#include "sound/feed/stream_render.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "sound/link/sound_link.h"

namespace pendlo::sound::feed {
namespace {

// How long a write into a server's queue may take, beyond its margin.
constexpr Micros kQueueWriteMicros = 2000;

}  // namespace

StreamRender::StreamRender(FeedOptions options, clock::AudioClock& clock, ClickMixer& mixer,
                           FeedCounters& counters)
    : options_(options), clock_(clock), mixer_(mixer), counters_(counters) {}

void StreamRender::Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
                         Micros knownLatency) {
  graphQuantum_ = 0;
  channels_ = format.channels;
  rate_ = format.rate;
  queue_ = queue;
  callbacks_.Begin(options_.serverBufferMicros);
  positions_.Begin();
  // A graph's output sets its lookahead from its first cycle (Cycle_RT).
  lookahead_ = options_.wakeMarginMicros + (queue ? options_.queueMarginMicros + kQueueWriteMicros
                                                  : options_.callbackAheadMicros);
  // Not visible through SDL: PulseAudio reports three quarters of the
  // stream's target buffer for such streams, plus about 1 ms in the sink.
  const double target = options_.serverBufferMicros > 0
                            ? static_cast<double>(options_.serverBufferMicros)
                            : frames * 1e6 / format.rate;
  deviceMicros_ =
      knownLatency > 0 ? knownLatency : static_cast<Micros>(std::llround(0.75 * target)) + 1000;
  lost_ = false;
}

void StreamRender::End() {
  queue_ = nullptr;
  rate_ = 0;
}

Micros StreamRender::DeviceMicros() const {
  // A queue knows its sink's latency as it changes.
  const output::ClickQueue* queue = queue_.load(std::memory_order_relaxed);
  return queue ? queue->LatencyMicros() : deviceMicros_.load();
}

clips::StreamFormat StreamRender::Format() const {
  return clips::StreamFormat{rate_.load(), channels_.load()};
}

bool StreamRender::Position_RT(double frame, Micros at) {
  return positions_.OnPosition_RT(frame, at);
}

void StreamRender::Underrun_RT() {
  positions_.OnUnderrun_RT();
}

void StreamRender::Resumed_RT(double frame, Micros at) {
  positions_.OnResume_RT(frame, at);
}

void StreamRender::Render_RT(float* out, int frames, Micros at) {
  counters_.NoteBuffer_RT();
  const std::uint64_t anchors = clock_.Anchors();
  const std::int64_t first = callbacks_.OnBuffer_RT(frames, at);
  if (clock_.Anchors() != anchors) mixer_.SkipBefore_RT(first, clock_);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, clock_);
}

void StreamRender::Cycle_RT(float* out, int frames, const output::GraphCycle& cycle) {
  counters_.NoteBuffer_RT();
  const std::uint64_t anchors = clock_.Anchors();
  const std::int64_t first = cycles_.OnCycle_RT(cycle.frame, frames, cycle.at);
  // After a new timeline the clicks due meanwhile are stale: dropped, not
  // started in a heap. After cycles that passed us by, only those more than
  // kLateClickGraceMicros late are; the rest start at once.
  if (clock_.Anchors() != anchors) {
    mixer_.SkipBefore_RT(first, clock_);
  } else if (first != graphNext_) {
    counters_.NotePassedBy_RT();
    const int rate = rate_.load(std::memory_order_relaxed);
    mixer_.SkipBefore_RT(first - link::kLateClickGraceMicros * rate / 1'000'000, clock_);
  }
  graphNext_ = first + frames;
  // The lookahead covers one cycle, whatever size the server gives; it
  // moves only when the cycle really changes, not when a resampled stream's
  // cycles differ by a frame.
  if (std::abs(frames - graphQuantum_) > graphQuantum_ / 8) {
    graphQuantum_ = frames;
    const int rate = rate_.load(std::memory_order_relaxed);
    lookahead_.store(options_.wakeMarginMicros + static_cast<Micros>(frames * 1'000'000LL / rate),
                     std::memory_order_relaxed);
  }
  deviceMicros_.store(cycle.delayMicros, std::memory_order_relaxed);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, clock_);
}

void StreamRender::Lost_RT(float* out, int frames, Micros at) {
  std::memset(
      out, 0,
      static_cast<std::size_t>(frames) * channels_.load(std::memory_order_relaxed) * sizeof(float));
  clock_.OnLost_RT(at);
  mixer_.Discard_RT();
  lost_.store(true, std::memory_order_release);
  // The supervisor reopens the output at its next look.
}

}  // namespace pendlo::sound::feed
