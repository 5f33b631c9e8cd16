// The engine and the timer together, with the GUI side hammering tempo,
// meter, pattern and Start/Stop while ticks run at 11 ms. Run under
// ThreadSanitizer in CI; here it checks that the position never leaves the
// tables and that the beat keeps going.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "engine/tick_sequencer.h"
#include "timer/mmtimer.h"

namespace pendlo {
namespace {

// Applies each tick's decision as the transport does: the period, then the
// click (counted).
class StressEffects final {
 public:
  explicit StressEffects(TMMTimer& timer) : timer_(timer) {}
  void Apply(const TickDecision& d) {
    if (d.nextInterval != 0) timer_.SetInterval(d.nextInterval);
    (d.click == Click::Accent ? accents : plains).fetch_add(1, std::memory_order_relaxed);
  }
  std::atomic<int> accents{0}, plains{0};

 private:
  TMMTimer& timer_;
};

TEST(EngineTimerStress, GuiChangesWhileTicking) {
  BeatEngine engine;
  TMMTimer timer;
  StressEffects effects(timer);
  TickSequencer sequencer(engine);
  std::atomic<bool> badPosition{false};
  timer.SetOnTimer([&](TMMTimer& t) {
    effects.Apply(sequencer.MMTimerTimer(t.DueTime()));
    const BeatState s = engine.Snapshot();
    if (s.Beat < 1 || s.Beat > kMaxNotes + 1 || s.CurGroup < 1 || s.CurGroup > kMaxGroups)
      badPosition = true;
  });
  timer.SetEnabled(false);
  timer.Loaded();

  const std::vector<std::vector<std::string>> texts = {
      {"9"}, {"35", "/ comment 77"}, {}, {"x"}, {"123456789123456789"}, {std::string(1500, '7')}};
  std::mt19937 rng(42);
  engine.SetMeterSelection(kMeterTuplets);
  timer.SetInterval(static_cast<std::uint32_t>(engine.ChangeTempo(600)));
  engine.ManageHyoushi(texts[0]);
  engine.ResetPosition();
  timer.SetEnabled(true);

  // Rebuilds and position resets come every few hundred microseconds; the
  // changes that re-arm the timer (tempo, meter, Stop/Start) only every 100 ms
  // or so, so that ticks still run between them.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    const auto& text = texts[rng() % texts.size()];
    if (i % 200 != 199) {
      if (rng() % 2) engine.SetMeterSelection(rng() % 2 ? kMeterTuplets : kMeterIrregular);
      engine.ManageHyoushi(text);  // an edit followed by a rebuild
      if (rng() % 4 == 0) engine.ResetPosition();
    } else {
      switch (rng() % 4) {
        case 0:  // tempo change: ChangeTempo, then ManageHyoushi
          timer.SetInterval(static_cast<std::uint32_t>(engine.ChangeTempo(400 + rng() % 201)));
          engine.ManageHyoushi(text);
          break;
        case 1:  // meter change, also to "nothing selected"
          engine.SetMeterSelection(static_cast<int>(rng() % 12) - 1);
          timer.SetInterval(
              static_cast<std::uint32_t>(engine.ChangeTempo(engine.Snapshot().Tempo)));
          engine.ManageHyoushi(text);
          engine.ResetPosition();
          break;
        case 2:  // Stop, then Start
          timer.SetEnabled(false);
          engine.ManageHyoushi(text);
          engine.ResetPosition();
          timer.SetEnabled(true);
          break;
        default:  // Start while running
          engine.ManageHyoushi(text);
          engine.ResetPosition();
          timer.SetEnabled(true);
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
  }
  timer.SetEnabled(false);
  EXPECT_FALSE(badPosition.load());
  EXPECT_GT(effects.accents.load() + effects.plains.load(), 5);
}

}  // namespace
}  // namespace pendlo
