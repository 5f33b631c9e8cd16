// A sound output that records what the ticks play, on a fake clock: 'A' for
// a click of "pi.wav", 'p' for one of "po.wav", '!' for one played while
// the beat lock was held (a slow output would then hold up every change the
// window makes). Like a real output it keeps what was played minus what was
// taken back, takes back nothing it has committed, and it asks for the
// lookahead it is given.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/beat_state.h"
#include "sound/link/sound_link.h"
#include "support/fake_clock.h"

namespace pendlo::testing {

class RecordingLink final : public sound::link::SoundLink {
 public:
  // Each click is heard this long after its due time.
  static constexpr Micros kHeardAfter = 5000;

  explicit RecordingLink(std::shared_ptr<FakeClock> clock, Micros lookahead = 0)
      : clock_(std::move(clock)), lookahead_(lookahead) {}
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  Micros LookaheadMicros() const override { return lookahead_; }
  bool Play(const std::string& path, Micros due) override {
    bool lockFree = true;
    if (engine != nullptr) {
      std::thread([&] {
        lockFree = engine->Mutex().try_lock();
        if (lockFree) engine->Mutex().unlock();
      }).join();
    }
    std::lock_guard lock(mutex_);
    played_.emplace_back(!lockFree                  ? '!'
                         : path.ends_with("pi.wav") ? 'A'
                         : path.ends_with("po.wav") ? 'p'
                                                    : '?',
                         due);
    return true;
  }
  Micros TakeBack(Micros from) override {
    const Micros now = clock_->now();
    std::lock_guard lock(mutex_);
    // A click already begun cannot be taken back: it counts as heard.
    if (from <= now) ++begunTakenBack_;
    const Micros horizon = std::max({from, now + 1, now + committed.load()});
    std::erase_if(played_, [&](const auto& p) { return p.second >= horizon; });
    return horizon;
  }
  Micros HeardAt(Micros due) override { return due + kHeardAfter + heardShift; }
  void EnsureOpen() override {}
  void Rest(bool r) override { resting = r; }

  // What sounds, in the order played: each click and its due time.
  std::vector<std::pair<char, Micros>> Played() {
    std::lock_guard lock(mutex_);
    return played_;
  }
  std::string Clicks() {
    std::string clicks;
    for (const auto& p : Played()) clicks += p.first;
    return clicks;
  }
  std::vector<Micros> Dues() {
    std::vector<Micros> dues;
    for (const auto& p : Played()) dues.push_back(p.second);
    return dues;
  }
  // Take-backs asked for clicks that had already begun.
  int BegunTakenBack() {
    std::lock_guard lock(mutex_);
    return begunTakenBack_;
  }
  // The beat whose lock Play checks; none: not checked.
  BeatEngine* engine = nullptr;
  std::atomic<bool> resting{false};  // as the transport last said
  // Added to when a click is heard: puts the window's flash in the future.
  std::atomic<Micros> heardShift{0};
  // How far past now the output has committed its clicks: those due before
  // then stay when taken back, as in a buffer already rendered.
  std::atomic<Micros> committed{0};

 private:
  std::shared_ptr<FakeClock> clock_;
  const Micros lookahead_;
  std::mutex mutex_;
  std::vector<std::pair<char, Micros>> played_;
  int begunTakenBack_ = 0;
};

}  // namespace pendlo::testing
