// click_timing: the beat engine, TMMTimer and the click player without a
// window, through a private sound server (null sink, 48 kHz): PulseAudio, or
// a PipeWire session reached through pipewire-pulse. The sink's
// monitor is recorded with parec, every click is found in the recording, and
// each interval is compared with the exact spacing of the due times.
//
//   click_timing [--tempo 120] [--meter 1..9|irregular|tuplets] [--text 322]
//                [--seconds 40] [--buffer 256] [--ahead-ms 25] [--server-ms 13]
//                [--csv errors.csv] [--server pulse|pipewire]
//                [--backend default|pulse|sdl|pipewire] [--margin-ms 3]
//                [--rest 10] [--release 2] [--late-every 50 --late-ms 15]
//                [--changes 20]
//
// --server picks the private server (a PulseAudio daemon or a PipeWire
// session, null sink at 48 kHz); --backend the program's output, by default
// the one the program itself would choose there; --margin-ms is the margin
// for the timer's late wake-ups in the lookahead; --rest keeps the beat
// stopped that many seconds first, as a user leaves the window open, and
// reports the CPU and the output's callbacks meanwhile (the output rests
// after two seconds); the beat then starts as Start starts it, and the first
// click's place against the second is reported; --release is how long the
// beat rests before the output is closed (0: never; by default the
// program's own). --late-every
// makes every Nth wait of the beat timer return --late-ms late, as a thread
// woken late would: late wake-ups up to the output's lookahead move no click.
// --changes N makes N decisions while playing, at uneven moments, in turn a
// Stop (Start again 0.4 s later) and a tempo change (to three quarters of
// --tempo and back), and reports how long after each decision clicks
// decided before it were still heard: how soon the decision is heard.
//
// Prints the interval error (mean, sd, p99, max in samples and ms), clicks
// that are missing, extra or of the wrong kind, the stream latency the
// server reports, and the process's CPU use.
#include "click_timing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cpu_seconds.h"
#include "engine/beat_state.h"
#include "files/formats/click_images.h"
#include "sound/player/click_player.h"
#include "support/loaded_clicks.h"
#include "support/sound_server.h"
#include "transport/transport.h"

namespace pendlo::bench {
namespace {

using sound::player::ClickPlayer;
using testing::SoundServer;

[[noreturn]] void Usage() {
  std::fprintf(
      stderr,
      "usage: click_timing [--tempo N] [--meter 1..9|irregular|tuplets] [--text DIGITS]\n"
      "                    [--seconds S] [--buffer FRAMES] [--ahead-ms MS] [--server-ms MS]\n"
      "                    [--csv FILE] [--backend default|pulse|sdl|pipewire]\n"
      "                    [--server pulse|pipewire] [--margin-ms MS] [--rest S]\n"
      "                    [--release S] [--late-every N] [--late-ms MS] [--changes N]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage();
    const std::string value = argv[++i];
    if (arg == "--tempo") {
      o.tempo = std::atoi(value.c_str());
    } else if (arg == "--meter") {
      if (value == "irregular") {
        o.meter = kMeterIrregular;
      } else if (value == "tuplets") {
        o.meter = kMeterTuplets;
      } else if (value.size() == 1 && value[0] >= '1' && value[0] <= '9') {
        o.meter = value[0] - '1';
      } else {
        Usage();
      }
    } else if (arg == "--text") {
      o.text = value;
    } else if (arg == "--seconds") {
      o.seconds = std::atof(value.c_str());
    } else if (arg == "--buffer") {
      o.buffer = std::atoi(value.c_str());
    } else if (arg == "--ahead-ms") {
      o.aheadMs = std::atof(value.c_str());
    } else if (arg == "--server-ms") {
      o.serverMs = std::atof(value.c_str());
    } else if (arg == "--csv") {
      o.csv = value;
    } else if (arg == "--backend" &&
               (value == "default" || value == "pulse" || value == "sdl" || value == "pipewire")) {
      o.backend = value;
    } else if (arg == "--server" && (value == "pulse" || value == "pipewire")) {
      o.server = value;
    } else if (arg == "--margin-ms") {
      o.marginMs = std::atof(value.c_str());
    } else if (arg == "--rest") {
      o.restSeconds = std::atof(value.c_str());
    } else if (arg == "--release") {
      o.releaseSeconds = std::atof(value.c_str());
    } else if (arg == "--late-every") {
      o.lateEvery = std::atoi(value.c_str());
    } else if (arg == "--late-ms") {
      o.lateMs = std::atof(value.c_str());
    } else if (arg == "--changes") {
      o.changes = std::atoi(value.c_str());
    } else {
      Usage();
    }
  }
  return o;
}

// The definition text as display lines ("\n" or a literal backslash-n).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n')) {
      if (text[i] == '\\') ++i;
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

// The calling thread's time spent runnable but not running, so far (the
// scheduler's own count; a virtual CPU the host took away is not in it).
Micros RunQueueMicros() {
  std::ifstream in("/proc/thread-self/schedstat");
  long long running = 0, waiting = 0;
  in >> running >> waiting;
  return waiting / 1000;
}

// The beat timer's clock with late wake-ups: every `every`th wait returns
// `late` after its deadline. Only the timer thread waits.
class LateClock final : public Clock {
 public:
  LateClock(std::shared_ptr<Clock> inner, int every, Micros late)
      : inner_(std::move(inner)), every_(every), late_(late) {}
  Micros now() override { return inner_->now(); }
  bool waitUntil(Micros deadline) override {
    return inner_->waitUntil(++waits_ % every_ == 0 ? deadline + late_ : deadline);
  }
  void interrupt() override { inner_->interrupt(); }

 private:
  const std::shared_ptr<Clock> inner_;
  const int every_;
  const Micros late_;
  std::uint64_t waits_ = 0;
};

// The program's sound output over the bench's player, keeping each click
// the transport plays.
class BenchLink final : public sound::link::SoundLink {
 public:
  BenchLink(sound::player::ClickPlayer& player, int lateEvery, Micros late)
      : player_(player),
        clock_(lateEvery > 0 ? std::shared_ptr<Clock>(std::make_shared<LateClock>(
                                   player.Feed().clock(), lateEvery, late))
                             : std::shared_ptr<Clock>(player.Feed().clock())) {
    ticks_.reserve(100000);
  }
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  Micros LookaheadMicros() const override { return player_.Feed().LookaheadMicros(); }
  // The ticks taken back are kept no more: they must not sound.
  Micros TakeBack(Micros from) override {
    const Micros back = player_.Feed().TakeBack(from);
    std::lock_guard lock(mutex_);
    std::erase_if(ticks_, [&](const Tick& t) { return t.due >= std::max(from, back); });
    return back;
  }
  // A click too late to start near its frame is not kept: it is not heard.
  bool Play(const std::string& path, Micros due) override {
    const Micros now = player_.Feed().clock()->now();
    const Micros rendered = player_.Feed().clock()->RenderedUpTo();
    if (!player_.Feed().Play(path, due)) return false;
    const Micros waited = trace_ ? RunQueueMicros() : 0;
    std::lock_guard lock(mutex_);
    const Click click = path.ends_with("pi.wav") ? Click::Accent : Click::Plain;
    if (ticks_.size() < ticks_.capacity()) ticks_.push_back({click, due, now, rendered, waited});
    return true;
  }
  Micros HeardAt(Micros due) override { return player_.Feed().HeardAtSteady(due); }
  void Prepare(const std::string& path) override { player_.Feed().Clicks().Request(path); }
  void Rest(bool resting) override { player_.Rest(resting); }
  void EnsureOpen() override {}  // opened before the beat, as at start-up

  std::vector<Tick> Ticks() {
    std::lock_guard lock(mutex_);
    return ticks_;
  }

 private:
  sound::player::ClickPlayer& player_;
  const std::shared_ptr<Clock> clock_;
  const bool trace_ = std::getenv("CLICK_TIMING_TRACE") != nullptr;
  std::mutex mutex_;
  std::vector<Tick> ticks_;
};

int Fail(const std::string& error) {
  std::fprintf(stderr, "click_timing: %s\n", error.c_str());
  return 1;
}

// The click files, written into the server's directory.
struct ClickFiles {
  std::string pi, po;
};

ClickFiles WriteClickFiles(const std::string& dir) {
  const ClickFiles files{dir + "/pi.wav", dir + "/po.wav"};
  std::ofstream(files.pi, std::ios::binary)
      .write(reinterpret_cast<const char*>(PiWave.data()), PiWave.size());
  std::ofstream(files.po, std::ios::binary)
      .write(reinterpret_cast<const char*>(PoWave.data()), PoWave.size());
  return files;
}

std::unique_ptr<ClickPlayer> MakePlayer(const Options& o) {
  sound::player::PlayerOptions options;
  options.bufferFrames = o.buffer;
  options.callbackAheadMicros = static_cast<Micros>(o.aheadMs * 1000);
  options.serverBufferMicros = static_cast<Micros>(o.serverMs * 1000);
  options.wakeMarginMicros = static_cast<Micros>(o.marginMs * 1000);
  options.releaseAfterMicros = static_cast<Micros>(o.releaseSeconds * 1e6);
  return std::make_unique<ClickPlayer>(o.backend == "sdl"     ? sound::output::sdl::MakeBackend()
                                       : o.backend == "pulse" ? sound::output::pulse::MakeBackend()
                                       : o.backend == "pipewire"
                                           ? sound::output::pipewire::MakeBackend()
                                           : sound::output::MakeDefaultBackend(),
                                       options);
}

// Opens the output, waits until its stream runs and reads the clicks ahead
// of the first tick, as the window does at start-up.
bool OpenStream(ClickPlayer& player, const ClickFiles& files) {
  if (!player.EnsureOpen() || !testing::WaitUntilStreaming(*player.Feed().clock())) {
    std::fprintf(stderr, "click_timing: no stream: %s\n", player.TakeError().c_str());
    return false;
  }
  pendlo::testing::WaitUntilLoaded(player.Feed().Clicks(), {files.pi, files.po});
  return true;
}

// --rest: the beat stays stopped, as a user leaves the window open; the CPU
// and the output's callbacks meanwhile.
void Rest(const Options& o, ClickPlayer& player) {
  const double cpu0 = CpuSeconds();
  const std::uint64_t buffers0 = player.Stats().buffers;
  std::this_thread::sleep_for(std::chrono::duration<double>(o.restSeconds));
  const double cpu = CpuSeconds() - cpu0;
  const std::uint64_t buffers = player.Stats().buffers - buffers0;
  std::printf("  stopped %.0f s: CPU %.3f %%, %llu output callbacks (%.1f per second)\n",
              o.restSeconds, 100 * cpu / o.restSeconds, static_cast<unsigned long long>(buffers),
              static_cast<double>(buffers) / o.restSeconds);
}

// --changes: decisions at uneven moments, in turn a Stop (Start again 0.4 s
// later) and a tempo change (to three quarters of --tempo and back).
void MakeDecisions(const Options& o, Transport& beat, ClickPlayer& player,
                   const SoundServer& server, Run& run) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> pause(0.6, 1.4);
  for (int i = 0; i < o.changes; ++i) {
    std::this_thread::sleep_for(std::chrono::duration<double>(pause(random)));
    const Decision d{player.Feed().clock()->now(), i % 2 == 0};
    if (d.stop) {
      beat.Stop();
    } else {
      beat.ChangeTempo(i % 4 == 1 ? o.tempo * 3 / 4 : o.tempo);
    }
    run.decisions.push_back(d);
    if (std::getenv("CLICK_TIMING_TRACE"))
      std::fprintf(stderr, "decision %s at %lld\n", d.stop ? "stop" : "tempo",
                   static_cast<long long>(d.at));
    if (!run.pipewire) run.latencies.push_back(QueryLatency(server));
    if (d.stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      beat.Start();
    }
  }
}

// Plays --seconds from t0, asking the server for its latency on the way.
void PlayFor(const Options& o, std::chrono::steady_clock::time_point t0, const SoundServer& server,
             Run& run) {
  const auto end = t0 + std::chrono::duration<double>(o.seconds);
  const auto step = std::chrono::duration<double>(std::max(1.0, o.seconds / 5));
  for (auto next = t0 + step / 2; next < end; next += step) {
    std::this_thread::sleep_until(next);
    if (!run.pipewire) run.latencies.push_back(QueryLatency(server));
  }
  std::this_thread::sleep_until(end);
}

// Starts the beat as Start does, plays and stops it; the threads' CPU at
// both ends and the times into `run`.
void Play(const Options& o, Transport& beat, ClickPlayer& player, const SoundServer& server,
          BenchLink& played, const std::function<void()>& started, Run& run) {
  run.before = ThreadCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  const Micros startSteady = steadyNowMicros();
  run.startClock = player.Feed().clock()->now();
  beat.ManageHyoushi(Lines(o.text));
  beat.Start();
  run.startMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  started();
  if (o.changes > 0) {
    MakeDecisions(o, beat, player, server, run);
  } else {
    PlayFor(o, t0, server, run);
  }
  // By now the clock's line follows the server's reports, and the grid the
  // first click was placed on has not moved since: where it was heard.
  if (const std::vector<Tick> ticks = played.Ticks(); !ticks.empty())
    run.firstHeardMs = (player.Feed().HeardAtSteady(ticks.front().due) - startSteady) / 1000.0;
  beat.Stop();
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.after = ThreadCpuSeconds();
}

int Main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  // PipeWire's own protocol needs a PipeWire session.
  SoundServer server(o.backend == "pipewire" ? "pipewire" : o.server, kRate);
  std::string error;
  if (!server.Start(&error)) return Fail(error);
  const ClickFiles files = WriteClickFiles(server.Dir());
  const std::unique_ptr<ClickPlayer> player = MakePlayer(o);
  if (!OpenStream(*player, files)) return 1;
  Run run;
  // PipeWire's graph reports its own delay; its pulse service does not.
  run.pipewire = player->Stats().output == "pipewire";
  // The beat as the window drives it: stopped (the output may rest) until
  // Start.
  auto link =
      std::make_unique<BenchLink>(*player, o.lateEvery, static_cast<Micros>(o.lateMs * 1000));
  BenchLink& played = *link;
  Transport beat(std::move(link));
  beat.SetClickFiles(files.pi, files.po);
  beat.SetMeterSelection(o.meter);
  beat.ChangeTempo(o.tempo);
  if (o.restSeconds > 0) {
    // As on every PulseAudio desktop: an idle sink is suspended after 5 s.
    if (server.Name() == "pulse") server.Pactl("load-module module-suspend-on-idle");
    Rest(o, *player);
    if (server.Name() == "pulse") run.sinkAtRest = server.SinkState();
  }
  // On PipeWire the recorder runs in this process: its threads, new from
  // here on, are left out of the CPU figure.
  run.own = ThreadCpuSeconds();
  // After a rest the recording begins with Start, not before: a recorder of
  // the sink's monitor would wake a suspended sink ahead of the program.
  testing::MonitorRecorder recorder(server);
  bool recorded = o.restSeconds > 0 || recorder.Start(&error);
  Play(
      o, beat, *player, server, played,
      [&] { recorded = recorded && (o.restSeconds <= 0 || recorder.Start(&error)); }, run);
  if (!recorded) return Fail(error);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the last click's tail
  const std::vector<float> recording = recorder.Stop();
  run.stats = player->Stats();
  run.lookahead = player->Feed().LookaheadMicros();
  run.ticks = played.Ticks();
  run.clicks = testing::FindClicks(recording, testing::BuiltInClickTemplates(kRate));
  run.serverName = ServerName(server);
  run.serverKind = server.Name();
  return Report(o, run);
}

}  // namespace
}  // namespace pendlo::bench

int main(int argc, char** argv) {
  return pendlo::bench::Main(argc, argv);
}
