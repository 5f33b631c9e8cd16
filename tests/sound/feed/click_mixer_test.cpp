// The mixer on a clock joined to frame 0 at time 0, 48 kHz mono, 5 ms
// buffers rendered by hand: clicks start on their frames, a new one cuts
// off the one sounding, and a take-back says exactly what still sounds.
#include "sound/feed/click_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace pendlo {
namespace {

constexpr int kFrames = 240;

Micros SteadyZero() {
  return 0;
}

// A mono clip whose first sample is `onset`, then `rest` for `frames` - 1.
sound::clips::SoundClip Clip(float onset, float rest, std::size_t frames) {
  sound::clips::SoundClip c{{48000, 1}, std::vector<float>(frames, rest)};
  c.samples[0] = onset;
  return c;
}

struct Rig {
  sound::clock::AudioClock clock{&SteadyZero};
  sound::feed::ClickMixer mixer;
  std::vector<float> out;  // every buffer rendered so far
  Rig() {
    clock.BeginStream(48000);
    clock.Join_RT(0, 0.0);
  }
  void Render(int buffers) {
    for (int i = 0; i < buffers; ++i) {
      std::vector<float> b(kFrames, -9.0f);
      mixer.Render_RT(b.data(), kFrames, 1, static_cast<std::int64_t>(out.size()), clock);
      out.insert(out.end(), b.begin(), b.end());
    }
  }
  std::vector<int> Heard(float onset = 1.0f) const {
    std::vector<int> at;
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_NE(out[i], -9.0f) << "sample " << i << " left unwritten";
      if (out[i] == onset) at.push_back(static_cast<int>(i));
    }
    return at;
  }
};

TEST(ClickMixer, ANewClickCutsOffTheOneSoundingAtItsOnset) {
  Rig rig;
  const auto longClick = Clip(1.0f, 0.25f, 2000);
  const auto shortClick = Clip(-1.0f, 0.75f, 3);
  rig.mixer.Schedule(&longClick, 5000);        // frame 240
  rig.mixer.Schedule(&shortClick, 15000);      // frame 720
  rig.mixer.Schedule(&shortClick, 15000 + 1);  // the same frame: it starts again
  rig.Render(20);
  EXPECT_EQ(rig.Heard(), (std::vector<int>{240}));
  for (int i = 241; i < 720; ++i) ASSERT_EQ(rig.out[i], 0.25f) << i;
  EXPECT_EQ(rig.Heard(-1.0f), (std::vector<int>{720}));
  EXPECT_TRUE(std::all_of(rig.out.begin() + 723, rig.out.end(), [](float v) { return v == 0; }));
  // Every clip is done with: the mixer holds none of them any more.
  EXPECT_EQ(rig.mixer.DoneBefore(), 4u);
}

// Three clicks due 10, 40 (or nearer) and 50 ms on; the first lasts 20 ms
// and has begun when the take-back comes, with the buffers up to 15 ms
// rendered. What sounds is what was rendered plus what the take-back leaves.
TEST(ClickMixer, ATakeBackReachesEveryClickNotYetRendered) {
  struct Case {
    const char* name;
    int from;                // take back from this click's due time; 3: after all
    std::vector<int> heard;  // onset frames
    Micros taken;            // from when all were taken back
    Micros secondDue = 40000;
  };
  // Frame 720 begins half a frame before 15 ms.
  const Case cases[] = {
      {"from the sounding one: it plays out, no other", 0, {480}, 14990},
      {"from the last", 2, {480, 1920}, 50000},
      {"from after all: nothing taken back", 3, {480, 1920, 2400}, 50001},
      {"from one already rendered: it plays", 1, {480, 576}, 14990, 12000},
      {"from one just within reach", 1, {480}, 15000, 15000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const auto longClick = Clip(1.0f, 0.25f, 960);
    const auto marker = Clip(1.0f, 0.5f, 3);
    const Micros dues[] = {10000, c.secondDue, 50000, 50001};
    for (int k = 0; k < 3; ++k) rig.mixer.Schedule(k ? &marker : &longClick, dues[k]);
    rig.Render(3);
    EXPECT_EQ(rig.mixer.TakeBack(dues[c.from]), c.taken);
    rig.Render(17);
    EXPECT_EQ(rig.Heard(), c.heard);
    const int cut = c.heard.size() > 1 ? std::min(1440, c.heard[1]) : 1440;
    EXPECT_TRUE(std::all_of(rig.out.begin() + 481, rig.out.begin() + cut, [](float v) {
      return v == 0.25f;
    })) << "the sounding click was cut";
    EXPECT_EQ(rig.mixer.Counts().TakenBack(), 3 - c.heard.size());
  }
}

// The callback renders on its own thread while a take-back races it: the
// take-back may be seen by the buffer being rendered or only by the next,
// and either way it says exactly from when it held. Clicks due 1 and 3 ms
// into the racing buffer and 2 ms into the next; taken back from the second.
TEST(ClickMixer, RacingTheCallbackATakeBackSaysExactlyWhatSounds) {
  Rig rig;
  const auto marker = Clip(1.0f, 0.5f, 3);
  constexpr int kBuffers = 600;
  std::atomic<int> allowed{1}, rendered{0};
  std::thread callback([&] {
    for (int b = 0; b < kBuffers; ++b) {
      while (allowed.load() <= b) std::this_thread::yield();
      rig.Render(1);
      rendered = b + 1;
    }
  });
  std::vector<int> kept;
  for (int b = 1; b + 2 < kBuffers; b += 3) {
    while (rendered.load() < b) std::this_thread::yield();
    const Micros start = b * 5000;
    const Micros dues[] = {start + 1000, start + 3000, start + 7000};
    for (Micros due : dues) rig.mixer.Schedule(&marker, due);
    allowed = b + 1;  // buffer b renders meanwhile, begun a varying while ago
    for (std::atomic<int> spin{b * 7919 % 2000}; spin > 0; --spin) {
    }
    const Micros reach = rig.mixer.TakeBack(dues[1]);
    for (Micros due : dues)
      if (due < reach) kept.push_back(static_cast<int>(due * 48 / 1000));
    allowed = b + 3;
  }
  allowed = kBuffers;
  callback.join();
  EXPECT_EQ(rig.Heard(), kept);
  EXPECT_EQ(rig.mixer.Counts().Late(), 0u);
}

}  // namespace
}  // namespace pendlo
