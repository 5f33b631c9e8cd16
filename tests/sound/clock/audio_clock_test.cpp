// The audio clock's grid: how a due time becomes a stream frame and back,
// with the clock joined to frame `anchor` at time 0.
#include "sound/clock/audio_clock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace pendlo {
namespace {

Micros SteadyZero() {
  return 0;
}

struct Joined {
  sound::clock::AudioClock clock{&SteadyZero};
  Joined(int rate, std::int64_t anchor) {
    clock.BeginStream(rate);
    clock.Join_RT(anchor, 0.0);
  }
};

// A time falls on its nearest frame; a tie goes to the later frame, so that
// a frame begins half a frame before its own moment.
TEST(AudioClockGrid, ATimeFallsOnItsNearestFrame) {
  struct Case {
    int rate;
    Micros t;
    std::int64_t frame;  // after the anchor
  };
  const Case cases[] = {
      {48000, 1000, 48},                    // whole milliseconds land on whole frames
      {48000, 10, 0},                       // 0.48 of a frame
      {48000, 11, 1},                       // 0.528
      {44100, 11, 0},                       // 0.485
      {44100, 12, 1},                       // 0.529
      {44100, -11, 0},                      // -0.485
      {44100, -12, -1},                     // -0.529
      {50000, 10, 1},                       // exactly half: the later frame
      {50000, -10, 0},                      // exactly half before: the later frame
      {44100, 3'600'000'000, 158'760'000},  // an hour on, exact
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.t << " us");
    for (const std::int64_t anchor : {std::int64_t{0}, std::int64_t{5'000'000'000}}) {
      Joined j(c.rate, anchor);
      EXPECT_EQ(j.clock.FrameAt_RT(c.t), anchor + c.frame);
      std::int64_t frame = 0;
      ASSERT_TRUE(j.clock.FrameAt(c.t, frame));
      EXPECT_EQ(frame, anchor + c.frame);
    }
  }
}

// TimeAt is FrameAt's inverse: the earliest time on each frame.
TEST(AudioClockGrid, TheTimeOfAFrameIsTheEarliestOnIt) {
  for (const int rate : {44100, 48000, 50000, 96000}) {
    SCOPED_TRACE(rate);
    Joined j(rate, 7);
    for (std::int64_t f = -2000; f <= 2000; ++f) {
      const Micros t = j.clock.TimeAt_RT(f);
      Micros shared = 0;
      ASSERT_TRUE(j.clock.TimeAt(f, shared));
      ASSERT_EQ(shared, t);
      ASSERT_EQ(j.clock.FrameAt_RT(t), f) << f;
      ASSERT_EQ(j.clock.FrameAt_RT(t - 1), f - 1) << f;
    }
  }
}

TEST(AudioClockGrid, NoGridWithoutAStream) {
  sound::clock::AudioClock clock(&SteadyZero);
  std::int64_t frame = 0;
  Micros t = 0;
  EXPECT_FALSE(clock.FrameAt(1000, frame));
  EXPECT_FALSE(clock.TimeAt(48, t));
  EXPECT_EQ(clock.TimeAt_RT(48), 0);
}

}  // namespace
}  // namespace pendlo
