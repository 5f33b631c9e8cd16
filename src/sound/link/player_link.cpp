#include "sound/link/player_link.h"

#include <stdexcept>

namespace pendlo::sound::link {
namespace {

class PlayerLink final : public SoundLink {
 public:
  explicit PlayerLink(std::unique_ptr<player::ClickPlayer> player) : player_(std::move(player)) {}

  std::shared_ptr<Clock> TimerClock() override { return player_->Feed().clock(); }
  Micros LookaheadMicros() const override { return player_->Feed().LookaheadMicros(); }
  bool Play(const std::string& path, Micros due) override {
    return player_->Feed().Play(path, due);
  }
  Micros TakeBack(Micros from) override { return player_->Feed().TakeBack(from); }
  Micros HeardAt(Micros due) override { return player_->Feed().HeardAtSteady(due); }
  void Prepare(const std::string& path) override { player_->Feed().Clicks().Request(path); }
  void PrepareAccent(const std::string& path) override {
    player_->Feed().Clicks().RequestAccent(path);
  }
  void Rest(bool resting) override { player_->Rest(resting); }
  void EnsureOpen() override {
    player_->EnsureOpen();
    // The player keeps each failure until taken, and gives it only once.
    ReportFailure();
  }
  void SetOnFailure(std::function<void()> onFailure) override {
    player_->SetOnFailure(std::move(onFailure));
  }
  void SetOnRecovered(std::function<void()> onRecovered) override {
    player_->SetOnRecovered(std::move(onRecovered));
  }
  void ReportFailure() override {
    const std::string error = player_->TakeError();
    if (!error.empty()) throw std::runtime_error(error);
  }

 private:
  std::unique_ptr<player::ClickPlayer> player_;
};

}  // namespace

std::unique_ptr<SoundLink> SystemSoundLink() {
  return PlayerSoundLink(std::make_unique<player::ClickPlayer>());
}

std::unique_ptr<SoundLink> PlayerSoundLink(std::unique_ptr<player::ClickPlayer> player) {
  return std::make_unique<PlayerLink>(std::move(player));
}

}  // namespace pendlo::sound::link
