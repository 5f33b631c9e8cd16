#include "sound/click_mixer.h"

#include <algorithm>
#include <cstring>

namespace pendlo {

std::uint64_t ClickMixer::Schedule(const SoundClip* clip, Micros due) {
  const std::uint64_t seq = nextSeq_;
  if (!queue_.Push(Onset{clip, due, seq})) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  ++nextSeq_;
  return seq;
}

void ClickMixer::Reset(int leadFrames) {
  queue_.Clear();
  voice_ = Voice{};
  lead_ = leadFrames;
  doneBefore_.store(nextSeq_, std::memory_order_release);
}

void ClickMixer::Finish_RT(std::uint64_t doneBefore) {
  doneBefore_.store(doneBefore, std::memory_order_release);
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
    if (voice_.pos == voice_.clip->frames()) {
      Finish_RT(voice_.seq + 1);
      voice_.clip = nullptr;
    }
  }
  std::memset(dst, 0, want * channels * sizeof(float));
}

void ClickMixer::Render_RT(float* out, int frames, int channels, std::int64_t first,
                           const AudioClock& clock) {
  const std::int64_t end = first + frames;
  int pos = 0;
  Onset next;
  while (queue_.Peek(next)) {
    const std::int64_t at = clock.FrameAt_RT(next.due) + lead_;
    if (at >= end) break;
    int offset = 0;
    if (at >= first) {
      offset = static_cast<int>(at - first);
    } else {
      late_.fetch_add(1, std::memory_order_relaxed);
    }
    offset = std::max(offset, pos);
    Play_RT(out, pos, offset, channels);
    queue_.Pop();
    // A clip in another format (left over from an earlier stream) is skipped.
    const bool fits = next.clip && next.clip->format.channels == channels;
    voice_ = Voice{fits ? next.clip : nullptr, 0, next.seq};
    Finish_RT(next.seq);  // everything before this onset is cut off
    pos = offset;
  }
  Play_RT(out, pos, frames, channels);
}

void ClickMixer::SkipBefore_RT(std::int64_t first, const AudioClock& clock) {
  Onset next;
  while (queue_.Peek(next) && clock.FrameAt_RT(next.due) + lead_ < first) {
    queue_.Pop();
    late_.fetch_add(1, std::memory_order_relaxed);
    voice_ = Voice{};
    Finish_RT(next.seq + 1);
  }
}

void ClickMixer::Discard_RT() {
  Onset next;
  std::uint64_t done = voice_.clip ? voice_.seq + 1 : 0;
  while (queue_.Peek(next)) {
    done = next.seq + 1;
    queue_.Pop();
  }
  voice_ = Voice{};
  if (done) Finish_RT(done);
}

}  // namespace pendlo
