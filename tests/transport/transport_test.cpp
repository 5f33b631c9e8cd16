// The transport on the real beat timer and a fake clock: which click each
// tick plays, when it is due, what the listener is handed, and that no lock
// is held while the click plays.
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "support/fake_clock.h"
#include "support/recording_link.h"

namespace pendlo {
namespace {

using testing::FakeClock;
using testing::Gaps;
using testing::RecordingLink;

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
};

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
    ASSERT_TRUE(rig.clock->awaitDeadline(pressed + 833000))
        << "the first tick one beat after Start";
    const auto dues = rig.clock->steps(static_cast<int>(std::strlen(row.clicks)));
    EXPECT_EQ(rig.link->Clicks(), row.clicks);
    EXPECT_EQ(Gaps(dues), row.gaps);
    EXPECT_EQ(rig.link->Dues(), dues);
    std::lock_guard lock(rig.barsMutex);
    ASSERT_EQ(rig.bars.size(), dues.size());
    for (std::size_t i = 0; i < dues.size(); ++i) {
      EXPECT_EQ(rig.bars[i].first, row.clicks[i] == 'A' ? 0 : 1);
      EXPECT_EQ(rig.bars[i].second, dues[i] + RecordingLink::kHeardAfter)
          << "when the click is heard";
    }
  }
}

TEST(Transport, TempoMeterStartAndStopWhileRunning) {
  Rig rig;
  EXPECT_TRUE(rig.link->resting) << "the output may rest until the first Start";
  rig.Start();
  EXPECT_FALSE(rig.link->resting);
  rig.clock->steps(2);  // A p
  // A new tempo re-times at once: the next tick one new period later.
  const Micros changed = rig.clock->now();
  rig.Tempo(120);
  ASSERT_TRUE(rig.clock->awaitDeadline(changed + 500000));
  rig.clock->steps(1);  // the pattern goes on: p
  // A new meter restarts the bar: the next tick is an accent.
  rig.Meter(2);
  rig.clock->steps(4);  // A p p A
  EXPECT_EQ(rig.link->Clicks(), "AppAppA");
  // Start while running keeps the phase; the next tick is an accent.
  const auto before = rig.clock->awaitWaiter();
  rig.Start();
  EXPECT_EQ(rig.clock->awaitWaiter(), before);
  rig.clock->steps(1);
  EXPECT_EQ(rig.link->Clicks(), "AppAppAA");
  // Stop: nothing is armed any more.
  rig.beat->Stop();
  EXPECT_FALSE(rig.clock->awaitWaiter(std::chrono::milliseconds(100)).has_value());
  EXPECT_FALSE(rig.beat->Timer().Armed());
  EXPECT_FALSE(rig.beat->Running());
  EXPECT_TRUE(rig.link->resting);
}

}  // namespace
}  // namespace pendlo
