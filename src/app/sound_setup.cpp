#include "app/sound_setup.h"

#include <stdexcept>

#include "sound/click_player.h"

namespace pendlo::app {

namespace {

class PlayerLink final : public SoundLink {
 public:
  std::shared_ptr<Clock> TimerClock() override { return player_.clock(); }
  void Play(const std::string& path, Micros due) override { player_.Play(path, due); }
  Micros HeardAt(Micros due) override { return player_.HeardAtSteady(due); }
  void Prepare(const std::string& path) override { player_.Clicks().Request(path); }
  void Rest(bool resting) override { player_.Rest(resting); }
  void EnsureOpen() override {
    player_.EnsureOpen();
    // The player keeps each failure until taken, and gives it only once.
    const std::string error = player_.TakeError();
    if (!error.empty()) throw std::runtime_error(error);
  }
  void SetOnFailure(std::function<void()> onFailure) override {
    player_.SetOnFailure(std::move(onFailure));
  }
  void ReportFailure() override {
    const std::string error = player_.TakeError();
    if (!error.empty()) throw std::runtime_error(error);
  }

 private:
  ClickPlayer player_;
};

}  // namespace

std::unique_ptr<SoundLink> SystemSoundLink() {
  return std::make_unique<PlayerLink>();
}

}  // namespace pendlo::app
