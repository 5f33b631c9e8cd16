// The timer's side of a stream: the clicks it queues for their due times go
// to the mixer, which the callbacks render, or are written into the server's
// queue; the timer takes them back when the beat changes; while a rested
// output reopens they are kept and queued on the new stream. Every clip the
// callback may still read is held here, and released on this side, never
// in the callback.
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
#include "sound/feed/click_mixer.h"
#include "sound/feed/feed_counters.h"
#include "sound/feed/feed_options.h"
#include "sound/feed/queue_feeder.h"
#include "sound/feed/stream_render.h"

namespace pendlo::sound::feed {

class ClickSchedule {
 public:
  // Queues `clicks`' clips into `mixer`, or into the stream's queue on
  // `clock`; asks `render` whether the stream is lost. All outlive it.
  ClickSchedule(const FeedOptions& options, std::shared_ptr<clock::AudioClock> clock,
                clips::ClickLoader& clicks, ClickMixer& mixer, const StreamRender& render,
                FeedCounters& counters);

  // Supervisor, while no callback runs: a stream of `format` is open, taking
  // writes through `queue` (null: the mixer feeds the callbacks). The clicks
  // kept while it was parked are queued on it now, before its first callback.
  void Begin(const clips::StreamFormat& format, output::ClickQueue* queue);
  // Supervisor, before closing the stream: no click reaches it from now on,
  // and the writes under way have ended.
  void Stop();
  // Supervisor, once no callback runs: every queued click is forgotten.
  void End();
  // Supervisor: while no stream runs, the clicks played are kept (true) for
  // the next Begin, up to a few beats, or dropped (false).
  void Park(bool keep);
  // Supervisor, after Stop on a stream that keeps running: its clicks are
  // written into `queue` again, first the ones kept since, in their order.
  void Resume(output::ClickQueue* queue);

  // Timer thread: see StreamFeed::Play.
  bool Play(const std::string& path, Micros due);
  // Any thread, returns at once: see StreamFeed::TakeBack.
  Micros TakeBack(Micros from);

  // What the server's queue was given: late and taken-back writes (the
  // mixer counts its own).
  const OnsetCounters& WriteCounts() const { return writes_.Counts(); }

 private:
  // Writes `clip` into the queue for `due` and counts it; false when too
  // late for its frame.
  bool Write(const clips::SoundClip& clip, Micros due);
  // Under producer_: keeps `clip` until the mixer is done with sequence
  // number `seq` (0: not queued), and releases the clips it is done with.
  void HoldClip(std::shared_ptr<const clips::SoundClip> clip, std::uint64_t seq);

  const std::shared_ptr<clock::AudioClock> clock_;
  clips::ClickLoader& clicks_;
  ClickMixer& mixer_;
  const StreamRender& render_;
  FeedCounters& counters_;

  // Play against Begin and End; never held across a call into the audio
  // library or taken by a callback.
  std::mutex producer_;
  std::vector<std::pair<std::shared_ptr<const clips::SoundClip>, std::uint64_t>> held_;
  // Parked: clicks queued while the output reopens (path, due time).
  bool parked_ = false;
  std::vector<std::pair<std::string, Micros>> waiting_;
  clips::StreamFormat format_;  // of the stream last begun
  QueueFeeder writes_;
  std::atomic<bool> live_{false};  // between Begin and Stop
};

}  // namespace pendlo::sound::feed
