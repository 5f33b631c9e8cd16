// The player's feeders and clock followers offline: a fake device whose
// callbacks (or position reports) the test calls at chosen steady times,
// with a fake steady clock, clicks queued up to a few lookaheads ahead, so
// the placement of every click can be checked to the frame.
#include "sound/player/click_player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "sound/fake_backend.h"
#include "sound/wav_bytes.h"
#include "support/files.h"
#include "support/loaded_clicks.h"
#include "support/program.h"

namespace pendlo {
namespace {

using testing::Bytes;
using testing::FakeBackend;
using testing::FakeDevice;
using testing::FloatWav;
using testing::gFakeSteady;
using testing::TempDir;

// Has the player's loader read `paths` in the stream's format, as the window
// asks it to at start-up and at every Start.
bool Loaded(sound::player::ClickPlayer& player, std::initializer_list<std::string> paths) {
  return testing::WaitUntilLoaded(player.Feed().Clicks(), paths);
}

// Options for a player on a fake device: nothing runs by itself (no
// reconnecting thread); the test drives every callback.
sound::player::PlayerOptions Offline(int frames, Micros serverMicros = 0) {
  sound::player::PlayerOptions o;
  o.bufferFrames = frames;
  o.serverBufferMicros = serverMicros;
  o.reconnectMicros = 0;
  o.queueMarginMicros = 5000;
  return o;
}

// A player on a fake device. The marker click starts with exactly 1.0, so
// its onset can be found to the frame in the output.
struct Rig {
  FakeDevice device;
  std::unique_ptr<sound::player::ClickPlayer> player;
  TempDir dir;
  std::string marker;

  Rig(sound::clips::StreamFormat format, int frames, Micros serverMicros = 0,
      Micros wakeMargin = 16000) {
    device.format = format;
    gFakeSteady = 1'000'000'000;
    sound::player::PlayerOptions options = Offline(frames, serverMicros);
    options.wakeMarginMicros = wakeMargin;
    player = std::make_unique<sound::player::ClickPlayer>(std::make_unique<FakeBackend>(device),
                                                          options, &testing::FakeSteady);
    marker = dir.Write("marker.wav",
                       FloatWav({1.0f, 0.5f, 0.25f}, static_cast<std::uint32_t>(format.rate)));
  }
  sound::clock::AudioClock& clock() { return *player->Feed().clock(); }
  // Opens the output with the marker and `more` read.
  bool Open(std::initializer_list<std::string> more = {}) {
    return player->EnsureOpen() && Loaded(*player, {marker}) && Loaded(*player, more);
  }
};

// Frames of the buffer (channel 0) where a marker starts; also checks that
// the mixer wrote every sample.
std::vector<int> Markers(const std::vector<float>& buffer, int channels, float marker = 1.0f) {
  std::vector<int> found;
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    EXPECT_NE(buffer[i], -9.0f) << "sample " << i << " left unwritten";
    if (i % channels == 0 && buffer[i] == marker) found.push_back(static_cast<int>(i / channels));
  }
  return found;
}

struct GridCase {
  const char* name;
  sound::clips::StreamFormat format;
  int frames;
  int intervalMs;
  double streamSpeed;  // the device's clock against the monotonic clock
  Micros ahead;        // how long before its due time each click is queued
};

TEST(ClickPlayerOffline, OnsetsLandOnTheExactFramesWithoutDrift) {
  const GridCase cases[] = {
      {"64 frames, 48 kHz, 7 ms, stream 0.1 % fast", {48000, 2}, 64, 7, 1.001, 8000},
      {"441 frames, 44.1 kHz, 11 ms (fractional frames per ms), three lookaheads ahead",
       {44100, 2},
       441,
       11,
       1.0,
       75000},
      {"1024 frames, 48 kHz, 3 ms: several onsets per buffer, 0.1 % slow",
       {48000, 2},
       1024,
       3,
       0.999,
       50000},
  };
  constexpr int kTicks = 100000;
  for (const GridCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.format, c.frames);
    ASSERT_TRUE(rig.Open());
    std::mt19937 random(42);
    const double period = c.frames * 1e6 / (c.format.rate * c.streamSpeed);
    // Callbacks come up to 30 % of a period early or late; the timer wakes
    // up to 1.5 ms after its deadline.
    std::uniform_real_distribution<double> jitter(-0.3 * period, 0.3 * period);
    std::uniform_int_distribution<Micros> wake(0, 1500);

    const Micros start = gFakeSteady.load();  // the first callback: where the clock anchors
    std::int64_t callbacks = 0;
    auto callbackAt = [&](std::int64_t n) {
      return start + static_cast<Micros>(n * period + (n ? jitter(random) : 0));
    };
    Micros nextCallback = callbackAt(0);
    rig.device.Render(nextCallback);
    nextCallback = callbackAt(++callbacks);

    const Micros firstDue = rig.clock().now() + c.ahead + 30000;
    int tick = 0;
    Micros wakeDelay = wake(random);
    std::int64_t found = 0;
    int mostInOneBuffer = 0;
    Micros lastNow = 0;
    while (found < kTicks) {
      const Micros due = firstDue + static_cast<Micros>(tick) * c.intervalMs * 1000;
      const Micros wakeAt = rig.clock().SteadyAt(due - c.ahead) + wakeDelay;
      if (tick < kTicks && wakeAt <= nextCallback) {
        gFakeSteady = wakeAt;
        ASSERT_GE(rig.clock().now(), due - c.ahead);  // the timer would now see its deadline
        rig.player->Feed().Play(rig.marker, due);
        ++tick;
        wakeDelay = wake(random);
        continue;
      }
      const std::int64_t bufferStart = callbacks * c.frames;
      const auto onsets = Markers(rig.device.Render(nextCallback), c.format.channels);
      nextCallback = callbackAt(++callbacks);
      ASSERT_GE(rig.clock().now(), lastNow);
      lastNow = rig.clock().now();
      mostInOneBuffer = std::max(mostInOneBuffer, static_cast<int>(onsets.size()));
      for (int offset : onsets) {
        // Exact: within half a frame of due * rate.
        const Micros d = firstDue + found * c.intervalMs * 1000;
        const std::int64_t frame = bufferStart + offset;
        const std::int64_t error2 = 2 * (frame * 1'000'000 - (d - start) * c.format.rate);
        ASSERT_LE(std::abs(error2), 1'000'000) << "tick " << found << " at frame " << frame;
        ++found;
      }
    }
    EXPECT_EQ(rig.player->Stats().late, 0u);
    EXPECT_EQ(rig.player->Stats().anchors, 1u);
    if (c.intervalMs * c.format.rate / 1000 < c.frames / 3) {
      EXPECT_GE(mostInOneBuffer, 3);
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
    Rig rig({48000, 2}, 480, c.held);
    ASSERT_TRUE(rig.Open());
    sound::clock::AudioClock& clock = rig.clock();
    FakeDevice& device = rig.device;
    Micros at = gFakeSteady.load();
    for (int i = 0; i < 100; ++i) device.Render(at += 10000);
    // Meanwhile the clock runs on at the monotonic pace.
    const Micros before = clock.now();
    gFakeSteady = at + c.gap - 10000;
    EXPECT_NEAR(clock.now() - before, c.gap - 10000, 100);
    const Micros shown = clock.now();
    device.Render(at += c.gap);
    for (int i = 0; i < c.catchUp; ++i) device.Render(at += 1000);
    EXPECT_EQ(clock.Anchors(), c.anchors);
    EXPECT_GE(clock.now(), shown);
    const Micros due = clock.now() + 15000;
    for (int k = 0; k < 4; ++k) rig.player->Feed().Play(rig.marker, due + k * 20000);
    std::vector<std::int64_t> onsets;
    for (int i = 0; i < 12; ++i) {
      for (int f : Markers(device.Render(at += 10000), 2)) onsets.push_back(i * 480 + f);
    }
    ASSERT_EQ(onsets.size(), 4u);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(onsets[k] - onsets[k - 1], 960);
  }
}

TEST(ClickPlayerOffline, WithoutADeviceTheClockRunsAndTheFailureIsReportedOnce) {
  FakeDevice device;
  device.available = false;
  gFakeSteady = 5'000'000;
  sound::player::ClickPlayer player(std::make_unique<FakeBackend>(device), Offline(512),
                                    &testing::FakeSteady);
  TempDir dir;
  const std::string marker = dir.Write("m.wav", FloatWav({1.0f}, 48000));

  // Start-up, then two Starts: tried each time, reported once.
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), std::string(sound::player::kNoSoundMessage) + " (no device)");
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_FALSE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), "");
  EXPECT_EQ(device.opens, 3);
  // The beat keeps time on the monotonic clock; playing is a no-op.
  EXPECT_EQ(player.Feed().clock()->now(), 5'000'000);
  gFakeSteady = 5'250'000;
  EXPECT_EQ(player.Feed().clock()->now(), 5'250'000);
  player.Feed().Play(marker, 5'250'000);
  EXPECT_EQ(player.Feed().HeardAtSteady(5'300'000), 5'300'000);

  // The device appears: the next Start opens it.
  device.available = true;
  EXPECT_TRUE(player.EnsureOpen());
  EXPECT_EQ(player.TakeError(), "");
  device.Render(5'260'000);
  EXPECT_TRUE(player.Feed().clock()->Streaming());
  EXPECT_GE(player.Feed().clock()->now(), 5'250'000);

  // It goes away while running: silence, the clock carries on at the
  // monotonic pace, one report, and the next Start reopens.
  device.Lose(5'270'000);
  EXPECT_FALSE(player.Feed().clock()->Streaming());
  EXPECT_TRUE(
      std::all_of(device.buffer.begin(), device.buffer.end(), [](float v) { return v == 0; }));
  const Micros t = player.Feed().clock()->now();
  gFakeSteady = 5'370'000;
  EXPECT_EQ(player.Feed().clock()->now() - t, 100'000);
  player.Feed().Play(marker, player.Feed().clock()->now());
  EXPECT_EQ(player.TakeError(), sound::player::kSoundLostMessage);
  EXPECT_EQ(player.TakeError(), "");
  EXPECT_TRUE(player.EnsureOpen());
  EXPECT_EQ(device.opens, 5);
  device.Render(5'380'000);
  EXPECT_TRUE(player.Feed().clock()->Streaming());
}

// Stopped, the output rests: paused, or closed with its library when a new
// stream plays its first clicks on their frames. Start returns at once
// either way (no callback comes meanwhile: a sink that sleeps) and the
// supervisor has the output play again; clicks queued before it does are
// heard on their frames.
TEST(ClickPlayerOffline, StartNeverWaitsForARestingOutput) {
  for (const bool releasable : {false, true}) {
    SCOPED_TRACE(releasable ? "closed at rest" : "paused at rest");
    FakeDevice device;
    device.releasable = releasable;
    sound::player::PlayerOptions options = Offline(480);
    options.reconnectMicros = 250000;  // the supervisor rests and wakes the output
    options.restAfterMicros = 0;
    options.releaseAfterMicros = 1;
    sound::player::ClickPlayer player(std::make_unique<FakeBackend>(device), options,
                                      &testing::FakeSteady);
    TempDir dir;
    const std::string marker = dir.Write("m.wav", FloatWav({1.0f, 0.5f}, 48000));
    ASSERT_TRUE(player.EnsureOpen());
    ASSERT_TRUE(Loaded(player, {marker}));
    player.Rest(true);
    ASSERT_TRUE(testing::WaitFor([&] { return releasable ? !device.started : !device.active; },
                                 std::chrono::seconds(5)));
    const std::uint64_t buffers = player.Stats().buffers;
    const Micros due = player.Feed().clock()->now() + 100000;
    player.Feed().Play(marker, due);
    player.Feed().Play(marker, due + 20000);
    player.Rest(false);
    player.EnsureOpen();
    EXPECT_EQ(player.Stats().buffers, buffers);
    ASSERT_TRUE(
        testing::WaitFor([&] { return device.active && device.started; }, std::chrono::seconds(5)));
    EXPECT_EQ(device.opens, releasable ? 2 : 1);
    std::vector<std::int64_t> onsets;
    Micros at = gFakeSteady.load();
    for (int i = 0; i < 20; ++i) {
      for (int f : Markers(device.Render(at += 10000), 2)) onsets.push_back(i * 480 + f);
    }
    ASSERT_EQ(onsets.size(), 2u);
    EXPECT_EQ(onsets[1] - onsets[0], 960);
  }
}

// An output closed at rest that cannot open at Start is a lost output: said
// once, over the window, and opened again by itself when it comes back.
TEST(ClickPlayerOffline, AnOutputGoneWhileClosedAtRestIsSaidLostOnce) {
  FakeDevice device;
  device.releasable = true;
  sound::player::PlayerOptions options = Offline(480);
  options.reconnectMicros = 20000;
  options.restAfterMicros = 0;
  options.releaseAfterMicros = 1;
  sound::player::ClickPlayer player(std::make_unique<FakeBackend>(device), options,
                                    &testing::FakeSteady);
  std::atomic<int> failures{0};
  player.SetOnFailure([&] { ++failures; });
  ASSERT_TRUE(player.EnsureOpen());
  player.Rest(true);
  ASSERT_TRUE(testing::WaitFor([&] { return !device.started; }, std::chrono::seconds(5)));
  device.available = false;
  player.Rest(false);
  player.EnsureOpen();
  ASSERT_TRUE(testing::WaitFor([&] { return failures > 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(player.TakeError(), sound::player::kSoundLostMessage);
  device.available = true;
  EXPECT_TRUE(testing::WaitFor([&] { return device.started.load(); }, std::chrono::seconds(5)));
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(player.TakeError(), "");
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
    Rig rig({48000, 1}, 240);
    rig.device.takesWrites = true;
    std::vector<float> longSound(960, 0.25f);
    longSound[0] = 1.0f;
    const std::string longClick = rig.dir.Write("long.wav", FloatWav(longSound, 48000));
    ASSERT_TRUE(rig.Open({longClick}));
    const Micros t0 = gFakeSteady.load();
    rig.device.Report(0, t0);
    const Micros dues[] = {t0 + 10000, t0 + c.secondDue, t0 + 50000, t0 + 50001};
    for (int k = 0; k < 3; ++k) rig.player->Feed().Play(k ? rig.marker : longClick, dues[k]);
    rig.device.Report(720, t0 + 15000);
    EXPECT_EQ(rig.player->Feed().TakeBack(dues[c.from]) - t0, c.taken);
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

struct GraphCase {
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

// A graph-paced device (PipeWire): each cycle brings the graph's frame count
// and the driver's time of the cycle. Something happens at one cycle: the
// count runs on over skipped cycles, jumps (a new driver), stops while time
// runs (a suspended sink), or the cycle grows. Every click must be heard at
// its due time on one unbroken grid, except those whose frames were never
// rendered; nothing bursts.
TEST(ClickPlayerGraph, ClicksStayOnTheGridThroughTheGraphsJumps) {
  const GraphCase cases[] = {
      {"2 ms apart: several onsets in one 256-frame cycle", 256, 2, -1, 0, 0, 0, 0, 1},
      {"three cycles skipped, the count runs on with the clock", 256, 7, 300, 768, 16000, 0, 3, 1},
      {"the count jumps (a new driver)", 256, 7, 300, 10'000'000, 0, 0, 0, 2},
      {"the count stops for 0.5 s (a suspended sink)", 256, 7, 300, -256, 500'000, 0, 80, 2},
      {"a cycle read twice (a callback a cycle late, then the next)", 256, 7, 300, -256, -5333, 0,
       0, 1},
      {"the cycle grows to 1024 frames while running", 256, 7, 300, 0, 0, 1024, 0, 1},
  };
  constexpr int kRate = 48000;
  constexpr int kTicks = 2000;
  constexpr Micros kMargin = 3000;
  for (const GraphCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({kRate, 1}, c.quantum, 0, kMargin);
    FakeDevice& device = rig.device;
    sound::player::ClickPlayer& player = *rig.player;
    sound::clock::AudioClock& clock = rig.clock();
    // Eight markers told apart by their first sample: click k plays k % 8.
    std::vector<std::string> markers;
    for (int i = 0; i < 8; ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i)) + ".wav";
      markers.push_back(rig.dir.Write(name, FloatWav({1.0f - 0.0625f * i, 0.0f}, kRate)));
    }
    ASSERT_TRUE(player.EnsureOpen());
    for (const std::string& marker : markers) ASSERT_TRUE(Loaded(player, {marker}));
    std::mt19937 random(3);
    std::uniform_int_distribution<Micros> wake(0, 1500);

    std::int64_t frame = 5'000'000'000;  // the graph's count when we join
    double at = static_cast<double>(gFakeSteady.load());
    int quantum = c.quantum;
    int cycle = 0;
    device.Cycle(frame, quantum, static_cast<Micros>(at));
    // Each click is queued a few lookaheads ahead (8.3 ms with 256-frame
    // cycles, 24.3 ms with 1024).
    const Micros ahead = 60000;
    const Micros firstDue = clock.now() + ahead + 30000;
    struct Heard {
      int id;
      double steady;
    };
    std::vector<Heard> heard;
    int mostInOneCycle = 0;
    Micros lastNow = clock.now();
    for (int tick = 0;;) {
      // The timer plays on while the graph is away.
      const bool event = cycle + 1 == c.atCycle;
      const double nextAt =
          at + quantum * 1e6 / kRate + (event ? static_cast<double>(c.timeJump) : 0);
      const Micros due = firstDue + static_cast<Micros>(tick) * c.intervalMs * 1000;
      const Micros wakeAt = clock.SteadyAt(due - ahead) + wake(random);
      if (tick < kTicks && static_cast<double>(wakeAt) <= nextAt) {
        gFakeSteady = wakeAt;
        ASSERT_GE(clock.now(), due - ahead);
        player.Feed().Play(markers[tick % 8], due);
        ++tick;
        continue;
      }
      frame += quantum;
      at = nextAt;
      if (++cycle == c.atCycle) {
        frame += c.frameJump;
        if (c.newQuantum) quantum = c.newQuantum;
      }
      const auto& out = device.Cycle(frame, quantum, static_cast<Micros>(std::llround(at)));
      ASSERT_GE(clock.now(), lastNow);
      lastNow = clock.now();
      int inCycle = 0;
      for (int f = 0; f < quantum; ++f) {
        ASSERT_NE(out[f], -9.0f);
        if (out[f] <= 0.5f) continue;
        ++inCycle;
        heard.push_back(
            {static_cast<int>(std::llround((1.0f - out[f]) / 0.0625f)), at + f * 1e6 / kRate});
      }
      mostInOneCycle = std::max(mostInOneCycle, inCycle);
      if (tick == kTicks && cycle > c.atCycle + 40 &&
          clock.now() > firstDue + Micros{kTicks} * c.intervalMs * 1000 + 100000) {
        break;
      }
    }

    // Heard times against due times: one constant offset, to a frame, also
    // when the cycle grows (clicks queued ahead need no lead).
    const double frameMicros = 1e6 / kRate;
    ASSERT_FALSE(heard.empty());
    int k = heard[0].id;  // the first click heard
    const double offset =
        heard[0].steady - static_cast<double>(firstDue + Micros{k} * c.intervalMs * 1000);
    int late = 0;
    for (std::size_t n = 1; n < heard.size(); ++n) {
      // The latest click with this marker that could be heard by now: the
      // ones between were never rendered.
      auto expectedAt = [&](int i) {
        return static_cast<double>(firstDue + Micros{i} * c.intervalMs * 1000) + offset;
      };
      int next = k + 1;
      while (next % 8 != heard[n].id) ++next;
      while (expectedAt(next + 8) <= heard[n].steady + 1.5 * frameMicros) next += 8;
      k = next;
      const double error = heard[n].steady - expectedAt(k);
      if (std::abs(error) <= 1.5 * frameMicros) continue;
      ASSERT_GT(error, 0) << "click " << k << " early by " << -error << " us";
      ++late;
      // A late click starts in the first cycle that could hold it.
      ASSERT_LE(error, c.timeJump + quantum * frameMicros + 1) << "click " << k;
    }
    EXPECT_LE(late, c.maxLate);
    EXPECT_GE(static_cast<int>(heard.size()), kTicks - c.maxLate);
    EXPECT_EQ(clock.Anchors(), c.anchors);
    if (c.intervalMs * kRate / 1000 < c.quantum / 2) {
      EXPECT_GE(mostInOneCycle, 2);
    }
    const int biggest = std::max(c.quantum, c.newQuantum);
    // No burst; after a short skip a late click may share its cycle with
    // the next one.
    const int shortSkip = c.timeJump > 0 && c.timeJump < 20000 ? 1 : 0;
    EXPECT_LE(mostInOneCycle, biggest * 1000 / (c.intervalMs * kRate) + 1 + shortSkip);
  }
}

// A device that takes writes: the sink reports where it reads, a few times
// a second and off by up to a block; each click is written at its frame.
struct WritingCase {
  const char* name;
  int rate;
  int intervalMs;
  double streamSpeed;
};

TEST(ClickPlayerWrites, ClicksAreWrittenOnTheExactFramesWithoutDrift) {
  const WritingCase cases[] = {
      {"48 kHz, 7 ms, stream 0.1 % fast", 48000, 7, 1.001},
      {"44.1 kHz, 11 ms (fractional frames per ms), 0.1 % slow", 44100, 11, 0.999},
  };
  constexpr int kTicks = 100000;
  constexpr Micros kAhead = 30000;
  for (const WritingCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({c.rate, 2}, 512);
    rig.device.takesWrites = true;
    ASSERT_TRUE(rig.Open());
    std::mt19937 random(7);
    std::uniform_real_distribution<double> block(0, 480);  // the sink reads in blocks
    std::uniform_int_distribution<Micros> wake(0, 1500);
    const Micros start = gFakeSteady.load();
    auto sinkAt = [&](Micros t) { return (t - start) * 1e-6 * c.rate * c.streamSpeed; };

    Micros nextReport = start;
    rig.device.Report(0, nextReport);
    const Micros firstDue = rig.clock().now() + 50000;
    Micros lastNow = 0;
    for (int tick = 0; tick < kTicks;) {
      const Micros due = firstDue + static_cast<Micros>(tick) * c.intervalMs * 1000;
      const Micros wakeAt = rig.clock().SteadyAt(due - kAhead) + wake(random);
      if (wakeAt >= nextReport + 200000) {
        nextReport += 200000;
        rig.device.Report(std::floor(sinkAt(nextReport) + block(random)), nextReport);
        ASSERT_GE(rig.clock().now(), lastNow);
        lastNow = rig.clock().now();
        continue;
      }
      gFakeSteady = wakeAt;
      ASSERT_GE(rig.clock().now(), due - kAhead);
      rig.player->Feed().Play(rig.marker, due);
      ASSERT_EQ(rig.device.written.size(), static_cast<std::size_t>(tick) + 1);
      // Written ahead of where the sink reads, with room to spare.
      ASSERT_GT(static_cast<double>(rig.device.written.back().first), sinkAt(wakeAt) + 480);
      ++tick;
    }
    const auto first0 = rig.device.written.front().first;
    for (int k = 0; k < kTicks; ++k) {
      const auto& [first, samples] = rig.device.written[k];
      ASSERT_EQ(samples.front(), 1.0f);
      // Frames after the first, times 1000: each onset is its due time
      // rounded to a frame, so two of them differ from the exact spacing by
      // less than one frame, and by nothing when it is a whole number.
      const std::int64_t due1000 = static_cast<std::int64_t>(k) * c.intervalMs * c.rate;
      const std::int64_t error1000 = (first - first0) * 1000 - due1000;
      ASSERT_LT(std::abs(error1000), 1000) << "tick " << k;
      if (due1000 % 1000 == 0) {
        ASSERT_EQ(error1000, 0) << "tick " << k;
      }
    }
    EXPECT_EQ(rig.player->Stats().late, 0u);
    EXPECT_EQ(rig.clock().Anchors(), 1u);
  }
}

TEST(ClickPlayerWrites, ANewClickSilencesWhatIsLeftOfTheOneBefore) {
  Rig rig({48000, 1}, 512);
  rig.device.takesWrites = true;
  std::vector<float> longSound(2000, 0.25f);
  longSound[0] = 1.0f;
  const std::string longClick = rig.dir.Write("long.wav", FloatWav(longSound, 48000));
  ASSERT_TRUE(rig.Open({longClick}));
  rig.device.Report(0, gFakeSteady.load());
  const Micros due = rig.clock().now() + 10000;
  rig.player->Feed().Play(longClick, due);
  rig.player->Feed().Play(rig.marker, due + 10000);   // 480 frames later
  rig.player->Feed().Play(rig.marker, due + 100000);  // after the long click has ended

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
  Rig rig({48000, 2}, 512);
  rig.device.takesWrites = true;
  ASSERT_TRUE(rig.Open());
  rig.device.Report(0, gFakeSteady.load());
  const Micros now = rig.clock().now();
  // Due in 3 ms, or 4 ms ago: inside the 5 ms margin that keeps writes clear
  // of where the sink may already read, and within 10 ms of it.
  EXPECT_TRUE(rig.player->Feed().Play(rig.marker, now + 3000));
  EXPECT_TRUE(rig.player->Feed().Play(rig.marker, now - 4000));
  // Due 6 ms ago, or long behind the sink: it would start more than 10 ms
  // after its frame, a stall's leftover; it is not written.
  EXPECT_FALSE(rig.player->Feed().Play(rig.marker, now - 6000));
  EXPECT_FALSE(rig.player->Feed().Play(rig.marker, now - 100000));
  ASSERT_EQ(rig.device.written.size(), 2u);
  for (const auto& [first, samples] : rig.device.written) {
    EXPECT_EQ(first, 240);             // 5 ms after the frame the sink reads
    EXPECT_EQ(samples.front(), 1.0f);  // the whole click
  }
  EXPECT_EQ(rig.player->Stats().late, 2u);
  EXPECT_EQ(rig.player->Stats().plays, 2u);
}

TEST(ClickPlayerWrites, AReportFarOffMovesTheClockButAnUnderrunAlsoMovesTheGrid) {
  Rig rig({48000, 2}, 512);
  rig.device.takesWrites = true;
  rig.device.latency = 4000;
  ASSERT_TRUE(rig.Open());
  sound::clock::AudioClock& clock = rig.clock();
  Micros at = gFakeSteady.load();
  for (int i = 0; i < 50; ++i) rig.device.Report(i * 9600.0, at += 200000);
  auto frameOf = [&](Micros due) {
    rig.device.written.clear();
    rig.player->Feed().Play(rig.marker, due);
    return rig.device.written.at(0).first;
  };
  const Micros due = clock.now() + 10000;
  const std::int64_t before = frameOf(due);
  // Where a click due `later` microseconds after `due` must land on the grid.
  auto onGrid = [&](Micros later) { return before + later * 48 / 1000; };
  // Heard at the due time plus the sink's latency.
  EXPECT_NEAR(rig.player->Feed().HeardAtSteady(due), clock.SteadyAt(due) + 4000, 2);

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
  EXPECT_EQ(frameOf(next), onGrid(next - due));
  EXPECT_EQ(clock.Anchors(), 1u);

  // The stream ran dry: the next report re-joins it on a new grid, and the
  // clock does not step back.
  rig.device.target->Underrun_RT();
  const Micros ran = clock.now();
  rig.device.Report(52 * 9600.0, at += 200000);
  EXPECT_EQ(clock.Anchors(), 2u);
  EXPECT_GE(clock.now(), ran);
  const Micros after = clock.now() + 10000;
  EXPECT_EQ(frameOf(after + 20000) - frameOf(after), 960);
}

}  // namespace
}  // namespace pendlo
