// A value written by one thread at a time and read by any thread without
// locks: readers retry while a write is in progress. Every word is an atomic,
// so no reader ever sees a torn value it then uses. The ordering rides on
// release stores and acquire loads of the words themselves (no fences, which
// ThreadSanitizer cannot follow); on x86 they are plain moves.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace pendlo::sound::clock {

template <typename T>
class SeqLock {
  static_assert(std::is_trivially_copyable_v<T>);
  static constexpr std::size_t kWords = (sizeof(T) + 7) / 8;

 public:
  explicit SeqLock(const T& initial = T{}) { Store(initial); }

  // Writer side; writers must not overlap. Never blocks.
  void Store(const T& value) {
    std::array<std::uint64_t, kWords> words{};
    std::memcpy(words.data(), &value, sizeof(T));
    const std::uint64_t seq = seq_.load(std::memory_order_relaxed);
    seq_.store(seq + 1, std::memory_order_relaxed);
    // A reader that sees any new word also sees the odd count stored above.
    for (std::size_t i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);
    seq_.store(seq + 2, std::memory_order_release);
  }

  // Any thread; spins only while a write is under way (a few nanoseconds).
  T Load() const {
    std::array<std::uint64_t, kWords> words{};
    for (;;) {
      const std::uint64_t before = seq_.load(std::memory_order_acquire);
      if (before & 1) continue;
      for (std::size_t i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == before) break;
    }
    T value;
    std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));
    return value;
  }

 private:
  std::atomic<std::uint64_t> seq_{0};
  std::array<std::atomic<std::uint64_t>, kWords> words_{};
};

}  // namespace pendlo::sound::clock
