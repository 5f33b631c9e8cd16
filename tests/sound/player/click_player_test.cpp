// The player's feeders and clock followers offline: a fake device whose
// callbacks (or position reports) the test calls at chosen steady times,
// with a fake steady clock, clicks queued up to a few lookaheads ahead, so
// the placement of every click can be checked to the frame.
#include "sound/player/click_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sound/fake_backend.h"
#include "sound/wav_bytes.h"
#include "support/files.h"
#include "support/loaded_clicks.h"

namespace pendlo {
namespace {

using sound::player::PlayerOptions;
using testing::FakeDevice;
using testing::gFakeSteady;

// Options for a player on a fake device: nothing runs by itself (no
// reconnecting thread); the test drives every callback.
PlayerOptions Offline(int frames, Micros serverMicros = 0, Micros wakeMargin = 16000) {
  PlayerOptions o;
  o.bufferFrames = frames;
  o.serverBufferMicros = serverMicros;
  o.wakeMarginMicros = wakeMargin;
  o.reconnectMicros = 0;
  o.queueMarginMicros = 5000;
  return o;
}

// Options whose supervisor rests the output as soon as the beat stops and
// tries a lost one again after `retry`.
PlayerOptions RestingAtOnce(Micros retry) {
  PlayerOptions o = Offline(480);
  o.reconnectMicros = retry;
  o.restAfterMicros = 0;
  o.releaseAfterMicros = 1;
  return o;
}

// A player on a fake device from steady time 1e9 on. The marker click
// starts with exactly 1.0, so its onset can be found to the frame.
struct Rig {
  FakeDevice device;
  std::unique_ptr<sound::player::ClickPlayer> player;
  testing::TempDir dir;
  std::string marker;

  Rig(sound::clips::StreamFormat format, const PlayerOptions& options, bool releasable = false) {
    device.format = format;
    device.releasable = releasable;
    gFakeSteady = 1'000'000'000;
    player = std::make_unique<sound::player::ClickPlayer>(
        std::make_unique<testing::FakeBackend>(device), options, &testing::FakeSteady);
    marker = Clip("marker.wav", {1.0f, 0.5f, 0.25f});
  }
  sound::clock::AudioClock& clock() { return *player->Feed().clock(); }
  sound::feed::StreamFeed& feed() { return player->Feed(); }
  // A mono clip at the stream's rate; its path.
  std::string Clip(const std::string& name, const std::vector<float>& samples) {
    return dir.Write(name,
                     testing::FloatWav(samples, static_cast<std::uint32_t>(device.format.rate)));
  }
  // A click of `frames` frames: 1.0, then 0.25 to its end.
  std::string LongClick(std::size_t frames) {
    std::vector<float> samples(frames, 0.25f);
    samples[0] = 1.0f;
    return Clip("long.wav", samples);
  }
  // Opens the output with the marker and `more` read, as the window has
  // them read at start-up and at every Start.
  bool Open(std::initializer_list<std::string> more = {}) {
    return player->EnsureOpen() && testing::WaitUntilLoaded(feed().Clicks(), {marker}) &&
           testing::WaitUntilLoaded(feed().Clicks(), more);
  }
  // Appends to `onsets` the frames (channel 0) where a click starts, above
  // 0.5, in the buffer rendered from stream frame `first`; checks that the
  // mixer wrote every sample.
  static void Onsets(const std::vector<float>& buffer, int channels, std::int64_t first,
                     std::vector<std::int64_t>& onsets) {
    for (std::size_t i = 0; i < buffer.size(); ++i) {
      EXPECT_NE(buffer[i], -9.0f) << "sample " << i << " left unwritten";
      if (i % channels == 0 && buffer[i] > 0.5f) onsets.push_back(first + i / channels);
    }
  }
  // Renders `callbacks` buffers 10 ms apart after steady time `at`; the
  // onsets in them, counted from the first frame rendered.
  std::vector<std::int64_t> Listen(int callbacks, Micros& at) {
    std::vector<std::int64_t> onsets;
    for (int i = 0; i < callbacks; ++i)
      Onsets(device.Render(at += 10000), device.format.channels, i * device.frames, onsets);
    return onsets;
  }
};

// The beat timer between the device's events: tick k is due firstDue +
// k * interval and played (clip k % clips) when the timer wakes for it,
// `ahead` of its due time on the player's clock and up to 1.5 ms late.
struct Timer {
  Rig& rig;
  Micros firstDue, interval, ahead;
  int ticks;
  std::vector<std::string> clips{rig.marker};
  std::vector<Micros> woke{};  // the steady time each tick was played at
  std::mt19937 random{1};
  Micros late = 0;  // how late the timer wakes for the next tick
  Micros lastNow = 0;

  Micros Due(std::int64_t k) const { return firstDue + k * interval; }
  bool Done() const { return static_cast<int>(woke.size()) == ticks; }

  // Plays every tick whose wake-up comes by steady time `until`, when the
  // device's next event comes. Checks that the timer sees its deadline on
  // waking and that the clock never steps back.
  void PlayUntil(Micros until) {
    sound::clock::AudioClock& clock = rig.clock();
    ASSERT_GE(clock.now(), lastNow);
    while (!Done()) {
      const Micros due = Due(static_cast<std::int64_t>(woke.size()));
      const Micros wakeAt = clock.SteadyAt(due - ahead) + late;
      if (wakeAt > until) break;
      gFakeSteady = wakeAt;
      ASSERT_GE(clock.now(), due - ahead);
      rig.feed().Play(clips[woke.size() % clips.size()], due);
      woke.push_back(wakeAt);
      late = std::uniform_int_distribution<Micros>(0, 1500)(random);
    }
    lastNow = clock.now();
  }

  // The first of `onsets` (stream frames, the stream joined at frame 0 at
  // time `origin`) more than half a frame from its tick's due time; -1 if
  // none.
  int FirstOffTheGrid(const std::vector<std::int64_t>& onsets, Micros origin, int rate) const {
    for (std::size_t k = 0; k < onsets.size(); ++k) {
      const std::int64_t error2 = 2 * (onsets[k] * 1'000'000 - (Due(k) - origin) * rate);
      if (std::abs(error2) > 1'000'000) return static_cast<int>(k);
    }
    return -1;
  }
};

TEST(ClickPlayerOffline, OnsetsLandOnTheExactFramesWithoutDrift) {
  struct Case {
    const char* name;
    sound::clips::StreamFormat format;
    int frames;
    int intervalMs;
    double streamSpeed;  // the device's clock against the monotonic clock
    Micros ahead;        // how long before its due time each click is queued
  };
  const Case cases[] = {
      {"64 frames, 48 kHz, 7 ms, stream 0.1 % fast", {48000, 2}, 64, 7, 1.001, 8000},
      // Fractional frames per ms; three lookaheads ahead.
      {"441 frames, 44.1 kHz, 11 ms, 75 ms ahead", {44100, 2}, 441, 11, 1.0, 75000},
      {"1024 frames, 48 kHz, 3 ms: many per buffer, 0.1 % slow", {48000, 2}, 1024, 3, 0.999, 50000},
  };
  constexpr int kTicks = 100000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.format, Offline(c.frames));
    ASSERT_TRUE(rig.Open());
    // Callbacks come up to 30 % of a period early or late.
    std::mt19937 random(42);
    const double period = c.frames * 1e6 / (c.format.rate * c.streamSpeed);
    std::uniform_real_distribution<double> jitter(-0.3 * period, 0.3 * period);
    const Micros start = gFakeSteady.load();  // the first callback: where the clock anchors
    rig.device.Render(start);
    Timer timer{rig, rig.clock().now() + c.ahead + 30000, c.intervalMs * 1000, c.ahead, kTicks};
    std::vector<std::int64_t> onsets;
    std::size_t mostInOneBuffer = 0;
    for (std::int64_t n = 1; onsets.size() < kTicks && !HasFatalFailure(); ++n) {
      const Micros at = start + static_cast<Micros>(n * period + jitter(random));
      timer.PlayUntil(at);
      const std::size_t before = onsets.size();
      Rig::Onsets(rig.device.Render(at), c.format.channels, n * c.frames, onsets);
      mostInOneBuffer = std::max(mostInOneBuffer, onsets.size() - before);
    }
    ASSERT_EQ(onsets.size(), std::size_t{kTicks});
    // Exact: within half a frame of due * rate.
    const int off = timer.FirstOffTheGrid(onsets, start, c.format.rate);
    EXPECT_EQ(off, -1) << "at frame " << onsets[std::max(off, 0)];
    EXPECT_EQ(rig.player->Stats().late, 0u);
    EXPECT_EQ(rig.player->Stats().anchors, 1u);
    if (c.intervalMs * c.format.rate / 1000 < c.frames / 3) {
      EXPECT_GE(mostInOneBuffer, 3u);
    }
  }
}

// Callbacks of 10 ms stop for a while, then come again (catching up with
// quick ones): within what the server holds the sound had no gap and the
// grid stays; beyond it the clock bridges the stall on the monotonic clock
// and re-joins the stream without stepping back. Clicks queued after it are
// exact either way.
TEST(ClickPlayerOffline, ACallbackGapKeepsTheGridOrIsBridgedAndRejoined) {
  struct Case {
    const char* name;
    Micros gap;   // from the last callback to the next
    Micros held;  // what the server holds ahead
    int catchUp;  // quick callbacks after the gap
    std::uint64_t anchors;
  };
  const Case cases[] = {
      {"70 ms, the server holding 100 ms: the same grid", 70000, 100000, 6, 1},
      {"310 ms, the server holding one callback: re-joined", 310000, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({48000, 2}, Offline(480, c.held));
    ASSERT_TRUE(rig.Open());
    sound::clock::AudioClock& clock = rig.clock();
    Micros at = gFakeSteady.load();
    for (int i = 0; i < 100; ++i) rig.device.Render(at += 10000);
    // Meanwhile the clock runs on at the monotonic pace.
    const Micros before = clock.now();
    gFakeSteady = at + c.gap - 10000;
    EXPECT_NEAR(clock.now() - before, c.gap - 10000, 100);
    const Micros shown = clock.now();
    rig.device.Render(at += c.gap);
    for (int i = 0; i < c.catchUp; ++i) rig.device.Render(at += 1000);
    EXPECT_EQ(clock.Anchors(), c.anchors);
    EXPECT_GE(clock.now(), shown);
    const Micros due = clock.now() + 15000;
    for (int k = 0; k < 4; ++k) rig.feed().Play(rig.marker, due + k * 20000);
    const auto onsets = rig.Listen(12, at);
    ASSERT_EQ(onsets.size(), 4u);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(onsets[k] - onsets[k - 1], 960);
  }
}

TEST(ClickPlayerOffline, WithoutADeviceTheClockRunsAndTheFailureIsReportedOnce) {
  Rig rig({48000, 2}, Offline(512));
  FakeDevice& device = rig.device;
  sound::player::ClickPlayer& player = *rig.player;
  device.available = false;
  const Micros t0 = gFakeSteady.load();

  // Start-up, then two Starts: tried each time, reported once.
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), std::string(sound::player::kNoSoundMessage) + " (no device)");
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), "");
  EXPECT_EQ(device.opens, 3);
  // The beat keeps time on the monotonic clock; playing is a no-op.
  EXPECT_EQ(rig.clock().now(), t0);
  gFakeSteady = t0 + 250'000;
  EXPECT_EQ(rig.clock().now(), t0 + 250'000);
  rig.feed().Play(rig.marker, t0 + 250'000);
  EXPECT_EQ(rig.feed().HeardAtSteady(t0 + 300'000), t0 + 300'000);

  // The device appears: the next Start opens it.
  device.available = true;
  EXPECT_TRUE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), "");
  device.Render(t0 + 260'000);
  EXPECT_TRUE(rig.clock().Streaming());
  EXPECT_GE(rig.clock().now(), t0 + 250'000);

  // It goes away while running: silence, the clock carries on at the
  // monotonic pace, one report, and the next Start reopens.
  device.Lose(t0 + 270'000);
  EXPECT_FALSE(rig.clock().Streaming());
  EXPECT_TRUE(
      std::all_of(device.buffer.begin(), device.buffer.end(), [](float v) { return v == 0; }));
  const Micros t = rig.clock().now();
  gFakeSteady = t0 + 370'000;
  EXPECT_EQ(rig.clock().now() - t, 100'000);
  rig.feed().Play(rig.marker, rig.clock().now());
  EXPECT_EQ(player.TakeError(), sound::player::kSoundLostMessage);
  EXPECT_EQ(player.TakeError(), "");
  EXPECT_TRUE(player.EnsureOpen());
  EXPECT_EQ(device.opens, 5);
  device.Render(t0 + 380'000);
  EXPECT_TRUE(rig.clock().Streaming());
}

// Stopped, the output rests: paused, or closed with its library when a new
// stream plays its first clicks on their frames. Start returns at once
// either way (no callback comes meanwhile: a sink that sleeps) and the
// supervisor has the output play again; clicks queued before it does are
// heard on their frames.
TEST(ClickPlayerOffline, StartNeverWaitsForARestingOutput) {
  for (const bool releasable : {false, true}) {
    SCOPED_TRACE(releasable ? "closed at rest" : "paused at rest");
    // The supervisor rests and wakes the output.
    Rig rig({48000, 2}, RestingAtOnce(250000), releasable);
    FakeDevice& device = rig.device;
    ASSERT_TRUE(rig.Open());
    rig.player->Rest(true);
    ASSERT_TRUE(device.Await([&] { return releasable ? !device.started : !device.active; }));
    const std::uint64_t buffers = rig.player->Stats().buffers;
    const Micros due = rig.clock().now() + 100000;
    rig.feed().Play(rig.marker, due);
    rig.feed().Play(rig.marker, due + 20000);
    rig.player->Rest(false);
    rig.player->EnsureOpen();
    EXPECT_EQ(rig.player->Stats().buffers, buffers);
    ASSERT_TRUE(device.Await([&] { return device.active && device.started; }));
    EXPECT_EQ(device.opens, releasable ? 2 : 1);
    Micros at = gFakeSteady.load();
    const auto onsets = rig.Listen(20, at);
    ASSERT_EQ(onsets.size(), 2u);
    EXPECT_EQ(onsets[1] - onsets[0], 960);
  }
}

// An output closed at rest that cannot open at Start is a lost output: said
// once, over the window, and opened again by itself when it comes back,
// which is said once too.
TEST(ClickPlayerOffline, AnOutputGoneWhileClosedAtRestIsSaidLostOnce) {
  // Before the player: its supervisor may still call back as it ends.
  testing::Watched told;
  std::atomic<int> failures{0}, recoveries{0};
  Rig rig({48000, 2}, RestingAtOnce(20000), true);
  FakeDevice& device = rig.device;
  rig.player->SetOnFailure([&] {
    ++failures;
    told.Changed();
  });
  rig.player->SetOnRecovered([&] {
    ++recoveries;
    told.Changed();
  });
  ASSERT_TRUE(rig.player->EnsureOpen());
  rig.player->Rest(true);
  ASSERT_TRUE(device.Await([&] { return !device.started; }));
  device.available = false;
  rig.player->Rest(false);
  rig.player->EnsureOpen();
  ASSERT_TRUE(told.Await([&] { return failures > 0; }));
  EXPECT_EQ(rig.player->TakeError(), sound::player::kSoundLostMessage);
  device.available = true;
  EXPECT_TRUE(device.Await([&] { return device.started.load(); }));
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(rig.player->TakeError(), "");
  // Back once it has played 2 s unbroken: a server coming back may drop the
  // new stream once more, still the same outage.
  EXPECT_EQ(recoveries, 0);
  gFakeSteady += 2'000'001;
  ASSERT_TRUE(told.Await([&] { return recoveries > 0; }));
  EXPECT_EQ(recoveries, 1);
}

// Three clicks written at once, due 10, 40 (or nearer) and 50 ms on; the
// first lasts 20 ms and has begun when the take-back comes, 15 ms on, with
// the sink's read and the write margin of 5 ms beyond reach: the queue must
// hold the clicks heard and nothing of those taken back, and the take-back
// says from when it held. (The rendered side: click_mixer_test.cpp.)
TEST(ClickPlayerWrites, OnlyClicksNotYetBegunAreTakenBack) {
  struct Case {
    const char* name;
    int from;                // take back from this click's due time; 3: after all
    std::vector<int> heard;  // onset frames
    Micros taken;            // from when all were taken back, after t0
    Micros secondDue = 40000;
  };
  // Frame 960 begins half a frame before 20 ms.
  const Case cases[] = {
      {"from the sounding one: it plays out, no other", 0, {480}, 19990},
      {"from the last", 2, {480, 1920}, 50000},
      {"from after all: nothing taken back", 3, {480, 1920, 2400}, 50001},
      {"from one beyond reach: it plays", 1, {480, 864}, 19990, 18000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({48000, 1}, Offline(240));
    rig.device.takesWrites = true;
    const std::string longClick = rig.LongClick(960);
    ASSERT_TRUE(rig.Open({longClick}));
    const Micros t0 = gFakeSteady.load();
    rig.device.Report(0, t0);
    const Micros dues[] = {t0 + 10000, t0 + c.secondDue, t0 + 50000, t0 + 50001};
    for (int k = 0; k < 3; ++k) rig.feed().Play(k ? rig.marker : longClick, dues[k]);
    rig.device.Report(720, t0 + 15000);
    EXPECT_EQ(rig.feed().TakeBack(dues[c.from]) - t0, c.taken);
    // What the sink plays: every write in order over silence.
    std::vector<float> out(4800, 0.0f);
    for (const auto& [first, samples] : rig.device.written)
      std::copy(samples.begin(), samples.end(), out.begin() + first);
    std::vector<int> heard;
    for (std::size_t i = 0; i < out.size(); ++i)
      if (out[i] == 1.0f) heard.push_back(static_cast<int>(i));
    EXPECT_EQ(heard, c.heard);
    const int cut = c.heard.size() > 1 ? std::min(1440, c.heard[1]) : 1440;
    EXPECT_TRUE(std::all_of(out.begin() + 481, out.begin() + cut, [](float v) {
      return v == 0.25f;
    })) << "the sounding click was cut";
    EXPECT_EQ(rig.player->Stats().takenBack, 3 - c.heard.size());
  }
}

// A graph-paced device (PipeWire): each cycle brings the graph's frame count
// and the driver's time of the cycle. Something happens at one cycle: the
// count runs on over skipped cycles, jumps (a new driver), stops while time
// runs (a suspended sink), or the cycle grows. Every click must be heard at
// its due time on one unbroken grid, except those whose frames were never
// rendered; nothing bursts.
TEST(ClickPlayerGraph, ClicksStayOnTheGridThroughTheGraphsJumps) {
  struct Case {
    const char* name;
    int quantum;
    int intervalMs;
    int atCycle;             // where the event happens; -1: none
    std::int64_t frameJump;  // the graph's count moves on by this much more...
    Micros timeJump;         // ...and its clock by this much more
    int newQuantum;          // from then on; 0: unchanged
    int maxLate;             // clicks whose frames were skipped or stalled
    std::uint64_t anchors;   // times the clock joins the graph
  };
  const Case cases[] = {
      {"2 ms apart: several onsets in one 256-frame cycle", 256, 2, -1, 0, 0, 0, 0, 1},
      {"three cycles skipped, the count runs on with the clock", 256, 7, 300, 768, 16000, 0, 3, 1},
      {"the count jumps (a new driver)", 256, 7, 300, 10'000'000, 0, 0, 0, 2},
      {"the count stops for 0.5 s (a suspended sink)", 256, 7, 300, -256, 500'000, 0, 80, 2},
      {"a cycle read twice (a callback late, then the next)", 256, 7, 300, -256, -5333, 0, 0, 1},
      {"the cycle grows to 1024 frames while running", 256, 7, 300, 0, 0, 1024, 0, 1},
  };
  constexpr int kRate = 48000;
  constexpr int kTicks = 2000;
  constexpr double kFrameMicros = 1e6 / kRate;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({kRate, 1}, Offline(c.quantum, 0, 3000));
    sound::clock::AudioClock& clock = rig.clock();
    // Eight markers told apart by their first sample: click k plays k % 8.
    std::vector<std::string> markers;
    ASSERT_TRUE(rig.player->EnsureOpen());
    for (int i = 0; i < 8; ++i) {
      markers.push_back(rig.Clip(std::string(1, static_cast<char>('a' + i)) + ".wav",
                                 {1.0f - 0.0625f * i, 0.0f}));
      ASSERT_TRUE(testing::WaitUntilLoaded(rig.feed().Clicks(), {markers.back()}));
    }
    std::int64_t frame = 5'000'000'000;  // the graph's count when we join
    double at = static_cast<double>(gFakeSteady.load());
    int quantum = c.quantum;
    rig.device.Cycle(frame, quantum, static_cast<Micros>(at));
    // Each click is queued a few lookaheads ahead (8.3 ms with 256-frame
    // cycles, 24.3 ms with 1024).
    Timer timer{rig, clock.now() + 90000, c.intervalMs * 1000, 60000, kTicks, markers};
    struct Heard {
      int id;
      double steady;
    };
    std::vector<Heard> heard;
    std::size_t mostInOneCycle = 0;
    for (int cycle = 1; !HasFatalFailure() && !(timer.Done() && cycle > c.atCycle + 41 &&
                                                clock.now() > timer.Due(kTicks) + 100000);
         ++cycle) {
      // The timer plays on while the graph is away.
      const bool event = cycle == c.atCycle;
      at += quantum * kFrameMicros + (event ? static_cast<double>(c.timeJump) : 0);
      timer.PlayUntil(static_cast<Micros>(at));
      frame += quantum + (event ? c.frameJump : 0);
      if (event && c.newQuantum) quantum = c.newQuantum;
      const auto& out = rig.device.Cycle(frame, quantum, static_cast<Micros>(std::llround(at)));
      std::vector<std::int64_t> onsets;
      Rig::Onsets(out, 1, 0, onsets);
      for (std::int64_t f : onsets)
        heard.push_back({static_cast<int>(std::llround((1.0f - out[f]) / 0.0625f)),
                         at + static_cast<double>(f) * kFrameMicros});
      mostInOneCycle = std::max(mostInOneCycle, onsets.size());
    }

    // Heard times against due times: one constant offset, to a frame, also
    // when the cycle grows (clicks queued ahead need no lead).
    ASSERT_FALSE(heard.empty());
    int k = heard[0].id;  // the first click heard
    const double offset = heard[0].steady - static_cast<double>(timer.Due(k));
    auto expectedAt = [&](int i) { return static_cast<double>(timer.Due(i)) + offset; };
    int late = 0;
    for (std::size_t n = 1; n < heard.size(); ++n) {
      // The latest click with this marker that could be heard by now: the
      // ones between were never rendered.
      int next = k + 1;
      while (next % 8 != heard[n].id) ++next;
      while (expectedAt(next + 8) <= heard[n].steady + 1.5 * kFrameMicros) next += 8;
      k = next;
      const double error = heard[n].steady - expectedAt(k);
      if (std::abs(error) <= 1.5 * kFrameMicros) continue;
      ASSERT_GT(error, 0) << "click " << k << " early by " << -error << " us";
      ++late;
      // A late click starts in the first cycle that could hold it.
      ASSERT_LE(error, c.timeJump + quantum * kFrameMicros + 1) << "click " << k;
    }
    EXPECT_LE(late, c.maxLate);
    EXPECT_GE(static_cast<int>(heard.size()), kTicks - c.maxLate);
    EXPECT_EQ(clock.Anchors(), c.anchors);
    if (c.intervalMs * kRate / 1000 < c.quantum / 2) {
      EXPECT_GE(mostInOneCycle, 2u);
    }
    // No burst; after a short skip a late click may share its cycle with
    // the next one.
    const int biggest = std::max(c.quantum, c.newQuantum);
    const int shortSkip = c.timeJump > 0 && c.timeJump < 20000 ? 1 : 0;
    EXPECT_LE(static_cast<int>(mostInOneCycle),
              biggest * 1000 / (c.intervalMs * kRate) + 1 + shortSkip);
  }
}

// A device that takes writes: the sink reports where it reads, a few times
// a second and off by up to a block; each click is written at its frame.
TEST(ClickPlayerWrites, ClicksAreWrittenOnTheExactFramesWithoutDrift) {
  struct Case {
    const char* name;
    int rate;
    int intervalMs;
    double streamSpeed;
  };
  const Case cases[] = {
      {"48 kHz, 7 ms, stream 0.1 % fast", 48000, 7, 1.001},
      {"44.1 kHz, 11 ms (fractional frames per ms), 0.1 % slow", 44100, 11, 0.999},
  };
  constexpr int kTicks = 100000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({c.rate, 2}, Offline(512));
    rig.device.takesWrites = true;
    ASSERT_TRUE(rig.Open());
    std::mt19937 random(7);
    std::uniform_real_distribution<double> block(0, 480);  // the sink reads in blocks
    const Micros start = gFakeSteady.load();
    auto sinkAt = [&](Micros t) { return (t - start) * 1e-6 * c.rate * c.streamSpeed; };
    rig.device.Report(0, start);
    Timer timer{rig, rig.clock().now() + 50000, c.intervalMs * 1000, 30000, kTicks};
    for (Micros at = start + 200000; !timer.Done() && !HasFatalFailure(); at += 200000) {
      timer.PlayUntil(at);
      rig.device.Report(std::floor(sinkAt(at) + block(random)), at);
    }
    // One whole click written for each tick, ahead of where the sink reads
    // with room to spare.
    ASSERT_EQ(rig.device.written.size(), std::size_t{kTicks});
    std::vector<std::int64_t> onsets;
    for (int k = 0; k < kTicks; ++k) {
      const auto& [first, samples] = rig.device.written[k];
      ASSERT_EQ(samples.front(), 1.0f) << "tick " << k;
      ASSERT_GT(static_cast<double>(first), sinkAt(timer.woke[k]) + 480) << "tick " << k;
      onsets.push_back(first);
    }
    const int off = timer.FirstOffTheGrid(onsets, start, c.rate);
    EXPECT_EQ(off, -1) << "at frame " << onsets[std::max(off, 0)];
    EXPECT_EQ(rig.player->Stats().late, 0u);
    EXPECT_EQ(rig.clock().Anchors(), 1u);
  }
}

TEST(ClickPlayerWrites, ANewClickSilencesWhatIsLeftOfTheOneBefore) {
  Rig rig({48000, 1}, Offline(512));
  rig.device.takesWrites = true;
  const std::string longClick = rig.LongClick(2000);
  ASSERT_TRUE(rig.Open({longClick}));
  rig.device.Report(0, gFakeSteady.load());
  const Micros due = rig.clock().now() + 10000;
  rig.feed().Play(longClick, due);
  rig.feed().Play(rig.marker, due + 10000);   // 480 frames later
  rig.feed().Play(rig.marker, due + 100000);  // after the long click has ended

  ASSERT_EQ(rig.device.written.size(), 3u);
  const auto& [first, samples] = rig.device.written[1];
  EXPECT_EQ(first - rig.device.written[0].first, 480);
  // The marker, then silence up to where the long click would have ended.
  ASSERT_EQ(samples.size(), 2000u - 480u);
  EXPECT_EQ((std::vector<float>(samples.begin(), samples.begin() + 3)),
            (std::vector<float>{1.0f, 0.5f, 0.25f}));
  EXPECT_TRUE(std::all_of(samples.begin() + 3, samples.end(), [](float v) { return v == 0; }));
  EXPECT_EQ(rig.device.written[2].second.size(), 3u);  // nothing left to silence
}

TEST(ClickPlayerWrites, ALateClickStartsWhereTheSinkHasNotReadYetOrNotAtAll) {
  Rig rig({48000, 2}, Offline(512));
  rig.device.takesWrites = true;
  ASSERT_TRUE(rig.Open());
  rig.device.Report(0, gFakeSteady.load());
  const Micros now = rig.clock().now();
  // Due in 3 ms, or 4 ms ago: inside the 5 ms margin that keeps writes clear
  // of where the sink may already read, and within 10 ms of it.
  EXPECT_TRUE(rig.feed().Play(rig.marker, now + 3000));
  EXPECT_TRUE(rig.feed().Play(rig.marker, now - 4000));
  // Due 6 ms ago, or long behind the sink: it would start more than 10 ms
  // after its frame, a stall's leftover; it is not written.
  EXPECT_FALSE(rig.feed().Play(rig.marker, now - 6000));
  EXPECT_FALSE(rig.feed().Play(rig.marker, now - 100000));
  ASSERT_EQ(rig.device.written.size(), 2u);
  for (const auto& [first, samples] : rig.device.written) {
    EXPECT_EQ(first, 240);             // 5 ms after the frame the sink reads
    EXPECT_EQ(samples.front(), 1.0f);  // the whole click
  }
  EXPECT_EQ(rig.player->Stats().late, 2u);
  EXPECT_EQ(rig.player->Stats().plays, 2u);
}

TEST(ClickPlayerWrites, AReportFarOffMovesTheClockButAnUnderrunAlsoMovesTheGrid) {
  Rig rig({48000, 2}, Offline(512));
  rig.device.takesWrites = true;
  rig.device.latency = 4000;
  ASSERT_TRUE(rig.Open());
  sound::clock::AudioClock& clock = rig.clock();
  Micros at = gFakeSteady.load();
  for (int i = 0; i < 50; ++i) rig.device.Report(i * 9600.0, at += 200000);
  auto frameOf = [&](Micros due) {
    rig.device.written.clear();
    rig.feed().Play(rig.marker, due);
    return rig.device.written.at(0).first;
  };
  const Micros due = clock.now() + 10000;
  const std::int64_t before = frameOf(due);
  // Heard at the due time plus the sink's latency.
  EXPECT_NEAR(rig.feed().HeardAtSteady(due), clock.SteadyAt(due) + 4000, 2);

  // A report 8 ms off (a late reply) moves the clock by a fraction of it.
  Micros shown = clock.now();
  rig.device.Report(50 * 9600.0 + 384, at += 200000);
  EXPECT_NEAR(clock.now() - shown, 200000, 3000);
  // The sink reports 100 ms further on than the clock expects (the process
  // was stopped): the clock catches up at once, the grid stays.
  shown = clock.now();
  rig.device.Report(51 * 9600.0 + 4800, at += 200000);
  EXPECT_GE(clock.now(), shown + 200000 + 90000);
  const Micros next = clock.now() + 10000;
  EXPECT_EQ(frameOf(next), before + (next - due) * 48 / 1000);
  EXPECT_EQ(clock.Anchors(), 1u);

  // The stream ran dry: the reports asked for after the next re-join it on
  // a new grid, no click is written until then, and the clock does not step
  // back.
  rig.device.target->Underrun_RT();
  const Micros ran = clock.now();
  double frame = 52 * 9600.0;
  int reports = 1;
  for (bool more = rig.device.Report(frame, at += 200000); more; ++reports) {
    rig.device.written.clear();
    rig.feed().Play(rig.marker, clock.now() + 10000);
    EXPECT_TRUE(rig.device.written.empty());
    more = rig.device.Report(frame += 48, at += 1000);
  }
  EXPECT_GT(reports, 1);
  EXPECT_EQ(clock.Anchors(), 2u);
  EXPECT_GE(clock.now(), ran);
  const Micros after = clock.now() + 10000;
  EXPECT_EQ(frameOf(after + 20000) - frameOf(after), 960);
}

}  // namespace
}  // namespace pendlo
