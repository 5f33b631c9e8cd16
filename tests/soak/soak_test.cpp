// The soak: the transport (beat engine, TMMTimer and the click player) runs
// for PENDLO_SOAK_SECONDS (20 when unset) at 600 BPM in tuplets of '9',
// playing into a private null sink of each sound server (PulseAudio, then
// PipeWire through pipewire-pulse), while a stand-in for the window makes
// the calls the window makes on a tempo, meter or definition change, once a
// second, and goes back to 600 BPM tuplets '9' every third second. Every
// tick is checked against the due-time grid, every click handed to the
// player against its tick, and the resident memory after warm-up against
// the end. Without the server's binaries the same runs without sound.
//
//   PENDLO_SOAK_SECONDS=600 build/default/tests/soak/soak_test
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files/formats/click_images.h"
#include "soak/grid_check.h"
#include "sound/player/click_player.h"
#include "support/files.h"
#include "support/sound_server.h"
#include "transport/transport.h"

namespace pendlo::soak {
namespace {

// Passes the timer's clock through and keeps what the timer read from it:
// on the window's thread a change reads it once to take back what was
// decided ahead, when it ends, and once more if it re-arms the timer (the
// moment the fresh period starts): a new tempo re-arms after the take-back,
// a Start from stopped before it; on the timer's thread it is the one reading each tick
// makes before it plays, which says whether it was called too late.
class ClockSpy final : public Clock {
 public:
  // The constructing thread is the window's.
  explicit ClockSpy(std::shared_ptr<Clock> inner)
      : inner_(std::move(inner)), window_(std::this_thread::get_id()) {}

  Micros now() override {
    const Micros t = inner_->now();
    if (std::this_thread::get_id() == window_) {
      if (windowReads_++ == 0) windowFirst_ = t;
      windowRead_ = t;
    } else {
      timerRead_ = t;
    }
    return t;
  }
  // Only the timer thread waits; the inner clock's reading leaves the
  // timer's own readings alone.
  bool waitUntil(Micros deadline) override {
    const bool reached = inner_->waitUntil(deadline);
    woke_ = inner_->now();
    return reached;
  }
  void interrupt() override { inner_->interrupt(); }

  // Window thread: the re-arm made by the one change since the last call,
  // if any: the reading beside the take-back's.
  std::optional<Micros> TakeRearm(bool beforeTakeBack = false) {
    const int reads = std::exchange(windowReads_, 0);
    const std::optional<Micros> last = std::exchange(windowRead_, std::nullopt);
    if (reads < 2) return std::nullopt;
    return beforeTakeBack ? windowFirst_ : *last;
  }
  // Timer thread: the reading of the tick in progress.
  Micros TimerRead() const { return timerRead_; }
  // Timer thread: when the timer last woke.
  Micros Woke() const { return woke_; }

 private:
  const std::shared_ptr<Clock> inner_;
  const std::thread::id window_;
  std::optional<Micros> windowRead_;  // window thread only
  Micros windowFirst_ = 0;            // window thread only
  int windowReads_ = 0;               // window thread only
  Micros timerRead_ = kNoReading;     // timer thread only
  Micros woke_ = 0;                   // timer thread only
};

// A finished tick as the timer thread hands it to the window thread.
struct Finished {
  TickRecord grid;
  Click click = Click::Accent;
  bool oneEach = false;  // one click handed over and one bar lit, both for this tick
  bool heard = false;    // the player took the click onto its stream
};

// The transport's sound output: the real player, watched. Play and the bar
// listener, which runs last in a tick, together make the tick's record; a
// record waits until its tick is due, since the window may take it back
// until then.
class SoakLink final : public sound::link::SoundLink {
 public:
  // Without `sound` the player is never opened and reads no files.
  SoakLink(sound::player::ClickPlayer& player, bool sound, std::shared_ptr<ClockSpy> spy,
           std::string accent)
      : player_(player), sound_(sound), spy_(std::move(spy)), accent_(std::move(accent)) {
    finished_.reserve(kRing);
    taken_.reserve(kRing);
  }

  // The transport's timer, before the beat starts.
  void Watch(const TMMTimer& timer) { timer_ = &timer; }

  std::shared_ptr<Clock> TimerClock() override { return spy_; }
  // The transport reads it at Start; the window's re-arms wait it out.
  Micros LookaheadMicros() const override {
    return lookahead_ = sound_ ? player_.Feed().LookaheadMicros() : 0;
  }
  Micros LastLookahead() const { return lookahead_; }
  // Only while no tick runs (the transport holds or stops the timer).
  Micros TakeBack(Micros from) override {
    const Micros back = std::max(from, sound_ ? player_.Feed().TakeBack(from) : from);
    std::lock_guard lock(mutex_);
    takenBack_ += std::erase_if(finished_, [&](const Finished& f) { return f.grid.due >= back; });
    return back;
  }
  std::uint64_t TakenBack() {
    std::lock_guard lock(mutex_);
    return takenBack_;
  }
  bool Play(const std::string& path, Micros due) override {
    TickRecord& g = call_.grid;
    g.due = timer_->DueTime();
    g.started = spy_->Woke();
    g.timerRead = spy_->TimerRead();
    // The transport has just given the timer this tick's period, if any.
    g.note = timer_->Interval();
    g.noteSetBy = player_.Feed().clock()->now();
    ++clicks_;
    call_.click = path == accent_ ? Click::Accent : Click::Plain;
    clickDue_ = due;
    const std::uint64_t before = player_.Stats().plays;
    const bool queued = player_.Feed().Play(path, due);
    call_.heard = player_.Stats().plays == before + 1;
    // Too late to start near its frame: no bar follows; the grid goes on.
    if (!queued) {
      call_.oneEach = true;
      Finish();
    }
    return queued;
  }
  Micros HeardAt(Micros due) override {
    heardDue_ = due;
    return heardAt_ = player_.Feed().HeardAtSteady(due);
  }
  void Prepare(const std::string& path) override {
    if (sound_) player_.Feed().Clicks().Request(path);
  }
  // A failure stays in the player for the test to take.
  void EnsureOpen() override {
    if (sound_) player_.EnsureOpen();
  }

  // Timer thread, the bar listener: closes the tick's record.
  void Bar(int bar, Micros heardAt) {
    call_.oneEach = clicks_ == 1 && (bar == 0) == (call_.click == Click::Accent) &&
                    clickDue_ == call_.grid.due && heardDue_ == clickDue_ && heardAt == heardAt_;
    Finish();
  }

  // Window thread: hands every finished tick due by `until` to `take`,
  // oldest first.
  template <typename F>
  void Drain(F&& take, Micros until) {
    taken_.clear();
    {
      std::lock_guard lock(mutex_);
      const auto due = std::find_if(finished_.begin(), finished_.end(),
                                    [&](const Finished& f) { return f.grid.due > until; });
      taken_.assign(finished_.begin(), due);
      finished_.erase(finished_.begin(), due);
    }
    for (const Finished& f : taken_) take(f);
  }
  std::uint64_t Overflows() {
    std::lock_guard lock(mutex_);
    return overflows_;
  }

 private:
  // Timer thread: hands the tick's record over.
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      if (finished_.size() < kRing) {
        finished_.push_back(call_);
      } else {
        ++overflows_;
      }
    }
    call_ = {};
    clicks_ = 0;
  }

  sound::player::ClickPlayer& player_;
  const bool sound_;
  const std::shared_ptr<ClockSpy> spy_;
  const std::string accent_;
  const TMMTimer* timer_ = nullptr;

  // Timer thread only.
  Finished call_;
  int clicks_ = 0;
  Micros clickDue_ = 0, heardDue_ = 0, heardAt_ = 0;

  // Both hold kRing ticks from the start: the timer thread never allocates.
  static constexpr std::size_t kRing = 4096;
  mutable Micros lookahead_ = 0;  // window thread
  std::mutex mutex_;  // finished_ and the counts, between the timer and the window thread
  std::vector<Finished> finished_, taken_;
  std::uint64_t overflows_ = 0, takenBack_ = 0;
};

// The window's handlers reduced to their calls on the transport, in the
// window's order; a control's event runs only on a real change of its value.
// Every re-arm they cause is reported to the check.
class Window {
 public:
  Window(Transport& transport, ClockSpy& spy, GridCheck& check, const SoakLink& link)
      : transport_(transport), spy_(spy), check_(check), link_(link) {}

  int Tempo() const { return tempo_; }
  int Meter() const { return meter_; }

  // The tempo scroll bar moved (scrBarTempoChange).
  void SetTempo(int bpm) {
    if (bpm == tempo_) return;
    tempo_ = bpm;
    ChangeTempo();
    transport_.ManageHyoushi(lines_);
  }
  // A meter chosen in the radio group (rgHyoushiClick after the index).
  void ChooseMeter(int index) {
    if (index == meter_) return;
    meter_ = index;
    transport_.SetMeterSelection(index);
    ChangeTempo();
    transport_.ManageHyoushi(lines_);
    transport_.ResetPosition();
  }
  // The definition text edited: nothing happens until the pattern is rebuilt.
  void EditText(const std::string& text) {
    lines_.assign(1, {});
    for (const char c : text) {
      if (c == '\n') {
        lines_.emplace_back();
      } else {
        lines_.back() += c;
      }
    }
  }
  // Start (btnStartClick), also while running.
  void PressStart() {
    transport_.ManageHyoushi(lines_);
    spy_.TakeRearm();
    const bool fromStopped = !transport_.Running();
    transport_.Start();
    Report(fromStopped);
  }
  void PressStop() { transport_.Stop(); }

 private:
  void ChangeTempo() {
    spy_.TakeRearm();
    transport_.ChangeTempo(tempo_);
    Report();
  }
  // No tick changes the interval meanwhile: the timer is held or stopped.
  void Report(bool rearmedFirst = false) {
    if (const auto at = spy_.TakeRearm(rearmedFirst))
      check_.Rearmed(*at, transport_.Timer().Interval(), link_.LastLookahead());
  }

  Transport& transport_;
  ClockSpy& spy_;
  GridCheck& check_;
  const SoakLink& link_;
  int tempo_ = 0;
  int meter_ = 3;  // "4", as the window is built
  std::vector<std::string> lines_;
};

// The transport on the player's clock and a stand-in for the window, with the
// finished ticks checked against the grid.
struct Rig {
  Rig(sound::player::ClickPlayer& player, bool sound, const std::string& pi, const std::string& po)
      : spy(std::make_shared<ClockSpy>(player.Feed().clock())),
        clock(player.Feed().clock()),
        link(new SoakLink(player, sound, spy, pi)),
        transport(std::unique_ptr<sound::link::SoundLink>(link)),
        window(transport, *spy, check, *link) {
    link->Watch(transport.Timer());
    transport.SetClickFiles(pi, po);
    transport.SetBarListener([l = link](int bar, Micros heardAt) { l->Bar(bar, heardAt); });
    transport.SetErrorListener([this](const std::string&) { ++timerErrors; });
  }

  // Checks every finished tick due by now (every one left, once stopped),
  // and hands it to `also`.
  template <typename F = void (*)(const Finished&)>
  void Drain(F&& also = [](const Finished&) {}) {
    const Micros until = transport.Running() ? clock->now() : std::numeric_limits<Micros>::max();
    link->Drain(
        [&](const Finished& f) {
          notOneEach += !f.oneEach;
          unheard += !f.heard;
          if (!f.heard && firstUnheard < 0) {
            firstUnheard =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
          }
          check.Tick(f.grid);
          also(f);
        },
        until);
  }
  // Sleeps until `until`, checking the finished ticks on the way.
  template <typename F = void (*)(const Finished&)>
  void RunUntil(
      std::chrono::steady_clock::time_point until, F&& also = [](const Finished&) {}) {
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now()) {
      Drain(also);
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          until - now, std::chrono::milliseconds(50)));
    }
  }

  GridCheck check;
  std::shared_ptr<ClockSpy> spy;
  const std::shared_ptr<Clock> clock;  // the spy's, unwatched
  SoakLink* link;                      // owned by the transport
  Transport transport;
  Window window;
  std::atomic<int> timerErrors{0};
  std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
  std::uint64_t notOneEach = 0, unheard = 0;
  double firstUnheard = -1;  // seconds after t0
};

// Resident memory of the process's own, in bytes: all of it but the pages
// of shared memory. Those are the sound library's block pool, a region mapped
// once at a fixed size whose pages are touched as blocks circulate between
// the process and the server; they level off and cannot grow past the pool.
struct Resident {
  long own = 0;
  long shared = 0;
};
Resident ResidentBytes() {
  std::ifstream status("/proc/self/status");
  Resident r;
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) total = std::atol(line.c_str() + 6) * 1024;
    if (line.rfind("RssShmem:", 0) == 0) r.shared = std::atol(line.c_str() + 9) * 1024;
  }
  r.own = total - r.shared;
  return r;
}

int SoakSeconds() {
  const char* value = std::getenv("PENDLO_SOAK_SECONDS");
  const int seconds = value ? std::atoi(value) : 0;
  return seconds > 0 ? seconds : 20;
}

// The sanitizers' runtimes keep freed blocks in quarantine and shadow state
// that grow with the run, whatever the program does; their builds report the
// resident memory without bounding it (CMake says which build this is).
constexpr bool kSanitized = PENDLO_SANITIZED;

// The click files and the player, on a private server of `name` when its
// binaries are there (else the beat runs silent).
struct Sound {
  explicit Sound(const std::string& name) : server(name, 48000) {}
  // Starts the server and the player's stream on it; a server that starts
  // without a stream fails the test.
  void Start() {
    std::string error;
    if (!server.Start(&error)) {
      std::printf("soak: no %s server (%s); the beat runs silent\n", server.Name().c_str(),
                  error.c_str());
      return;
    }
    streaming = player.EnsureOpen() && testing::WaitUntilStreaming(*player.Feed().clock());
    ASSERT_TRUE(streaming) << "no stream from the private server: " << player.TakeError();
  }

  testing::SoundServer server;
  testing::TempDir dir;
  const std::string pi = dir.Write("pi.wav", PiWave), po = dir.Write("po.wav", PoWave);
  sound::player::ClickPlayer player;
  bool streaming = false;  // the player streams to the server
};

constexpr int kHomeTempo = 600;
constexpr const char* kHomeText = "9";
const std::vector<int> kTempos = {20, 37, 60, 72, 120, 192, 240, 301, 320, 450, 599, 600};
const std::vector<std::string> kTexts = {
    "9",         "35",        "322",      "/ a comment line\n53", "1", "", "77",
    "no digits", "987654321", "2\n/9\n4", "123456789123456789"};

// One change a second; every third second back to 600 BPM tuplets '9'.
void Act(Window& window, int second, std::mt19937& rng) {
  const auto pick = [&](const auto& table) { return table[rng() % table.size()]; };
  const auto otherTempo = [&] {
    int bpm = pick(kTempos);
    if (rng() % 3 == 0) bpm = kTempoMin + static_cast<int>(rng() % (kTempoMax - kTempoMin + 1));
    return bpm != window.Tempo() ? bpm : (bpm == kTempoMax ? bpm - 1 : bpm + 1);
  };
  if (second % 3 == 0) {
    window.EditText(kHomeText);
    const bool rebuilt = window.Meter() != kMeterTuplets || window.Tempo() != kHomeTempo;
    window.ChooseMeter(kMeterTuplets);
    window.SetTempo(kHomeTempo);
    if (!rebuilt) window.PressStart();
    return;
  }
  switch (rng() % 4) {
    case 0:
      window.SetTempo(otherTempo());
      break;
    case 1:
      window.ChooseMeter((window.Meter() + 1 + static_cast<int>(rng() % 10)) % 11);
      break;
    case 2:
      window.EditText(pick(kTexts));
      window.PressStart();
      break;
    default:
      window.EditText(pick(kTexts));
      window.SetTempo(otherTempo());
      break;
  }
}

// The check itself must see a lost, doubled, shifted or mis-timed tick, and
// must not see one where the timer followed its rules.
TEST(Soak, TheGridCheckFindsEveryKindOfFault) {
  struct Step {
    bool rearm;
    Micros at;  // re-arm moment, or the tick's due time
    std::uint32_t ms = 0;
    Micros timerRead = kNoReading;
    Micros setBy = 0;
    Micros lookahead = 0;
  };
  const auto R = [](Micros at, std::uint32_t ms, Micros lookahead = 0) {
    return Step{true, at, ms, kNoReading, 0, lookahead};
  };
  const auto T = [](Micros due, Micros timerRead = kNoReading, std::uint32_t note = 0,
                    Micros setBy = 0) {
    return Step{false, due, note, timerRead, setBy};
  };
  struct Row {
    const char* name;
    std::vector<Step> steps;
    std::uint64_t faults, passedOver;
  };
  const Row rows[] = {
      {"steady grid", {R(0, 100), T(100000), T(200000, 116000), T(300000, 216000)}, 0, 0},
      {"no Start before the first tick", {T(100000)}, 1, 0},
      {"a lost tick", {R(0, 100), T(100000), T(300000, 116000)}, 1, 0},
      {"a doubled tick", {R(0, 100), T(100000), T(100000, 116000)}, 1, 0},
      {"a tick 1 us late on the grid", {R(0, 100), T(100000), T(200001, 116000)}, 1, 0},
      {"a window re-arm starts a fresh period",
       {R(0, 100), T(100000), R(130000, 50), T(180000, 116000), T(230000, 196000)},
       0,
       0},
      {"a window re-arm ignored", {R(0, 100), T(100000), R(130000, 50), T(200000, 116000)}, 1, 0},
      {"a re-arm's first note waits out a longer lookahead",
       {R(0, 11, 45000), T(45000, kNoReading, 11, 45100), T(56000, 50000)},
       0,
       0},
      {"a re-arm's first note before the lookahead", {R(0, 11, 45000), T(11000)}, 1, 0},
      {"tuplet notes run on from the due times",
       {R(0, 100), T(100000, kNoReading, 12, 100300), T(112000, 116100, 11, 116200),
        T(123000, 132000, 11, 132100)},
       0,
       0},
      {"grid points passed over during a long call",
       {R(0, 100), T(100000, kNoReading, 11, 100100), T(122000, 123000, 11, 123100)},
       0,
       1},
      {"a burst instead of passing over",
       {R(0, 100), T(100000, kNoReading, 11, 100100), T(111000, 123000, 11, 123100)},
       1,
       0},
      {"the tick's setting after the window's re-arm wins",
       {R(0, 100), T(100000, kNoReading, 12, 100500), R(100200, 100), T(112000, 116000)},
       0,
       0},
      {"the window's re-arm after the tick's setting wins",
       {R(0, 100), T(100000, kNoReading, 12, 100500), R(100600, 100), T(112000, 116000)},
       1,
       0},
      {"the window's re-arm inside the call, read as the interval, wins",
       {R(0, 100), T(100000, kNoReading, 50, 100500), R(100200, 50), T(150000, 116000)},
       1,
       0},
  };
  for (const Row& row : rows) {
    GridCheck check;
    for (const Step& s : row.steps) {
      if (s.rearm) {
        check.Rearmed(s.at, s.ms, s.lookahead);
      } else {
        check.Tick({s.at, s.at, s.timerRead, s.ms, s.setBy});
      }
    }
    EXPECT_EQ(check.Figures().faults, row.faults) << row.name << ": " << check.Figures().firstFault;
    EXPECT_EQ(check.Figures().passedOver, row.passedOver) << row.name;
  }
}

// At 600 BPM a beat is 100 ms: tuplets of 9 are notes of 12 and 11 ms, of 7
// notes of 15 and 14 ms, all shorter than the bar's 16 ms flash. Every note
// must come on its own due time, so each accent is exactly one beat after the
// one before, with the group's notes between.
TEST(Soak, FastTupletsKeepEveryNoteOnItsDueTime) {
  Sound sound("pulse");
  ASSERT_NO_FATAL_FAILURE(sound.Start());
  const int seconds = std::max(2, SoakSeconds() / 5);
  for (const char* text : {"9", "7"}) {
    SCOPED_TRACE(text);
    const int notes = text[0] - '0';
    Rig rig(sound.player, sound.streaming, sound.pi, sound.po);
    rig.window.EditText(text);
    rig.window.SetTempo(kTempoMax);
    rig.window.ChooseMeter(kMeterTuplets);
    std::vector<Micros> accents;
    std::uint64_t slips = 0;
    int sinceAccent = 0;
    const auto record = [&](const Finished& f) {
      if (f.click != Click::Accent) {
        ++sinceAccent;
        return;
      }
      if (!accents.empty() && (f.grid.due - accents.back() != 100'000 || sinceAccent != notes - 1))
        ++slips;
      accents.push_back(f.grid.due);
      sinceAccent = 0;
    };
    rig.t0 = std::chrono::steady_clock::now();
    rig.window.PressStart();
    rig.RunUntil(rig.t0 + std::chrono::seconds(seconds), record);
    rig.window.PressStop();
    rig.Drain(record);

    const GridFigures& g = rig.check.Figures();
    std::printf(
        "soak: 600 BPM tuplets '%s': %llu notes, %zu accents, %llu slips, %llu grid points"
        " called too late to play, latest call after its due time %.3f ms\n",
        text, static_cast<unsigned long long>(g.ticks), accents.size(),
        static_cast<unsigned long long>(slips), static_cast<unsigned long long>(g.passedOver),
        g.maxLateMicros / 1000.0);
    EXPECT_EQ(g.faults, 0u) << g.firstFault;
    EXPECT_EQ(g.passedOver, 0u) << "notes called too late to play";
    EXPECT_EQ(slips, 0u) << "accents not exactly one beat apart";
    EXPECT_GE(accents.size(), static_cast<std::size_t>(seconds) * 9);
    EXPECT_EQ(rig.notOneEach, 0u);
    if (sound.streaming) {
      EXPECT_EQ(rig.unheard, 0u);
    }
  }
}

// The sound server's name.
class SoakOnServer : public ::testing::TestWithParam<std::string> {};

TEST_P(SoakOnServer, TheBeatKeepsItsGridAndMemoryWhileTheWindowChangesEverySecond) {
  const int seconds = SoakSeconds();
  const int warmUp = std::max(1, seconds / 10);

  Sound output(GetParam());
  ASSERT_NO_FATAL_FAILURE(output.Start());
  const bool sound = output.streaming;
  sound::player::ClickPlayer& player = output.player;
  Rig rig(player, sound, output.pi, output.po);
  Window& window = rig.window;
  window.EditText(kHomeText);
  window.SetTempo(kHomeTempo);
  window.ChooseMeter(kMeterTuplets);

  std::mt19937 rng(6);
  Resident warm;
  long rssMax = 0;
  int actions = 0;
  rig.t0 = std::chrono::steady_clock::now();
  window.PressStart();
  for (int s = 1; s < seconds; ++s) {
    rig.RunUntil(rig.t0 + std::chrono::seconds(s));
    if (s == warmUp) warm = ResidentBytes();
    if (s >= warmUp) rssMax = std::max(rssMax, ResidentBytes().own);
    Act(window, s, rng);
    ++actions;
  }
  rig.RunUntil(rig.t0 + std::chrono::seconds(seconds));
  const Resident end = ResidentBytes();
  const long rssWarm = warm.own, rssEnd = end.own;
  rssMax = std::max(rssMax, rssEnd);
  window.PressStop();
  rig.Drain();

  const GridFigures& g = rig.check.Figures();
  const std::uint64_t ticks = g.ticks;
  const sound::player::PlayerStats stats = player.Stats();
  std::printf(
      "soak: %d s, %llu ticks (%llu grid points called too late to play), "
      "%d window changes (%llu re-arms)\n"
      "  grid faults %llu, max due-time error %lld us, latest call after its due time %.3f ms, "
      "timer errors %d\n"
      "  clicks: %s, %llu taken by the player, %llu not one-for-one, %llu dropped, "
      "%llu late onsets, %llu clock re-joins\n"
      "  RSS %.2f MB after %d s warm-up, %.2f MB at the end (growth %+.0f KB, max %.2f MB)%s;"
      " shared pool %.2f MB, then %.2f MB\n",
      seconds, static_cast<unsigned long long>(g.ticks),
      static_cast<unsigned long long>(g.passedOver), actions,
      static_cast<unsigned long long>(g.rearms), static_cast<unsigned long long>(g.faults),
      static_cast<long long>(g.maxErrorMicros), g.maxLateMicros / 1000.0, rig.timerErrors.load(),
      sound ? (GetParam() + " null sink").c_str() : "no sound",
      static_cast<unsigned long long>(stats.plays), static_cast<unsigned long long>(rig.notOneEach),
      static_cast<unsigned long long>(stats.dropped), static_cast<unsigned long long>(stats.late),
      static_cast<unsigned long long>(stats.anchors ? stats.anchors - 1 : 0), rssWarm / 1048576.0,
      warmUp, rssEnd / 1048576.0, (rssEnd - rssWarm) / 1024.0, rssMax / 1048576.0,
      kSanitized ? " (not bounded under a sanitizer)" : "", warm.shared / 1048576.0,
      end.shared / 1048576.0);
  if (!g.firstFault.empty()) std::printf("  first fault: %s\n", g.firstFault.c_str());
  if (sound && rig.unheard > 0) {
    std::printf("  the player stopped taking clicks %.1f s into the run; the server %s\n",
                rig.firstUnheard, output.server.Running() ? "still runs" : "has gone");
  }

  EXPECT_EQ(g.faults, 0u) << g.firstFault;
  EXPECT_GE(ticks, static_cast<std::uint64_t>(seconds) * 10) << "the beat hardly ran";
  EXPECT_EQ(rig.link->Overflows(), 0u);
  EXPECT_EQ(rig.timerErrors.load(), 0);
  EXPECT_EQ(rig.notOneEach, 0u) << "ticks without exactly one click and one bar of their own";
  if (sound) {
    EXPECT_EQ(rig.unheard, 0u) << "ticks whose click the player did not take";
    EXPECT_EQ(stats.plays, ticks + rig.link->TakenBack());
    EXPECT_EQ(stats.dropped, 0u);
    EXPECT_EQ(player.TakeError(), "");
  }
  if (!kSanitized) {
    EXPECT_LT(rssEnd - rssWarm, 1 << 20) << "resident memory grew after warm-up";
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, SoakOnServer, ::testing::ValuesIn(testing::SoundServer::Names()),
                         [](const auto& p) { return p.param; });

}  // namespace
}  // namespace pendlo::soak
