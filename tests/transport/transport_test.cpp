// The transport on the real beat timer and a fake clock that plays the sound
// output's timeline: every click decided ahead by the output's lookahead
// while the timer wakes late by up to that much, stalls of several notes,
// and changes at chosen moments. Each row lists what is heard (the clicks
// played and not taken back, on the frames of their due times, in ms after
// Start, as far as the last wake-up decided ahead) and the flashes left must
// match them.
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <limits>
#include <mutex>
#include <sstream>

#include "support/fake_clock.h"
#include "support/recording_link.h"

namespace pendlo {
namespace {

using testing::FakeClock;
using testing::RecordingLink;
constexpr Micros kMs = 1000;

struct Event {
  enum Kind { Stall, Stop, Start, Tempo, Meter } kind;
  Micros atMs;  // after Start; a stall: the first wake-up at or after it
  int value;    // a stall's length in ms, the tempo or the meter index
  std::vector<std::string> lines = {};
  Micros lastsMs = 0;  // how long the window takes over a tempo change
};

struct Rig {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  RecordingLink* link = nullptr;
  std::unique_ptr<Transport> beat;
  std::mutex mutex;
  std::vector<std::pair<int, Micros>> flashes;  // as the window keeps them

  explicit Rig(Micros lookahead) {
    auto recording = std::make_unique<RecordingLink>(clock, lookahead);
    link = recording.get();
    beat = std::make_unique<Transport>(std::move(recording));
    link->engine = &beat->Engine();
    beat->SetClickFiles("pi.wav", "po.wav");
    beat->SetBarListener([this](int bar, Micros heardAt) {
      std::lock_guard lock(mutex);
      flashes.emplace_back(bar, heardAt);
    });
    beat->SetTakeBackListener([this](Micros heardFrom) {
      std::lock_guard lock(mutex);
      std::erase_if(flashes, [&](const auto& f) { return f.second >= heardFrom; });
    });
  }
  // What the window's handlers call.
  void Tempo(int tempo, const std::vector<std::string>& lines, Micros lasts = 0) {
    const Transport::Change change(*beat);
    beat->ChangeTempo(tempo);
    beat->ManageHyoushi(lines);
    clock->set(clock->now() + lasts);
  }
  void Meter(int index, const std::vector<std::string>& lines) {
    const Transport::Change change(*beat);
    beat->SetMeterSelection(index);
    Tempo(beat->Engine().Snapshot().Tempo, lines);
    beat->ResetPosition();
  }
  void Start(const std::vector<std::string>& lines) {
    const Transport::Change change(*beat);
    beat->ManageHyoushi(lines);
    beat->Start();
  }
};

// "A@100 p@200": each click as played ('A', 'p', '!') or as its flash (bar 0
// or 1), and its due time in ms after t0.
char Name(char click) {
  return click;
}
char Name(int bar) {
  return bar == 0 ? 'A' : bar == 1 ? 'p' : '?';
}
template <typename Kind>
std::string Heard(const std::vector<std::pair<Kind, Micros>>& heard, Micros t0) {
  std::ostringstream out;
  for (const auto& [kind, due] : heard)
    out << (out.tellp() ? " " : "") << Name(kind) << '@' << (due - t0) / kMs;
  return out.str();
}

TEST(Transport, EveryClickOnItsFrameThroughLateWakeUpsStallsAndChanges) {
  using E = Event;
  const struct {
    const char* name;
    int meter, tempo;
    std::vector<std::string> lines;
    Micros lookaheadMs;
    std::vector<Event> events;
    Micros untilMs;
    const char* heard;
    Micros committedMs = 0;  // how far past now the output keeps its clicks
  } rows[] = {
      // clang-format off
      {"four at 600", 3, 600, {}, 20, {}, 850,
       "A@100 p@200 p@300 p@400 A@500 p@600 p@700 p@800"},
      // The thread wakes 350 ms late for the note due at 300: the four notes
      // missed are counted, not played, and the bar goes on where it was.
      {"four, a stall", 3, 600, {}, 20, {{E::Stall, 250, 350}}, 950,
       "A@100 p@200 p@700 p@800 A@900"},
      {"irregular 322, a stall", 9, 600, {"322"}, 20, {{E::Stall, 250, 350}}, 1150,
       "A@100 p@200 p@700 A@800 p@900 p@1000 A@1100"},
      // Notes of 12 and 11 ms; the wake-up for 178 comes at 258: the notes
      // up to 245 are more than 10 ms overdue, 256 is not.
      {"tuplets 9, a stall", 10, 600, {"9"}, 20, {{E::Stall, 150, 100}}, 300,
       "A@100 p@112 p@123 p@134 p@145 p@156 p@167 p@256 p@267 p@278 p@289 A@300 p@312"},
      // A triplet and a quintuplet: the stall skips whole notes of both.
      {"tuplets 35, a stall", 10, 60, {"35"}, 20, {{E::Stall, 1900, 700}}, 4050,
       "A@1000 p@1334 p@1667 p@2800 A@3000 p@3334 p@3667 A@4000"},
      // The note due at 400 was decided at 380: Stop takes it back.
      {"stop", 3, 600, {}, 20, {{E::Stop, 390, 0}}, 700, "A@100 p@200 p@300"},
      // The same interval: the three notes decided ahead are decided again on
      // the same grid with the rebuilt pattern. The first tick waits for the
      // lookahead, longer than a beat here.
      {"599 to 600, a new pattern", 9, 599, {"4"}, 250, {{E::Tempo, 300, 600, {"2"}}}, 750,
       "A@250 p@350 A@450 p@550 A@650 p@750 A@850"},
      // A change outlasting the next due time: that click has begun and
      // stands, the notes after it are decided again when the change ends.
      {"599 to 600, a slow change", 9, 599, {"4"}, 250,
       {{E::Tempo, 300, 600, {"2"}, 80}}, 750, "A@250 p@350 p@450 A@550 p@650 A@750 p@850"},
      // A new interval starts from the moment of the change.
      {"600 to 300", 3, 600, {}, 20, {{E::Tempo, 390, 300}}, 1000,
       "A@100 p@200 p@300 p@590 A@790 p@990"},
      // The output has already rendered the note due at 400: it is heard
      // once, and the beat goes on from after it.
      {"stop, the next click rendered", 3, 600, {}, 50, {{E::Stop, 390, 0}}, 700,
       "A@100 p@200 p@300 p@400", 15},
      {"600 to 300, the next click rendered", 3, 600, {}, 50, {{E::Tempo, 390, 300}}, 1000,
       "A@100 p@200 p@300 p@400 A@590 p@790 p@990", 15},
      {"meter 3", 3, 600, {}, 20, {{E::Meter, 390, 2}}, 750,
       "A@100 p@200 p@300 A@400 p@500 p@600 A@700"},
      {"start while running", 3, 600, {}, 20, {{E::Start, 390, 0}}, 850,
       "A@100 p@200 p@300 A@400 p@500 p@600 p@700 A@800"},
      // The note of 277 ms decided ahead is taken back with its period: the
      // next Start runs the last note heard, 278 ms, before the first tick.
      {"triplets, stop and start", 10, 72, {"3"}, 100,
       {{E::Stop, 1380, 0}, {E::Start, 2000, 0}}, 3150, "A@833 p@1111 A@2278 p@2556 p@2834 A@3111"},
      // Stopped inside a beat of 11 ms notes: Start runs that note, which
      // could not reach the output in time, so the first tick waits the
      // lookahead.
      {"tuplets 9, stop and start", 10, 600, {"9"}, 20, {{E::Stop, 130, 0}, {E::Start, 500, 0}},
       550, "A@100 p@112 p@123 A@520 p@532 p@543"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Micros lookahead = row.lookaheadMs * kMs;
    Rig rig(lookahead);
    rig.link->committed = row.committedMs * kMs;
    rig.beat->SetMeterSelection(row.meter);
    rig.Tempo(row.tempo, row.lines);
    const Micros t0 = rig.clock->now();
    rig.Start(row.lines);
    // Wake-ups late by up to the lookahead, in turn.
    const Micros lates[] = {0, lookahead, lookahead / 3, 2 * lookahead / 3};
    std::size_t next = 0;
    for (int k = 0;; ++k) {
      const auto waiter = rig.clock->awaitWaiter(std::chrono::milliseconds(100));
      // A change comes before a late wake-up, or meanwhile.
      const Micros deadline = waiter ? *waiter + lates[k % 4] : std::numeric_limits<Micros>::max();
      if (next < row.events.size()) {
        const Event& e = row.events[next];
        if (e.kind == E::Stall && waiter && *waiter >= t0 + e.atMs * kMs) {
          rig.clock->set(*waiter + e.value * kMs);
          ++next;
          continue;
        }
        if (e.kind != E::Stall && t0 + e.atMs * kMs <= deadline) {
          rig.clock->set(t0 + e.atMs * kMs);
          if (e.kind == E::Stop) rig.beat->Stop();
          if (e.kind == E::Start) rig.Start(row.lines);
          if (e.kind == E::Tempo) rig.Tempo(e.value, e.lines, e.lastsMs * kMs);
          if (e.kind == E::Meter) rig.Meter(e.value, row.lines);
          ++next;
          continue;
        }
      }
      if (!waiter || *waiter + lookahead > t0 + row.untilMs * kMs) break;  // due after the end
      rig.clock->set(*waiter + lates[k % 4]);
    }
    EXPECT_EQ(Heard(rig.link->Played(), t0), row.heard);
    std::lock_guard lock(rig.mutex);
    EXPECT_EQ(Heard(rig.flashes, t0 + RecordingLink::kHeardAfter), row.heard) << "flashes";
    EXPECT_EQ(rig.link->BegunTakenBack(), 0);
    EXPECT_EQ(rig.link->resting.load(), !rig.beat->Running());
  }
}

}  // namespace
}  // namespace pendlo
