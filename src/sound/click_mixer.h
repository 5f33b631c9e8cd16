// Places clicks on exact frames of the output stream. The timer thread
// schedules a sound for a due time; the audio callback turns the due time
// into a frame through the AudioClock, adds a constant lead, and starts the
// sound on that frame of whichever buffer holds it. One sound at a time: a new
// click cuts off the one still sounding, at the new click's onset.
#pragma once

#include <atomic>
#include <cstdint>

#include "sound/audio_clock.h"
#include "sound/sound_clip.h"
#include "sound/spsc_ring.h"

namespace pendlo {

class ClickMixer {
 public:
  // Producer (one thread at a time): queues `clip` to start at the frame of
  // `due` plus the lead. The clip must stay alive until DoneBefore() passes
  // the returned sequence number. Returns 0 (nothing queued) when full.
  std::uint64_t Schedule(const SoundClip* clip, Micros due);

  // Producer: every scheduled onset with a sequence number below this has
  // finished sounding and will not be touched again.
  std::uint64_t DoneBefore() const { return doneBefore_.load(std::memory_order_acquire); }

  // Callback: fills `frames` interleaved frames of `channels` channels that
  // start at stream frame `first`. No allocation, no locks, no system calls.
  void Render_RT(float* out, int frames, int channels, std::int64_t first, const AudioClock& clock);
  // Callback, after the stream re-joined the clock: onsets whose frame lies
  // before `first` were due while nothing played; they are dropped (and the
  // click sounding cut) rather than all started at once.
  void SkipBefore_RT(std::int64_t first, const AudioClock& clock);
  // Callback: consumes the queue without sound (the stream is gone).
  void Discard_RT();

  // Control thread, while no callback runs and the producer is held off:
  // forget every queued and sounding click; sets the lead (in frames).
  void Reset(int leadFrames);
  int LeadFrames() const { return lead_; }
  // Callback: a new lead for the onsets rendered from now on.
  void SetLead_RT(int leadFrames) { lead_ = leadFrames; }

  // Onsets whose frame had already been rendered when they were taken from
  // the queue (they start at once instead).
  std::uint64_t LateOnsets() const { return late_.load(std::memory_order_relaxed); }
  // Onsets dropped because the queue was full.
  std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct Onset {
    const SoundClip* clip = nullptr;
    Micros due = 0;
    std::uint64_t seq = 0;
  };
  struct Voice {
    const SoundClip* clip = nullptr;
    std::size_t pos = 0;  // next frame of the clip
    std::uint64_t seq = 0;
  };
  void Play_RT(float* out, int from, int to, int channels);
  void Finish_RT(std::uint64_t doneBefore);

  SpscRing<Onset, 128> queue_;
  Voice voice_;                // callback side
  std::uint64_t nextSeq_ = 1;  // producer side
  int lead_ = 0;
  std::atomic<std::uint64_t> doneBefore_{1};
  std::atomic<std::uint64_t> late_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace pendlo
