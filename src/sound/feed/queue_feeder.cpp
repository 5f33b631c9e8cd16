#include "sound/feed/queue_feeder.h"

#include <algorithm>

#include "sound/link/sound_link.h"

namespace pendlo::sound::feed {
namespace {

// Written clicks kept for taking back: more than a few lookaheads hold.
constexpr std::size_t kWrittenKept = 32;

}  // namespace

void QueueFeeder::Attach(output::ClickQueue* queue, int rate, int channels) {
  std::lock_guard lock(mutex_);
  queue_ = queue;
  rate_ = rate;
  channels_ = channels;
  written_.clear();
  soundingUntil_ = 0;
  attached_.store(queue != nullptr, std::memory_order_release);
}

void QueueFeeder::Detach() {
  std::unique_lock lock(mutex_);
  queue_ = nullptr;
  attached_.store(false, std::memory_order_release);
  writesDone_.wait(lock, [this] { return writing_ == 0; });
  written_.clear();
}

output::ClickQueue* QueueFeeder::BeginWrite() {
  if (queue_ != nullptr) ++writing_;
  return queue_;
}

void QueueFeeder::EndWrite() {
  std::lock_guard lock(mutex_);
  if (--writing_ == 0) writesDone_.notify_all();
}

std::int64_t QueueFeeder::SafeFrame(std::int64_t reading) const {
  return reading + rate_ * margin_ / 1'000'000;
}

std::optional<Micros> QueueFeeder::Write(const clips::SoundClip& clip, Micros due) {
  const Micros now = clock_->now();
  std::int64_t first = 0, reading = 0;
  // Not streaming: the clock is about to join a stream whose frames moved,
  // and no frame is known yet.
  if (!clock_->Streaming() || !clock_->FrameAt(due, first) || !clock_->FrameAt(now, reading))
    return due - now;
  output::ClickQueue* queue = nullptr;
  std::int64_t frames = 0, length = 0;
  int channels = 0;
  {
    std::lock_guard lock(mutex_);
    if (queue_ == nullptr) return due - now;
    // Never where the sink may already have read: the server would count
    // the stream as run dry and shift it, and the beat with it.
    if (first < SafeFrame(reading)) {
      if (SafeFrame(reading) - first > rate_ * link::kLateClickGraceMicros / 1'000'000)
        return std::nullopt;
      counts_.AddLate();
      first = SafeFrame(reading);
    }
    queue = BeginWrite();
    // A click longer than the slowest beat (3 s at 20 BPM) would be cut off
    // by the next one anyway; writing all of a long file every beat would not.
    length = std::min(static_cast<std::int64_t>(clip.frames()),
                      static_cast<std::int64_t>(rate_) * 7 / 2);
    // Silence over what is left of the click before, so that it is cut off
    // at this click's onset and not heard again after this one ends.
    frames = std::max(length, soundingUntil_ - first);
    soundingUntil_ = first + length;
    std::erase_if(written_, [&](const Written& w) { return w.first + w.frames < reading; });
    if (written_.size() == kWrittenKept) written_.erase(written_.begin());
    written_.push_back(Written{due, first, length});
    channels = channels_;
  }
  scratch_.assign(static_cast<std::size_t>(frames * channels), 0.0f);
  std::copy_n(clip.samples.begin(), length * channels, scratch_.begin());
  queue->WriteAt(first, scratch_.data(), static_cast<int>(frames));
  EndWrite();
  return due - now;
}

Micros QueueFeeder::TakeBack(Micros from) {
  std::int64_t reading = 0;
  if (!clock_->FrameAt(clock_->now(), reading)) return from;
  std::vector<Written> erase;
  output::ClickQueue* queue = nullptr;
  int channels = 0;
  Micros horizon = from;
  {
    std::lock_guard lock(mutex_);
    Micros safe = 0;
    if (clock_->TimeAt(SafeFrame(reading), safe)) horizon = std::max(from, safe);
    // A click due from there on lies at or after the safe frame: it was
    // written on its own frame, never moved forward as a late one.
    std::erase_if(written_, [&](const Written& w) {
      if (w.due < horizon) return false;
      erase.push_back(w);
      return true;
    });
    if (erase.empty()) return horizon;
    soundingUntil_ = std::min(soundingUntil_, erase.front().first);
    queue = BeginWrite();
    if (queue == nullptr) return horizon;
    channels = channels_;
  }
  // One write of silence from the first click taken back to the end of the
  // last: between them the queue holds nothing else, and each write into a
  // server's queue takes its lock; a lookahead's worth of dense clicks one
  // by one took up to 22 ms on a busy machine, long enough for the ticks
  // decided again after them to miss their frames.
  std::int64_t begin = erase.front().first, end = begin;
  for (const Written& w : erase) {
    begin = std::min(begin, w.first);
    end = std::max(end, w.first + w.frames);
  }
  const std::vector<float> silence(static_cast<std::size_t>((end - begin) * channels), 0.0f);
  queue->WriteAt(begin, silence.data(), static_cast<int>(end - begin));
  counts_.AddTakenBack(erase.size());
  EndWrite();
  return horizon;
}

}  // namespace pendlo::sound::feed
