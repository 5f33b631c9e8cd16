// Feeds the clicks of an output that takes writes into its server's queue
// (PulseAudio): each click is written on the frame of its due time, ahead of
// where the sink reads, so the server never has to rewind for it. A click
// not yet begun is taken back by writing silence over it; only then does
// the server rewind. Never holds its lock across a write into the queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sound/clips/sound_clip.h"
#include "sound/clock/audio_clock.h"
#include "sound/feed/onset_counters.h"
#include "sound/output/audio_backend.h"

namespace pendlo::sound::feed {

class QueueFeeder {
 public:
  // Writes and take-backs land `margin` or more beyond where the clock says
  // the sink reads.
  QueueFeeder(std::shared_ptr<clock::AudioClock> clock, Micros margin)
      : clock_(std::move(clock)), margin_(margin) {}

  // Supervisor: writes go to `queue` (a stream of `rate` frames per second
  // and `channels` channels) from now on.
  void Attach(output::ClickQueue* queue, int rate, int channels);
  // Supervisor: no write starts after this, and the ones under way have
  // ended when it returns, so the queue can be closed.
  void Detach();
  bool Attached() const { return attached_.load(std::memory_order_acquire); }

  // Timer thread: writes `clip` on the frame of `due` (a time on the clock),
  // cutting off the click before it; a click too late for that starts at the
  // earliest frame still safe, unless that is more than
  // kLateClickGraceMicros after its own: then nothing is written and the
  // result is empty. Returns the time from now to `due`.
  std::optional<Micros> Write(const clips::SoundClip& clip, Micros due);
  // Any thread: silence over every click written for the returned time or
  // later: `from`, or the first due time still safe to write over when the
  // sink may already have read the frames of clicks due from `from` on
  // (those play).
  Micros TakeBack(Micros from);

  // Any thread: clicks written too late for their frame, and taken back.
  const OnsetCounters& Counts() const { return counts_; }

 private:
  // A click written, kept until the sink has passed it.
  struct Written {
    Micros due = 0;
    std::int64_t first = 0;
    std::int64_t frames = 0;
  };
  // Under mutex_: the queue for one more write, or null.
  output::ClickQueue* BeginWrite();
  void EndWrite();
  std::int64_t SafeFrame(std::int64_t reading) const;

  const std::shared_ptr<clock::AudioClock> clock_;
  const Micros margin_;
  std::mutex mutex_;
  std::condition_variable writesDone_;
  output::ClickQueue* queue_ = nullptr;
  int rate_ = 0;
  int channels_ = 0;
  int writing_ = 0;                 // writes under way
  std::vector<Written> written_;    // oldest first
  std::int64_t soundingUntil_ = 0;  // end frame of the click last written
  std::vector<float> scratch_;      // timer thread: the click being written
  std::atomic<bool> attached_{false};
  OnsetCounters counts_;
};

}  // namespace pendlo::sound::feed
