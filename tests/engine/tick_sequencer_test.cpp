#include "engine/tick_sequencer.h"

#include <gtest/gtest.h>

#include <string>

namespace pendlo {
namespace {

// Plays the part of the transport and its timer: each period starts at the
// previous tick and lasts the interval in force once that tick's decision has
// been applied.
class SimulatedTimer final {
 public:
  SimulatedTimer(BeatEngine& engine, int interval) : sequencer_(engine), interval_(interval) {}

  // Runs n ticks; returns "A"/"p" per tick and records the gaps between them.
  std::string Run(int n) {
    std::string clicks;
    for (int i = 0; i < n; ++i) {
      now_ += interval_;
      gaps.push_back(interval_);
      const TickDecision d = sequencer_.MMTimerTimer(now_ * 1000);
      EXPECT_EQ(d.dueMicros, now_ * 1000);
      if (d.nextInterval != 0) interval_ = static_cast<int>(d.nextInterval);
      clicks += d.click == Click::Accent ? 'A' : 'p';
    }
    return clicks;
  }
  void SetInterval(int ms) { interval_ = ms; }

  std::vector<int> gaps;

 private:
  TickSequencer sequencer_;
  int interval_;
  std::int64_t now_ = 0;
};

// Start: the pattern is rebuilt and the position reset; the timer keeps the
// interval it has.
void Start(BeatEngine& engine, int meter, int tempo, std::vector<std::string> lines) {
  engine.SetMeterSelection(meter);
  engine.ChangeTempo(tempo);
  engine.ManageHyoushi(lines);
  engine.ResetPosition();
}

TEST(TickSequencerTest, AccentsFollowThePattern) {
  const struct {
    const char* name;
    int meter;
    std::vector<std::string> lines;
    const char* clicks;
  } rows[] = {
      {"meter 1: every tick an accent", 0, {}, "AAAAAA"},
      {"meter 4", 3, {}, "ApppAppp"},
      {"irregular 32", kMeterIrregular, {"32"}, "AppApAppAp"},
      {"nothing selected: every tick an accent", -1, {}, "AAAA"},
      {"empty irregular pattern: every tick an accent", kMeterIrregular, {"no digits"}, "AAAA"},
      {"tuplets 35", kMeterTuplets, {"35"}, "AppAppppApp"},
  };
  for (const auto& row : rows) {
    BeatEngine engine;
    Start(engine, row.meter, 60, row.lines);
    SimulatedTimer timer(engine, 1000);
    EXPECT_EQ(timer.Run(static_cast<int>(std::string(row.clicks).size())), row.clicks) << row.name;
  }
}

TEST(TickSequencerTest, EmptyTupletPatternKeepsTheBeatInsteadOfStopping) {
  BeatEngine engine;
  Start(engine, kMeterTuplets, 120, {"3"});
  engine.ManageHyoushi({"text without digits"});
  SimulatedTimer timer(engine, 500);
  EXPECT_EQ(timer.Run(4), "AAAA");
  EXPECT_EQ(timer.gaps, (std::vector<int>{500, 500, 500, 500}));
}

TEST(TickSequencerTest, TempoChangeInTupletModeKeepsThePosition) {
  BeatEngine engine;
  Start(engine, kMeterTuplets, 60, {"3"});
  SimulatedTimer timer(engine, 1000);
  EXPECT_EQ(timer.Run(2), "Ap");
  // The scroll bar's handler: ChangeTempo sets the timer to the new beat,
  // then the pattern is rebuilt; Beat and CurGroup stay.
  timer.SetInterval(engine.ChangeTempo(120));
  engine.ManageHyoushi({"3"});
  EXPECT_EQ(timer.Run(4), "pApp");
  EXPECT_EQ(timer.gaps, (std::vector<int>{1000, 334, 500, 166, 167, 167}));
}

TEST(TickSequencerTest, AShrunkPatternReturnsToGroupOneAfterTheCurrentGroup) {
  BeatEngine engine;
  Start(engine, kMeterIrregular, 120, {"2222"});
  SimulatedTimer timer(engine, 500);
  EXPECT_EQ(timer.Run(7), "ApApApA");  // now in group 4, beat 2
  engine.ManageHyoushi({"3"});         // a tempo change rebuilds with the new text
  EXPECT_EQ(timer.Run(5), "pAppA");
  const BeatState s = engine.Snapshot();
  EXPECT_EQ(s.CurGroup, 1);
}

TEST(TickSequencerTest, TupletModeWithoutADefinedPatternLeavesTheIntervalAlone) {
  BeatEngine engine;
  Start(engine, kMeterTuplets, 60, {});
  ASSERT_FALSE(engine.PatternDefined());
  SimulatedTimer timer(engine, 1000);
  EXPECT_EQ(timer.Run(3), "AAA");
  EXPECT_EQ(timer.gaps, (std::vector<int>{1000, 1000, 1000}));
}

}  // namespace
}  // namespace pendlo
