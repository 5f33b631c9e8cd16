// The follower of a queue's position reports through a stall: the grid of
// frames moves only when the stream's frames did.
#include "sound/clock/timeline_follower.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace pendlo {
namespace {

constexpr int kRate = 48000;

Micros SteadyZero() {
  return 0;
}

// A stall of the program: reports every 400 ms, each dated 200 us late (and
// but for a re-join, up to a sink's block of 10 ms ahead of the frame heard),
// none for `stall`, then one `blockFrames` ahead, from a stream whose frames
// moved by `movedMicros`.
TEST(PositionFollowerStall, TheGridMovesOnlyWithTheStreamsFrames) {
  struct Case {
    const char* what;
    bool ranDry;
    Micros stall;
    Micros movedMicros;
    double blockFrames;
    bool rejoins;       // a new grid, the clock without a jump
    Micros clockJumps;  // how far the clock steps with the report
  } const cases[] = {
      {"dry 3 s, the report a block ahead", true, 3'000'000, 0, 480, false, 0},
      {"dry 1 s, the report on its frame", true, 1'000'000, 0, 0, false, 0},
      {"dry 8 s, the report half a block ahead", true, 8'000'000, 0, 240, false, 0},
      {"dry, the frames 300 ms later", true, 3'000'000, 300'000, 0, true, 0},
      {"not dry, the server 100 ms ahead", false, 300'000, -100'000, 0, false, 100'000},
  };
  const double blocks[] = {250, 100, 480, 0, 320};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sound::clock::AudioClock clock(&SteadyZero);
    sound::clock::PositionFollower follower(clock);
    clock.BeginStream(kRate);
    const auto report = [&](Micros at, double heard, double block) {
      follower.OnPosition_RT(heard + block, at);
    };
    Micros at = 1'000'000;
    for (int k = 0; k < 10; ++k, at += 400'000)
      report(at + 200, at * 0.048, c.rejoins ? 0 : blocks[k % 5]);
    const double gridBefore = clock.TimeOfFrame_RT(1'000'000);
    if (c.ranDry) follower.OnUnderrun_RT();
    at += c.stall;
    const double shown = clock.ClockAt_RT(static_cast<double>(at));
    // Dated 250 us late.
    const bool wantsMore =
        follower.OnPosition_RT((at - c.movedMicros) * 0.048 + c.blockFrames, at + 250);
    EXPECT_EQ(wantsMore, c.rejoins);
    if (c.rejoins) {
      // Seven more asked for at once, each dated late by its reply's delay,
      // 200 us in the middle, as before the stall; frames between samples.
      const Micros late[] = {1500, 200, 0, 200, 150, 700, 100};
      for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(clock.Anchors(), 1u) << "joined before the last report";
        const Micros read = at + 1010 * (k + 1);
        EXPECT_EQ(
            follower.OnPosition_RT((read - c.movedMicros) * 0.048 + c.blockFrames, read + late[k]),
            k < 6);
      }
      // The old grid, moved by the frames the stream stood still.
      EXPECT_NEAR(clock.TimeOfFrame_RT(1'000'000 - c.movedMicros * 0.048), gridBefore, 1.0);
    }

    EXPECT_EQ(clock.Anchors(), c.rejoins ? 2u : 1u);
    if (!c.rejoins) {
      EXPECT_EQ(clock.TimeOfFrame_RT(1'000'000), gridBefore);
    }
    const double step = clock.ClockAt_RT(static_cast<double>(at)) - shown;
    // A re-join continues from the clock's time; otherwise the clock moves
    // within a loop's step of a block's error, or the whole way to a report
    // far off (less the block the loop had learnt).
    EXPECT_NEAR(step, static_cast<double>(c.clockJumps), c.rejoins ? 1.0 : 10000.0);
  }
}

}  // namespace
}  // namespace pendlo
