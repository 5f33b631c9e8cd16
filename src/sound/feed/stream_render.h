// The audio callbacks' side of an open stream: each callback (or position
// report) moves the clock through the follower of its timeline and renders
// the mixer's clicks; the figures the callbacks learn (lookahead, latency,
// loss) are published here for any thread. No lock, no allocation.
#pragma once

#include <atomic>
#include <cstdint>

#include "sound/clock/audio_clock.h"
#include "sound/clock/timeline_follower.h"
#include "sound/feed/click_mixer.h"
#include "sound/feed/feed_counters.h"
#include "sound/feed/feed_options.h"
#include "sound/output/audio_backend.h"

namespace pendlo::sound::feed {

class StreamRender final : public output::RenderTarget {
 public:
  // Renders `mixer`'s clicks on `clock`'s frames; all three outlive it.
  StreamRender(FeedOptions options, clock::AudioClock& clock, ClickMixer& mixer,
               FeedCounters& counters);

  // Supervisor, while no callback runs: a stream of `format` with `frames`
  // per callback is open, fed through `queue` when it takes writes (null:
  // the callbacks render); `knownLatency` is the output's own figure from
  // the stream to the listener (0: unknown, estimated from the buffer).
  void Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
             Micros knownLatency);
  // Supervisor, once no callback runs: no stream.
  void End();

  // Any thread: the stream failed by itself (Lost_RT) since Begin.
  bool Lost() const { return lost_.load(std::memory_order_acquire); }
  // Any thread: how long before its due time a click must be queued.
  Micros LookaheadMicros() const { return lookahead_.load(std::memory_order_relaxed); }
  // Any thread: from a frame's rendering (or the sink's reading) to the
  // listener.
  Micros DeviceMicros() const;
  // Any thread: the stream's format; its rate is 0 without a stream.
  clips::StreamFormat Format() const;
  // Any thread: the clicks are written into the server's queue.
  bool WritesIntoQueue() const { return queue_.load(std::memory_order_relaxed) != nullptr; }

  void Render_RT(float* out, int frames, Micros at) override;
  void Cycle_RT(float* out, int frames, const output::GraphCycle& cycle) override;
  void Lost_RT(float* out, int frames, Micros at) override;
  bool Position_RT(double frame, Micros at) override;
  void Underrun_RT() override;
  void Resumed_RT(double frame, Micros at) override;

 private:
  const FeedOptions options_;
  clock::AudioClock& clock_;
  ClickMixer& mixer_;
  FeedCounters& counters_;
  clock::CallbackFollower callbacks_{clock_};
  clock::GraphFollower cycles_{clock_};
  clock::PositionFollower positions_{clock_};

  // Set while no callback runs.
  std::atomic<int> channels_{2};
  std::atomic<int> rate_{0};
  std::atomic<output::ClickQueue*> queue_{nullptr};
  // Set by the callbacks.
  std::atomic<bool> lost_{false};
  std::atomic<Micros> lookahead_{0};
  std::atomic<Micros> deviceMicros_{0};
  int graphQuantum_ = 0;        // callback: the cycle the lookahead was set for
  std::int64_t graphNext_ = 0;  // callback: the graph's frame the next cycle should begin at
};

}  // namespace pendlo::sound::feed
