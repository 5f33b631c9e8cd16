// The transport on the real beat timer and a fake clock: which click each
// tick plays, when it is due, what the listener is handed, and that no lock
// is held while the click plays.
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "support/fake_clock.h"

namespace pendlo {
namespace {

using testing::FakeClock;

// Records each click the ticks play: 'A' for the accent's file, 'p' for the
// plain one's, '!' for one played with the beat lock held.
class RecordingLink final : public SoundLink {
 public:
  explicit RecordingLink(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  void Play(const std::string& path, Micros due) override {
    // A slow output must not hold up the window's every change.
    bool lockFree = true;
    if (engine != nullptr) {
      std::thread([&] {
        lockFree = engine->Mutex().try_lock();
        if (lockFree) engine->Mutex().unlock();
      }).join();
    }
    std::lock_guard lock(mutex_);
    clicks_ += !lockFree ? '!' : path == "pi.wav" ? 'A' : path == "po.wav" ? 'p' : '?';
    dues_.push_back(due);
  }
  // Heard a fixed 5 ms after its due time, to tell it from the due time.
  Micros HeardAt(Micros due) override { return due + 5000; }
  void EnsureOpen() override {}

  std::string Clicks() {
    std::lock_guard lock(mutex_);
    return clicks_;
  }
  std::vector<Micros> Dues() {
    std::lock_guard lock(mutex_);
    return dues_;
  }
  BeatEngine* engine = nullptr;

 private:
  std::shared_ptr<FakeClock> clock_;
  std::mutex mutex_;
  std::string clicks_;
  std::vector<Micros> dues_;
};

struct Rig {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  RecordingLink* link = nullptr;
  std::unique_ptr<Transport> beat;
  std::mutex barsMutex;
  std::vector<std::pair<int, Micros>> bars;

  Rig() {
    auto recording = std::make_unique<RecordingLink>(clock);
    link = recording.get();
    beat = std::make_unique<Transport>(std::move(recording));
    link->engine = &beat->Engine();
    beat->SetClickFiles("pi.wav", "po.wav");
    beat->SetBarListener([this](int bar, Micros heardAt) {
      std::lock_guard lock(barsMutex);
      bars.emplace_back(bar, heardAt);
    });
    Tempo(72);  // as the window starts
  }
  // What the window does for a tempo or a meter chosen, and for Start.
  void Tempo(int tempo, const std::vector<std::string>& lines = {}) {
    beat->ChangeTempo(tempo);
    beat->ManageHyoushi(lines);
  }
  void Meter(int index, const std::vector<std::string>& lines = {}) {
    beat->SetMeterSelection(index);
    Tempo(beat->Engine().Snapshot().Tempo, lines);
    beat->ResetPosition();
  }
  void Start(const std::vector<std::string>& lines = {}) {
    beat->ManageHyoushi(lines);
    beat->Start();
  }
  // Runs n ticks; returns their due times.
  std::vector<Micros> Ticks(int n) {
    std::vector<Micros> dues;
    for (int i = 0; i < n; ++i) {
      const auto due = clock->step();
      EXPECT_TRUE(due.has_value());
      if (!due) break;
      dues.push_back(*due);
    }
    return dues;
  }
  // The deadline the timer waits for once it has re-armed to `expected`.
  bool WaitsFor(Micros expected) {
    for (int i = 0; i < 200; ++i) {
      if (clock->awaitWaiter(std::chrono::milliseconds(10)) == expected) return true;
    }
    return false;
  }
};

std::vector<Micros> Gaps(const std::vector<Micros>& dues) {
  std::vector<Micros> gaps;
  for (std::size_t i = 1; i < dues.size(); ++i) gaps.push_back(dues[i] - dues[i - 1]);
  return gaps;
}

TEST(Transport, EachTickPlaysItsClickOnTheGridAndHandsOnItsBar) {
  const struct {
    const char* name;
    int meter, tempo;
    std::vector<std::string> lines;
    const char* clicks;
    std::vector<Micros> gaps;
  } rows[] = {
      {"four", 3, 72, {}, "ApppA", {833000, 833000, 833000, 833000}},
      {"irregular 322", 9, 72, {"322"}, "AppApA", {833000, 833000, 833000, 833000, 833000}},
      // Each note of a triplet is a third of the beat, rounded to the ms,
      // the remainder going to the last.
      {"triplets", 10, 72, {"3"}, "AppAp", {278000, 278000, 277000, 278000}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    rig.Tempo(row.tempo, row.lines);
    rig.Meter(row.meter, row.lines);
    const Micros pressed = rig.clock->now();
    rig.Start(row.lines);
    ASSERT_TRUE(rig.WaitsFor(pressed + 833000)) << "the first tick one beat after Start";
    const auto dues = rig.Ticks(static_cast<int>(std::strlen(row.clicks)));
    EXPECT_EQ(rig.link->Clicks(), row.clicks);
    EXPECT_EQ(Gaps(dues), row.gaps);
    EXPECT_EQ(rig.link->Dues(), dues);
    std::lock_guard lock(rig.barsMutex);
    ASSERT_EQ(rig.bars.size(), dues.size());
    for (std::size_t i = 0; i < dues.size(); ++i) {
      EXPECT_EQ(rig.bars[i].first, row.clicks[i] == 'A' ? 0 : 1);
      EXPECT_EQ(rig.bars[i].second, dues[i] + 5000) << "when the click is heard";
    }
  }
}

TEST(Transport, TempoMeterStartAndStopWhileRunning) {
  Rig rig;
  rig.Start();
  rig.Ticks(2);  // A p
  // A new tempo re-times at once: the next tick one new period later.
  const Micros changed = rig.clock->now();
  rig.Tempo(120);
  ASSERT_TRUE(rig.WaitsFor(changed + 500000));
  rig.Ticks(1);  // the pattern goes on: p
  // A new meter restarts the bar: the next tick is an accent.
  rig.Meter(2);
  rig.Ticks(4);  // A p p A
  EXPECT_EQ(rig.link->Clicks(), "AppAppA");
  // Start while running keeps the phase; the next tick is an accent.
  const auto before = rig.clock->awaitWaiter();
  rig.Start();
  EXPECT_EQ(rig.clock->awaitWaiter(), before);
  rig.Ticks(1);
  EXPECT_EQ(rig.link->Clicks(), "AppAppAA");
  // Stop: nothing is armed any more.
  rig.beat->Stop();
  EXPECT_FALSE(rig.clock->awaitWaiter(std::chrono::milliseconds(100)).has_value());
  EXPECT_FALSE(rig.beat->Timer().Armed());
  EXPECT_FALSE(rig.beat->Running());
}

}  // namespace
}  // namespace pendlo
