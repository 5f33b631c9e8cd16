#include "sound/clock/delay_locked_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace pendlo {
namespace {

// A sound card's callbacks: 256 frames each at the card's true rate, each
// arriving up to `jitterMicros` off its true time. The loop must learn the
// true period per frame (within its limits) and predict the next callback.
TEST(DelayLockedLoop, LearnsTheStreamsTruePaceThroughJitter) {
  struct Case {
    const char* name;
    double trueRate;  // frames per second
    double jitterMicros;
    double expectedPeriod;  // what the loop settles on, microseconds per frame
    double predictMicros;   // how close its prediction comes, once settled
  };
  const Case cases[] = {
      {"exact, no jitter", 48000, 0, 1e6 / 48000, 1},
      {"a card 0.1 % fast, 3 ms of jitter", 48048, 3000, 1e6 / 48048, 2000},
      {"a card 0.5 % slow, 1 ms of jitter", 47760, 1000, 1e6 / 47760, 1000},
      {"a card 5 % off is held at the loop's 2 % limit", 45600, 0, 1e6 / 48000 * 1.02, 1e9},
  };
  constexpr int kFrames = 256;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sound::clock::DelayLockedLoop loop(0.5, 1e6 / 48000, 0.02);
    const double truePeriod = 1e6 / c.trueRate;
    double predicted = 0;  // the first callback is the origin
    double worst = 0;
    std::uint32_t noise = 12345;
    constexpr int kCallbacks = 60 * 48000 / kFrames;  // a minute
    for (int k = 0; k < kCallbacks; ++k) {
      noise = noise * 1664525u + 1013904223u;
      const double jitter = c.jitterMicros * ((noise >> 8) / double(1u << 24) * 2 - 1);
      const double at = k * kFrames * truePeriod + jitter;
      const double error = at - predicted;
      if (k > kCallbacks / 2) worst = std::max(worst, std::abs(error) - c.jitterMicros);
      const double period = loop.Rate();
      predicted += loop.Step(error, kFrames * period * 1e-6, kFrames) + period * kFrames;
    }
    EXPECT_NEAR(loop.Rate(), c.expectedPeriod, c.expectedPeriod * 1e-4);
    EXPECT_LE(worst, c.predictMicros);
  }
}

}  // namespace
}  // namespace pendlo
