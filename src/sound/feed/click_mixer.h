// Places clicks on exact frames of the output stream, for an output that
// renders its own buffers (PipeWire's graph, SDL's callback). Any thread
// queues a sound for a due time, up to a few lookaheads ahead, or takes back
// the queued sounds due from a time on; the audio callback turns each due
// time into a frame through the AudioClock and starts the sound on that
// frame of whichever buffer holds it. One sound at a time:
// a new click cuts off the one still sounding, at the new click's onset.
// Towards the callback the hand-off is lock-free: queueing and taking back
// are commands in one ring, in the order they were given.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "sound/clips/sound_clip.h"
#include "sound/clock/audio_clock.h"
#include "sound/feed/onset_counters.h"
#include "sound/feed/spsc_ring.h"

namespace pendlo::sound::feed {

class ClickMixer {
 public:
  // Any thread: queues `clip` to start at the frame of `due`.
  // The clip must stay alive until DoneBefore() passes the returned sequence
  // number. Returns 0 (nothing queued) when full.
  std::uint64_t Schedule(const clips::SoundClip* clip, Micros due);
  // Any thread: every onset queued before this call and due at or after the
  // returned time is never heard: `from`, or later when the callback has
  // already rendered the frames of clicks due from `from` on, or took them
  // up before it could see this take-back; those play. Exact, so nothing
  // taken back sounds and nothing kept is lost: the reach is the buffer in
  // the callback's hands, not one more. May wait while the callback takes
  // up the queue (microseconds), never for a buffer. No time at all when
  // the queue is full.
  Micros TakeBack(Micros from);

  // Any thread: every scheduled onset with a sequence number below this has
  // finished sounding (or was taken back) and will not be touched again.
  std::uint64_t DoneBefore() const { return doneBefore_.load(std::memory_order_acquire); }

  // Callback: fills `frames` interleaved frames of `channels` channels that
  // start at stream frame `first`. No allocation, no locks, no system calls.
  void Render_RT(float* out, int frames, int channels, std::int64_t first,
                 const clock::AudioClock& clock);
  // Callback, after the stream re-joined the clock: onsets whose frame lies
  // before `first` were due while nothing played; they are dropped (and the
  // click sounding cut) rather than all started at once.
  void SkipBefore_RT(std::int64_t first, const clock::AudioClock& clock);
  // Callback: consumes the queue without sound (the stream is gone).
  void Discard_RT();

  // Control thread, while no callback runs: forget every queued and
  // sounding click.
  void Reset();

  // Any thread: late onsets (their frame already rendered when they were
  // taken from the queue: they start at once instead), onsets dropped for a
  // full queue, onsets taken back.
  const OnsetCounters& Counts() const { return counts_; }

  static constexpr int kPending = 64;

 private:
  // A click to start (clip set), or a take-back from `due` on (clip null,
  // `seq` counting take-backs).
  struct Command {
    const clips::SoundClip* clip = nullptr;
    Micros due = 0;
    std::uint64_t seq = 0;
  };
  struct Voice {
    const clips::SoundClip* clip = nullptr;
    std::size_t pos = 0;  // next frame of the clip
    std::uint64_t seq = 0;
  };
  // Takes up the ring's commands, between marks a take-back can see.
  void Drain_RT(Micros renderedTo);
  void DrainCommands_RT();
  void Play_RT(float* out, int from, int to, int channels);
  void RemoveFront_RT(int n);
  void Publish_RT();

  std::mutex producers_;  // orders the commands; never taken by the callback
  std::uint64_t nextSeq_ = 1;
  std::uint64_t takeBacks_ = 0;
  SpscRing<Command, 256> ring_;

  // Callback side: onsets not yet begun, in order of due time.
  std::array<Command, kPending> pending_{};
  int count_ = 0;
  Voice voice_;
  std::uint64_t seen_ = 0;  // the last sequence number taken from the ring

  // Published by each take-up of the ring, read by TakeBack as a sequence
  // lock: odd while the callback takes up commands; the earliest due time
  // whose frame lies beyond the buffers taken up so far; the last take-back
  // taken up and the due time from which it held.
  std::atomic<std::uint64_t> drains_{0};
  std::atomic<Micros> renderedTo_{0};
  std::atomic<std::uint64_t> honouredSeq_{0};
  std::atomic<Micros> honouredFrom_{0};
  std::atomic<std::uint64_t> doneBefore_{1};
  OnsetCounters counts_;
};

}  // namespace pendlo::sound::feed
