#include "sound/feed/click_mixer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

namespace pendlo::sound::feed {

std::uint64_t ClickMixer::Schedule(const clips::SoundClip* clip, Micros due) {
  std::lock_guard lock(producers_);
  const std::uint64_t seq = nextSeq_;
  if (clip == nullptr || !ring_.Push(Command{clip, due, seq})) {
    counts_.AddDropped();
    return 0;
  }
  ++nextSeq_;
  return seq;
}

Micros ClickMixer::TakeBack(Micros from) {
  std::lock_guard lock(producers_);
  const std::uint64_t seq = ++takeBacks_;
  // The ring holds far more than the few lookaheads of clicks queued at a
  // time; waiting here for the callback to make room would be worse than
  // keeping every click.
  if (!ring_.Push(Command{nullptr, from, seq})) {
    counts_.AddDropped();
    return std::numeric_limits<Micros>::max();
  }
  // Updates of one atomic are totally ordered: either this one comes before
  // a take-up's mark, which then sees the command, or it reads that mark.
  std::uint64_t mark = drains_.fetch_add(0, std::memory_order_acq_rel);
  for (;;) {
    if (mark % 2 == 0) {
      // Taken up already: it held from where that take-up said. Not yet:
      // the next take-up holds it from where the last one's buffers end.
      const Micros reach = honouredSeq_.load(std::memory_order_acquire) == seq
                               ? honouredFrom_.load(std::memory_order_acquire)
                               : std::max(from, renderedTo_.load(std::memory_order_acquire));
      if (drains_.load(std::memory_order_acquire) == mark) return reach;
    }
    std::this_thread::yield();
    mark = drains_.load(std::memory_order_acquire);
  }
}

void ClickMixer::Reset() {
  std::lock_guard lock(producers_);
  ring_.Clear();
  count_ = 0;
  voice_ = Voice{};
  seen_ = nextSeq_ - 1;
  renderedTo_.store(0, std::memory_order_relaxed);
  honouredSeq_.store(0, std::memory_order_relaxed);
  doneBefore_.store(nextSeq_, std::memory_order_release);
}

void ClickMixer::Drain_RT(Micros renderedTo) {
  drains_.fetch_add(1, std::memory_order_acq_rel);
  DrainCommands_RT();
  renderedTo_.store(renderedTo, std::memory_order_release);
  drains_.fetch_add(1, std::memory_order_release);
}

void ClickMixer::DrainCommands_RT() {
  Command c;
  while (ring_.Peek(c)) {
    ring_.Pop();
    if (c.clip == nullptr) {
      // The buffers taken up before keep their clicks.
      const Micros from = std::max(c.due, renderedTo_.load(std::memory_order_relaxed));
      // Onsets are kept in order of due time: the taken-back ones are a tail.
      int keep = count_;
      while (keep > 0 && pending_[static_cast<std::size_t>(keep - 1)].due >= from) --keep;
      counts_.AddTakenBack(static_cast<std::uint64_t>(count_ - keep));
      count_ = keep;
      honouredSeq_.store(c.seq, std::memory_order_release);
      honouredFrom_.store(from, std::memory_order_release);
      continue;
    }
    seen_ = c.seq;
    if (count_ == kPending) {
      counts_.AddDropped();
      continue;
    }
    int at = count_;
    while (at > 0 && pending_[static_cast<std::size_t>(at - 1)].due > c.due) {
      pending_[static_cast<std::size_t>(at)] = pending_[static_cast<std::size_t>(at - 1)];
      --at;
    }
    pending_[static_cast<std::size_t>(at)] = c;
    ++count_;
  }
}

void ClickMixer::RemoveFront_RT(int n) {
  std::copy(pending_.begin() + n, pending_.begin() + count_, pending_.begin());
  count_ -= n;
}

void ClickMixer::Publish_RT() {
  // The oldest clip still referenced; everything before it can be released.
  std::uint64_t done = seen_ + 1;
  if (voice_.clip) done = std::min(done, voice_.seq);
  for (int i = 0; i < count_; ++i) done = std::min(done, pending_[static_cast<std::size_t>(i)].seq);
  doneBefore_.store(done, std::memory_order_release);
}

void ClickMixer::Play_RT(float* out, int from, int to, int channels) {
  float* dst = out + static_cast<std::size_t>(from) * channels;
  std::size_t want = static_cast<std::size_t>(to - from);
  if (voice_.clip) {
    const std::size_t left = voice_.clip->frames() - voice_.pos;
    const std::size_t n = std::min(left, want);
    std::memcpy(dst, voice_.clip->samples.data() + voice_.pos * channels,
                n * channels * sizeof(float));
    voice_.pos += n;
    dst += n * channels;
    want -= n;
    if (voice_.pos == voice_.clip->frames()) voice_.clip = nullptr;
  }
  std::memset(dst, 0, want * channels * sizeof(float));
}

void ClickMixer::Render_RT(float* out, int frames, int channels, std::int64_t first,
                           const clock::AudioClock& clock) {
  const std::int64_t end = first + frames;
  // This buffer's clicks are the last a take-back not yet seen cannot reach.
  Drain_RT(clock.TimeAt_RT(end));
  int pos = 0;
  int started = 0;
  for (; started < count_; ++started) {
    const Command& next = pending_[static_cast<std::size_t>(started)];
    const std::int64_t at = clock.FrameAt_RT(next.due);
    if (at >= end) break;
    int offset = 0;
    if (at >= first) {
      offset = static_cast<int>(at - first);
    } else {
      counts_.AddLate();
    }
    offset = std::max(offset, pos);
    Play_RT(out, pos, offset, channels);
    // A clip in another format (left over from an earlier stream) is skipped.
    const bool fits = next.clip->format.channels == channels;
    voice_ = Voice{fits ? next.clip : nullptr, 0, next.seq};
    pos = offset;
  }
  RemoveFront_RT(started);
  Play_RT(out, pos, frames, channels);
  Publish_RT();
}

void ClickMixer::SkipBefore_RT(std::int64_t first, const clock::AudioClock& clock) {
  Drain_RT(renderedTo_.load(std::memory_order_relaxed));
  int stale = 0;
  while (stale < count_ &&
         clock.FrameAt_RT(pending_[static_cast<std::size_t>(stale)].due) < first) {
    ++stale;
  }
  if (stale > 0) {
    counts_.AddLate(static_cast<std::uint64_t>(stale));
    voice_ = Voice{};
    RemoveFront_RT(stale);
  }
  Publish_RT();
}

void ClickMixer::Discard_RT() {
  Drain_RT(renderedTo_.load(std::memory_order_relaxed));
  count_ = 0;
  voice_ = Voice{};
  Publish_RT();
}

}  // namespace pendlo::sound::feed
