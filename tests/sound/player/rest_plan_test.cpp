// The rest's steps on a fake clock: when a stopped beat's output pauses and
// is closed, and when the player must look again.
#include "sound/player/rest_plan.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/fake_clock.h"

namespace pendlo {
namespace {

using sound::player::OutputAtRest;
using sound::player::RestPlan;

struct Row {
  const char* name;
  Micros releaseAfter;         // the plan's (pause after 2 s)
  bool releasable;             // the output may be closed at rest
  bool resting;                // the beat stopped at t0
  Micros at;                   // looked at this long after t0
  OutputAtRest wanted;         // what the output should be then
  std::optional<Micros> next;  // when that changes by itself, after t0
};

TEST(RestPlan, StepsFollowTheTimeSinceTheBeatStopped) {
  constexpr Micros kPause = 2'000'000;
  const Row rows[] = {
      {"playing (a Start): never rests", 1'000'000, true, false, 60'000'000, OutputAtRest::kPlaying,
       std::nullopt},
      {"a short pause plays on", 0, false, true, 1'999'999, OutputAtRest::kPlaying, kPause},
      {"paused once rested long enough", 0, false, true, kPause, OutputAtRest::kPaused,
       std::nullopt},
      {"not releasable: paused for good", 1'000'000, false, true, 600'000'000,
       OutputAtRest::kPaused, std::nullopt},
      {"released before the pause", 1'000'000, true, true, 500'000, OutputAtRest::kPlaying,
       1'000'000},
      {"released: nothing after it", 1'000'000, true, true, 1'000'000, OutputAtRest::kReleased,
       std::nullopt},
      {"paused, then released", 5'000'000, true, true, 3'000'000, OutputAtRest::kPaused, 5'000'000},
      {"paused, then released: released", 5'000'000, true, true, 5'000'000, OutputAtRest::kReleased,
       std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::FakeClock clock;
    RestPlan plan(kPause, row.releaseAfter);
    const Micros t0 = clock.now();
    plan.SetResting(row.resting, t0);
    clock.advance(row.at);
    EXPECT_EQ(plan.Wanted(clock.now(), row.releasable), row.wanted);
    const std::optional<Micros> next = plan.NextChange(clock.now(), row.releasable);
    EXPECT_EQ(next ? std::optional<Micros>(*next - t0) : std::nullopt, row.next);
  }
}

}  // namespace
}  // namespace pendlo
