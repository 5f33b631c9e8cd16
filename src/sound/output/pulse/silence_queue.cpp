#include "sound/output/pulse/silence_queue.h"

#include <algorithm>

namespace pendlo::sound::output::pulse {
namespace {

// Silence sent on with every click written into the queue (see WriteAt).
constexpr Micros kGuardMicros = 100'000;
// Silence is written from here, never into the library's own buffers: the
// library copies it, so the memory it shares with the server is written by
// the library alone, on whichever thread (a write into a buffer it handed
// out, made on one thread and then on another, is a race to a checker that
// cannot see the main loop's lock, and checking it again at every refill
// held that lock for hundreds of milliseconds under ThreadSanitizer).
constexpr std::size_t kSilenceFrames = 8192;
constexpr float kSilence[kSilenceFrames * kChannels] = {};

}  // namespace

void SilenceQueue::Begin(const PulseLibrary* pa, int rate) {
  pa_ = pa;
  rate_ = rate;
  end_ = 0;
  readFrame_ = 0;
  readAt_ = 0;
  held_ = false;
  guardFrames_ = kGuardMicros * rate / 1'000'000;
  guarded_.reserve(static_cast<std::size_t>(guardFrames_) * kChannels);
}

void SilenceQueue::Read(double frame, Micros at) {
  readFrame_ = frame;
  readAt_ = at;
  held_ = false;
}

void SilenceQueue::WriteAt(pa_stream* stream, std::int64_t first, const float* data, int frames) {
  // A write into the queue leaves the server's write index at its end, and
  // the sink reads only up to there until the next write puts it back at
  // the queue's end. On a busy machine the server can take tens of
  // milliseconds between the two, so the click goes with 0.1 s of the
  // silence after it: ending only a little ahead of the sink, it would let
  // the stream run dry in that gap, shifting every later click.
  const std::int64_t end = std::min(end_, first + std::max<std::int64_t>(frames, guardFrames_));
  const float* out = data;
  std::int64_t count = frames;
  if (end > first + frames) {
    count = end - first;
    guarded_.assign(static_cast<std::size_t>(count) * kChannels, 0.0F);
    std::copy_n(data, static_cast<std::size_t>(frames) * kChannels, guarded_.begin());
    out = guarded_.data();
  }
  pa_->StreamWrite(stream, out, static_cast<std::size_t>(count) * kFrameBytes, nullptr,
                   first * kFrameBytes, PA_SEEK_ABSOLUTE);
  if (first + count >= end_) {
    end_ = first + count;
    return;
  }
  // The server counts its queue up to the last write: one silent frame at
  // the end puts the write index back there.
  pa_->StreamWrite(stream, kSilence, kFrameBytes, nullptr, end_ * kFrameBytes, PA_SEEK_ABSOLUTE);
  ++end_;
}

double SilenceQueue::Reading() const {
  if (readAt_ == 0 || held_) return readFrame_;
  return readFrame_ + (steadyNowMicros() - readAt_) * 1e-6 * rate_;
}

void SilenceQueue::Refill(pa_stream* stream) {
  std::int64_t missing =
      static_cast<std::int64_t>(Reading()) + kQueueMicros * rate_ / 1'000'000 - end_;
  while (missing > 0) {
    const auto frames = std::min<std::int64_t>(missing, kSilenceFrames);
    if (pa_->StreamWrite(stream, kSilence, static_cast<std::size_t>(frames) * kFrameBytes, nullptr,
                         end_ * kFrameBytes, PA_SEEK_ABSOLUTE) < 0)
      return;
    end_ += frames;
    missing -= frames;
  }
}

}  // namespace pendlo::sound::output::pulse
