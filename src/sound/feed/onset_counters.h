// What a feeder counts of the clicks it was given, for the stream's figures
// (FeedStats): the mixer and the queue feeder count the same three things.
// Relaxed counts that order nothing, added on whichever thread saw it.
#pragma once

#include <atomic>
#include <cstdint>

namespace pendlo::sound::feed {

class OnsetCounters {
 public:
  // Onsets whose frame had already passed when they reached the output.
  void AddLate(std::uint64_t n = 1) { late_.fetch_add(n, std::memory_order_relaxed); }
  // Onsets lost to a full queue.
  void AddDropped() { dropped_.fetch_add(1, std::memory_order_relaxed); }
  // Onsets taken back before they began.
  void AddTakenBack(std::uint64_t n) { takenBack_.fetch_add(n, std::memory_order_relaxed); }

  // Any thread: the counts so far.
  std::uint64_t Late() const { return late_.load(std::memory_order_relaxed); }
  std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
  std::uint64_t TakenBack() const { return takenBack_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> late_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> takenBack_{0};
};

}  // namespace pendlo::sound::feed
