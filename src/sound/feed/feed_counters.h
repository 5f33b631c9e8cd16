// What a stream's feed counts for its figures (FeedStats). The render side
// and the click schedule both add to it, each from its own thread, so it is
// lock-free and belongs to neither.
#pragma once

#include <atomic>
#include <cstdint>

#include "timer/clock.h"

namespace pendlo::sound::feed {

class FeedCounters {
 public:
  // Timer thread: a Play reached the stream `slack` ahead of what the
  // output has rendered or its sink may have read.
  void NotePlay(Micros slack) {
    plays_.fetch_add(1, std::memory_order_relaxed);
    Micros least = minSlack_.load(std::memory_order_relaxed);
    while (slack < least && !minSlack_.compare_exchange_weak(least, slack)) {
    }
  }
  // Callback: the output asked for one more buffer.
  void NoteBuffer_RT() { buffers_.fetch_add(1, std::memory_order_relaxed); }
  // Callback: graph cycles ran without this output since its last buffer.
  void NotePassedBy_RT() { passedBy_.fetch_add(1, std::memory_order_relaxed); }
  // Supervisor: the stream begun takes this many frames per callback.
  void SetBufferFrames(int frames) { bufferFrames_.store(frames, std::memory_order_relaxed); }

  // Any thread: the counts so far; MinSlack is 0 before the first Play.
  std::uint64_t Plays() const { return plays_.load(std::memory_order_relaxed); }
  std::uint64_t Buffers() const { return buffers_.load(std::memory_order_relaxed); }
  std::uint64_t PassedBy() const { return passedBy_.load(std::memory_order_relaxed); }
  Micros MinSlack() const {
    const Micros least = minSlack_.load(std::memory_order_relaxed);
    return least == INT64_MAX ? 0 : least;
  }
  int BufferFrames() const { return bufferFrames_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> plays_{0};
  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<std::uint64_t> passedBy_{0};
  std::atomic<Micros> minSlack_{INT64_MAX};
  std::atomic<int> bufferFrames_{0};
};

}  // namespace pendlo::sound::feed
