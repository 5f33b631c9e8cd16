// The timer's side of a stream (ClickSchedule), through the feed that wires
// it to a stream rendered by hand: 48 kHz mono, 5 ms buffers, on a fake
// steady clock.
#include "sound/feed/click_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sound/fake_backend.h"
#include "sound/feed/stream_feed.h"
#include "sound/wav_bytes.h"
#include "support/files.h"
#include "support/loaded_clicks.h"

namespace pendlo {
namespace {

using testing::FloatWav;
using testing::gFakeSteady;

constexpr int kFrames = 240;

struct FeedRig {
  Micros at = gFakeSteady = 1'000'000'000;
  testing::TempDir dir;
  std::string marker = dir.Write("m.wav", FloatWav({1.0f, 0.5f}, 48000));
  sound::feed::StreamFeed feed{{0, 16000, 25000, 5000, {}}, &testing::FakeSteady};
  std::vector<float> out;  // every buffer rendered so far

  bool Open(std::initializer_list<std::string> clips) {
    feed.Begin({48000, 1}, kFrames, nullptr, 0);
    return testing::WaitUntilLoaded(feed.Clicks(), clips);
  }
  void Close() {
    feed.Stop();
    feed.End();
  }
  void Render(int buffers) {
    for (int i = 0; i < buffers; ++i, at += 5000) {
      gFakeSteady = at;
      std::vector<float> b(kFrames, -9.0f);
      feed.Target().Render_RT(b.data(), kFrames, at);
      out.insert(out.end(), b.begin(), b.end());
    }
  }
  std::vector<int> Heard(float onset = 1.0f) const {
    std::vector<int> found;
    for (std::size_t i = 0; i < out.size(); ++i)
      if (out[i] == onset) found.push_back(static_cast<int>(i));
    return found;
  }
};

// While a rested output reopens, the clicks played are kept, up to a few
// beats, and heard on their frames on the new stream; a take-back reaches
// them too; a park that keeps nothing drops them.
TEST(ClickSchedule, ClicksPlayedWhileParkedSoundOnTheNextStream) {
  struct Case {
    const char* name;
    bool keep;
    int played;
    bool takeBackSecond;
    std::size_t heard;
  };
  const Case cases[] = {
      {"kept", true, 2, false, 2},
      {"the second taken back", true, 2, true, 1},
      {"not kept", false, 2, false, 0},
      {"at most 16 kept", true, 20, false, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FeedRig rig;
    ASSERT_TRUE(rig.Open({rig.marker}));
    rig.Render(2);
    rig.feed.Park(c.keep);
    rig.Close();
    const Micros due = rig.feed.clock()->now() + 100000;
    for (int k = 0; k < c.played; ++k) EXPECT_TRUE(rig.feed.Play(rig.marker, due + k * 20000));
    if (c.takeBackSecond) {
      EXPECT_EQ(rig.feed.TakeBack(due + 20000), due + 20000);
    }
    rig.out.clear();
    ASSERT_TRUE(rig.Open({}));
    rig.Render(110);
    const std::vector<int> heard = rig.Heard();
    ASSERT_EQ(heard.size(), c.heard);
    for (std::size_t k = 1; k < heard.size(); ++k) EXPECT_EQ(heard[k] - heard[k - 1], 960);
    EXPECT_EQ(rig.feed.Stats().late, 0u);
  }
}

// A click is refused when the output rendered more than 10 ms beyond its
// frame; within that it starts at once, late.
TEST(ClickSchedule, AClickTooLateIsRefusedAndALittleLateStartsAtOnce) {
  FeedRig rig;
  EXPECT_TRUE(rig.feed.Play(rig.marker, rig.feed.clock()->now())) << "no stream: nothing to do";
  ASSERT_TRUE(rig.Open({rig.marker}));
  rig.Render(4);
  const Micros rendered = rig.feed.clock()->RenderedUpTo();
  EXPECT_FALSE(rig.feed.Play(rig.marker, rendered - 10001));
  EXPECT_TRUE(rig.feed.Play(rig.marker, rendered - 9000));
  rig.Render(1);
  EXPECT_EQ(rig.Heard(), (std::vector<int>{4 * kFrames}));
  EXPECT_EQ(rig.feed.Stats().late, 1u);
  EXPECT_EQ(rig.feed.Stats().plays, 1u);
}

// A clip keeps sounding from memory while its file is replaced and the
// loader lets go of it (the sanitizers check that it is still alive), until
// the next click's onset cuts it off.
TEST(ClickSchedule, AClipSoundsOnWhileItsFileIsReplaced) {
  FeedRig rig;
  std::vector<float> longSound(2000, 0.25f);
  longSound[0] = 1.0f;
  const std::string click = rig.dir.Write("click.wav", FloatWav(longSound, 48000));
  ASSERT_TRUE(rig.Open({click}));
  rig.Render(1);
  const Micros due = rig.feed.clock()->now() + 20000;
  ASSERT_TRUE(rig.feed.Play(click, due));
  rig.Render(3);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a new file version
  rig.dir.Write("click.wav", FloatWav({-1.0f, 0.75f, 0.75f}, 48000));
  sound::clips::ClickLoader& clicks = rig.feed.Clicks();
  ASSERT_TRUE(testing::WaitForLoader(clicks, [&] { return clicks.Get(click)->samples[0] == -1; }));
  rig.Render(3);
  ASSERT_TRUE(rig.feed.Play(click, due + 20000));  // 960 frames on
  rig.Render(20);
  ASSERT_EQ(rig.Heard().size(), 1u);
  EXPECT_EQ(rig.feed.Stats().late, 0u);
  const int first = rig.Heard()[0];
  for (int i = first + 1; i < first + 960; ++i) ASSERT_EQ(rig.out[i], 0.25f) << i;
  EXPECT_EQ(rig.Heard(-1.0f), (std::vector<int>{first + 960}));
  EXPECT_EQ(rig.out[first + 963], 0.0f);
}

}  // namespace
}  // namespace pendlo
