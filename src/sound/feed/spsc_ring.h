// A fixed-size single-producer single-consumer queue without locks or
// allocation, for handing scheduled clicks from the timer thread to the
// audio callback.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace pendlo::sound::feed {

template <typename T, std::size_t Capacity>
class SpscRing {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

 public:
  // Producer: appends a copy; false (and nothing queued) when full.
  bool Push(const T& item) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
    slots_[tail & (Capacity - 1)] = item;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

  // Consumer: the oldest item without removing it; false when empty.
  bool Peek(T& out) const {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    out = slots_[head & (Capacity - 1)];
    return true;
  }

  // Consumer: removes the oldest item; only after a successful Peek.
  void Pop() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

  // Either side, while the other is known to be idle: empties the queue.
  void Clear() { head_.store(tail_.load(std::memory_order_acquire), std::memory_order_release); }

 private:
  std::array<T, Capacity> slots_{};
  alignas(64) std::atomic<std::size_t> head_{0};
  alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace pendlo::sound::feed
