// Where an open output stream meets the beat: the stream's callbacks
// (RenderTarget) feed the clock through the follower of its timeline and
// render the mixer's clicks, or the clicks are written into the server's
// queue; the timer thread queues and takes back clicks here; the stream's
// figures (lookahead, latency, statistics) are kept here. The supervisor
// (ClickPlayer) begins and ends the stream around opening and closing it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sound/clips/click_loader.h"
#include "sound/clock/audio_clock.h"
#include "sound/clock/timeline_follower.h"
#include "sound/feed/click_mixer.h"
#include "sound/feed/queue_feeder.h"
#include "sound/output/audio_backend.h"

namespace pendlo::sound::feed {

// What a stream needs to know of the player's options.
struct FeedOptions {
  Micros serverBufferMicros = 0;
  Micros wakeMarginMicros = 0;
  Micros callbackAheadMicros = 0;
  Micros queueMarginMicros = 0;
  clips::DecodeLimits limits;
};

struct FeedStats {
  std::uint64_t plays = 0;      // Play calls that reached a stream
  std::uint64_t late = 0;       // onsets that missed their frame
  std::uint64_t dropped = 0;    // onsets lost to a full queue
  std::uint64_t takenBack = 0;  // onsets taken back before they began
  std::uint64_t anchors = 0;    // times the clock joined the stream
  std::uint64_t buffers = 0;    // buffers the output's callbacks asked for
  std::uint64_t passedBy = 0;   // graph cycles run without this output (a stalled thread)
  Micros minSlackMicros = 0;    // least margin between queueing and rendering
  int bufferFrames = 0;
  clips::StreamFormat format;
  bool writesIntoQueue = false;  // clicks are written into the server's queue
  Micros lookaheadMicros = 0;    // how long before its due time a click is queued
  Micros deviceMicros = 0;       // from the stream to the listener
};

class StreamFeed final : public output::RenderTarget {
 public:
  StreamFeed(FeedOptions options, clock::AudioClock::SteadySource steady);

  // Supervisor, while no callback runs: a stream of `format` with
  // `frames` per callback is open; its clicks go to `queue` when it takes
  // writes (null: the callbacks render them); `knownLatency` is what the
  // output reports from the stream to the listener (0: unknown).
  void Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
             Micros knownLatency);
  // Supervisor, before closing the stream: no click reaches it from now on,
  // and the writes under way have ended.
  void Stop();
  // Supervisor, once no callback runs: the clock runs on at the monotonic
  // pace.
  void End();
  // Supervisor, when the output is closed only for as long as the beat
  // rests (true): the clicks queued after the stream ends and until the next
  // Begin are kept and queued on the new stream then, so that the first
  // clicks after Start are not lost while it opens; false drops them.
  void Park(bool keep);
  // Any thread: the stream failed by itself (Lost_RT) since Begin.
  bool Lost() const { return lost_.load(std::memory_order_acquire); }

  // Timer thread: queues the WAV file `path` to start on the frame of `due`
  // (a time on clock(), up to a few lookaheads ahead), cutting off the click
  // before it. Returns at once with the clip the loader has ready
  // (Clicks()): until a new file is decoded, its previous version or the
  // fallback tone. Without a stream it does nothing. False when the output
  // has rendered, or its sink may have read, more than kLateClickGraceMicros
  // beyond the frame of `due`: the click is not queued.
  bool Play(const std::string& path, Micros due);
  // Any thread, returns at once: every click queued for the returned time
  // or later is never heard: `from`, or later where the output has already
  // rendered, or its server may have read, the clicks due from `from` on
  // (those sound).
  Micros TakeBack(Micros from);
  // How long before its due time a click must reach Play: what the output
  // renders ahead plus the timer's late wake-ups. Any thread.
  Micros LookaheadMicros() const { return lookahead_.load(std::memory_order_relaxed); }
  // The steady-clock microsecond (steadyNowMicros) at which the click due at
  // `due` reaches the listener; with no stream, the moment `due` falls on.
  Micros HeardAtSteady(Micros due) const;

  // The click files, read off the timer thread.
  clips::ClickLoader& Clicks() { return clicks_; }
  // The clock to give TMMTimer: the stream's frames, or monotonic time.
  std::shared_ptr<clock::AudioClock> clock() const { return clock_; }

  FeedStats Stats() const;

  void Render_RT(float* out, int frames, Micros at) override;
  void Cycle_RT(float* out, int frames, const output::GraphCycle& cycle) override;
  void Lost_RT(float* out, int frames, Micros at) override;
  void Position_RT(double frame, Micros at) override;
  void Underrun_RT() override;

 private:
  void HoldClip(std::shared_ptr<const clips::SoundClip> clip, std::uint64_t seq);
  void NoteSlack(Micros slack);
  Micros DeviceMicros() const;

  const FeedOptions options_;
  const std::shared_ptr<clock::AudioClock> clock_;
  clock::CallbackFollower callbacks_{*clock_};
  clock::GraphFollower cycles_{*clock_};
  clock::PositionFollower positions_{*clock_};

  // Play against Begin and End; never held across a call into the audio
  // library or taken by a callback.
  mutable std::mutex producer_;
  clips::ClickLoader clicks_;
  ClickMixer mixer_;
  std::vector<std::pair<std::shared_ptr<const clips::SoundClip>, std::uint64_t>> held_;
  // Parked: clicks queued while the output reopens (path, due time).
  bool parked_ = false;
  std::vector<std::pair<std::string, Micros>> waiting_;
  std::atomic<int> channels_{2};  // set while no callback runs
  // The output's queue when it is fed by writes (writes_ then feeds it);
  // null when the callbacks render the clicks (mixer_).
  std::atomic<output::ClickQueue*> queue_{nullptr};
  QueueFeeder writes_;

  std::atomic<bool> live_{false};  // between Begin and Stop
  std::atomic<bool> lost_{false};
  std::atomic<Micros> lookahead_{0};
  std::atomic<Micros> deviceMicros_{0};
  int graphQuantum_ = 0;        // callback: the cycle the lookahead was set for
  std::int64_t graphNext_ = 0;  // callback: the graph's frame the next cycle should begin at
  std::atomic<int> bufferFrames_{0};
  std::atomic<int> rate_{0};
  std::atomic<std::uint64_t> plays_{0};
  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<std::uint64_t> passedBy_{0};
  std::atomic<Micros> minSlack_{INT64_MAX};
};

}  // namespace pendlo::sound::feed
