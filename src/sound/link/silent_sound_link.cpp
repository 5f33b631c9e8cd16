#include <chrono>

#include "sound/link/sound_link.h"

namespace pendlo::sound::link {

namespace {

class SilentLink final : public SoundLink {
 public:
  explicit SilentLink(std::shared_ptr<Clock> clock)
      : clock_(clock ? std::move(clock) : std::make_shared<MonotonicClock>()) {}

  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  bool Play(const std::string&, Micros) override { return true; }
  Micros HeardAt(Micros due) override {
    // Map the clock's time to the steady clock through the present moment.
    return steadyNowMicros() + (due - clock_->now());
  }
  void EnsureOpen() override {}

 private:
  std::shared_ptr<Clock> clock_;
};

}  // namespace

std::unique_ptr<SoundLink> SilentSoundLink(std::shared_ptr<Clock> clock) {
  return std::make_unique<SilentLink>(std::move(clock));
}

}  // namespace pendlo::sound::link
