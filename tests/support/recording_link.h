// A sound output that records what the ticks play, on a fake clock: 'A' for
// a click of "pi.wav", 'p' for one of "po.wav", '!' for one played while
// the beat lock was held (a slow output would then hold up every change the
// window makes).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/beat_state.h"
#include "sound/sound_link.h"
#include "support/fake_clock.h"

namespace pendlo::testing {

class RecordingLink final : public SoundLink {
 public:
  // Each click is heard this long after its due time.
  static constexpr Micros kHeardAfter = 5000;

  explicit RecordingLink(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  void Play(const std::string& path, Micros due) override {
    bool lockFree = true;
    if (engine != nullptr) {
      std::thread([&] {
        lockFree = engine->Mutex().try_lock();
        if (lockFree) engine->Mutex().unlock();
      }).join();
    }
    std::lock_guard lock(mutex_);
    clicks_ += !lockFree                  ? '!'
               : path.ends_with("pi.wav") ? 'A'
               : path.ends_with("po.wav") ? 'p'
                                          : '?';
    dues_.push_back(due);
  }
  Micros HeardAt(Micros due) override { return due + kHeardAfter; }
  void EnsureOpen() override {}
  void Rest(bool r) override { resting = r; }

  std::string Clicks() {
    std::lock_guard lock(mutex_);
    return clicks_;
  }
  std::vector<Micros> Dues() {
    std::lock_guard lock(mutex_);
    return dues_;
  }
  // The beat whose lock Play checks; none: not checked.
  BeatEngine* engine = nullptr;
  std::atomic<bool> resting{false};  // as the transport last said

 private:
  std::shared_ptr<FakeClock> clock_;
  std::mutex mutex_;
  std::string clicks_;
  std::vector<Micros> dues_;
};

}  // namespace pendlo::testing
