// Where an open output stream meets the beat. The feed owns and wires the
// parts: the render side that the stream's callbacks call (StreamRender),
// the schedule of clicks that the timer fills and takes back
// (ClickSchedule), the mixer between them, the clock they keep, the click
// files and the counters. The supervisor (ClickPlayer) begins and ends the
// stream around opening and closing it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sound/clips/click_loader.h"
#include "sound/clock/audio_clock.h"
#include "sound/feed/click_mixer.h"
#include "sound/feed/click_schedule.h"
#include "sound/feed/feed_counters.h"
#include "sound/feed/feed_options.h"
#include "sound/feed/stream_render.h"
#include "sound/output/audio_backend.h"

namespace pendlo::sound::feed {

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

class StreamFeed final {
 public:
  StreamFeed(FeedOptions options, clock::AudioClock::SteadySource steady);

  // What the output's callbacks call; given to AudioBackend::Open.
  output::RenderTarget& Target() { return render_; }

  // Supervisor, while no callback runs: a stream of `format` with
  // `frames` per callback is open; its clicks go to `queue` when it takes
  // writes (null: the callbacks render them); `knownLatency` is what the
  // output reports from the stream to the listener (0: unknown).
  void Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
             Micros knownLatency);
  // Supervisor, before closing the stream: no click reaches it from now on,
  // and the writes under way have ended.
  void Stop() { schedule_.Stop(); }
  // Supervisor, once no callback runs: the clock runs on at the monotonic
  // pace.
  void End();
  // Supervisor, when the output is closed only for as long as the beat
  // rests (true): the clicks queued after the stream ends and until the next
  // Begin are kept and queued on the new stream then, so that the first
  // clicks after Start are not lost while it opens; false drops them.
  void Park(bool keep) { schedule_.Park(keep); }
  // Supervisor, before pausing a stream fed through its queue: no click
  // reaches it from now on; the clicks played meanwhile are kept.
  void Pause() {
    schedule_.Park(true);
    schedule_.Stop();
  }
  // Supervisor, once the paused stream runs again and the clock has joined
  // it: the kept clicks are written into `queue`, and the later ones too.
  void Resume(output::ClickQueue* queue) { schedule_.Resume(queue); }
  // Any thread: the stream failed by itself (Lost_RT) since Begin.
  bool Lost() const { return render_.Lost(); }

  // Timer thread: queues the WAV file `path` to start on the frame of `due`
  // (a time on clock(), up to a few lookaheads ahead), cutting off the click
  // before it. Returns at once with the clip the loader has ready
  // (Clicks()): until a new file is decoded, its previous version or the
  // fallback tone. Without a stream it does nothing. False when the output
  // has rendered, or its sink may have read, more than kLateClickGraceMicros
  // beyond the frame of `due`: the click is not queued.
  bool Play(const std::string& path, Micros due) { return schedule_.Play(path, due); }
  // Any thread, returns at once: every click queued for the returned time
  // or later is never heard: `from`, or later where the output has already
  // rendered, or its server may have read, the clicks due from `from` on
  // (those sound).
  Micros TakeBack(Micros from) { return schedule_.TakeBack(from); }
  // How long before its due time a click must reach Play: what the output
  // renders ahead plus the timer's late wake-ups. Any thread.
  Micros LookaheadMicros() const { return render_.LookaheadMicros(); }
  // The steady-clock microsecond (steadyNowMicros) at which the click due at
  // `due` reaches the listener; with no stream, the moment `due` falls on.
  Micros HeardAtSteady(Micros due) const;

  // The click files, read off the timer thread.
  clips::ClickLoader& Clicks() { return clicks_; }
  // The clock to give TMMTimer: the stream's frames, or monotonic time.
  std::shared_ptr<clock::AudioClock> clock() const { return clock_; }

  // Any thread: the stream's figures and counts so far.
  FeedStats Stats() const;

 private:
  const std::shared_ptr<clock::AudioClock> clock_;
  clips::ClickLoader clicks_;
  ClickMixer mixer_;
  FeedCounters counters_;
  StreamRender render_;
  ClickSchedule schedule_;
};

}  // namespace pendlo::sound::feed
