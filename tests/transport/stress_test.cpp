// The transport with the GUI side hammering tempo, meter, pattern and
// Start/Stop while ticks run at 11 ms on the monotonic clock. Run under
// ThreadSanitizer in CI; here it checks that the position never leaves the
// tables and that the beat keeps going.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "transport/transport.h"

namespace pendlo {
namespace {

// Counts the clicks, on the monotonic clock; ticks are decided 30 ms ahead,
// so most changes take some back.
class CountingLink final : public sound::link::SoundLink {
 public:
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  Micros LookaheadMicros() const override { return 30000; }
  bool Play(const std::string&, Micros) override {
    clicks.fetch_add(1);
    return true;
  }
  Micros HeardAt(Micros due) override { return due; }
  void EnsureOpen() override {}
  std::atomic<int> clicks{0};

 private:
  std::shared_ptr<Clock> clock_ = std::make_shared<MonotonicClock>();
};

TEST(TransportStress, GuiChangesWhileTicking) {
  auto link = std::make_unique<CountingLink>();
  CountingLink& counted = *link;
  Transport beat(std::move(link));
  BeatEngine& engine = beat.Engine();
  std::atomic<bool> badPosition{false};
  beat.SetBarListener([&](int, Micros) {
    const BeatState s = engine.Snapshot();
    if (s.Beat < 1 || s.Beat > kMaxNotes + 1 || s.CurGroup < 1 || s.CurGroup > kMaxGroups)
      badPosition = true;
  });

  const std::vector<std::vector<std::string>> texts = {
      {"9"}, {"35", "/ comment 77"}, {}, {"x"}, {"123456789123456789"}, {std::string(1500, '7')}};
  std::mt19937 rng(42);
  beat.SetMeterSelection(kMeterTuplets);
  beat.ChangeTempo(600);
  beat.ManageHyoushi(texts[0]);
  beat.Start();

  // Rebuilds and position resets come every few hundred microseconds; the
  // changes that re-arm the timer (tempo, meter, Stop/Start) only every 100 ms
  // or so, so that ticks still run between them.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    const auto& text = texts[rng() % texts.size()];
    if (i % 200 != 199) {
      if (rng() % 2) beat.SetMeterSelection(rng() % 2 ? kMeterTuplets : kMeterIrregular);
      beat.ManageHyoushi(text);  // an edit followed by a rebuild
      if (rng() % 4 == 0) beat.ResetPosition();
    } else {
      switch (rng() % 4) {
        case 0:  // tempo change: ChangeTempo, then ManageHyoushi
          beat.ChangeTempo(400 + static_cast<int>(rng() % 201));
          beat.ManageHyoushi(text);
          break;
        case 1:  // meter change, also to "nothing selected"
          beat.SetMeterSelection(static_cast<int>(rng() % 12) - 1);
          beat.ChangeTempo(engine.Snapshot().Tempo);
          beat.ManageHyoushi(text);
          beat.ResetPosition();
          break;
        case 2:  // Stop, then Start
          beat.Stop();
          beat.ManageHyoushi(text);
          beat.Start();
          break;
        default:  // Start while running
          beat.ManageHyoushi(text);
          beat.Start();
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
  }
  beat.Stop();
  EXPECT_FALSE(badPosition.load());
  EXPECT_GT(counted.clicks.load(), 5);
}

}  // namespace
}  // namespace pendlo
