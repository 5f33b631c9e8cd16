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
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cpu_seconds.h"
#include "files/formats/click_images.h"
#include "sound/player/click_player.h"
#include "support/click_onsets.h"
#include "support/loaded_clicks.h"
#include "support/sound_server.h"
#include "transport/transport.h"

namespace {

using pendlo::Click;
using pendlo::Micros;

constexpr int kRate = 48000;

struct Options {
  int tempo = 120;
  int meter = 3;  // index: "4"
  std::string text;
  double seconds = 40;
  int buffer = pendlo::sound::player::PlayerOptions{}.bufferFrames;
  double aheadMs = pendlo::sound::player::PlayerOptions{}.callbackAheadMicros / 1000.0;
  double serverMs = pendlo::sound::player::PlayerOptions{}.serverBufferMicros / 1000.0;
  std::string csv;
  std::string backend = "default";  // default | pulse | sdl | pipewire
  std::string server = "pulse";     // pulse | pipewire
  double marginMs = pendlo::sound::player::PlayerOptions{}.wakeMarginMicros / 1000.0;
  double restSeconds = 0;
  double releaseSeconds = pendlo::sound::player::PlayerOptions{}.releaseAfterMicros / 1e6;
  int lateEvery = 0;  // 0: the timer wakes as the system wakes it
  double lateMs = 15;
  int changes = 0;  // decisions made while playing
};

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
        o.meter = pendlo::kMeterIrregular;
      } else if (value == "tuplets") {
        o.meter = pendlo::kMeterTuplets;
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

// CPU seconds of each of this process's threads, by thread id.
struct ThreadCpu {
  std::string name;
  double seconds;
};
std::map<int, ThreadCpu> ThreadCpuSeconds() {
  std::map<int, ThreadCpu> out;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    const auto open = line.find('(');
    if (close == std::string::npos || open == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    out[std::stoi(entry.path().filename().string())] = {line.substr(open + 1, close - open - 1),
                                                        static_cast<double>(utime + stime) / tick};
  }
  return out;
}

struct Tick {
  Click click;
  Micros due;
  Micros decidedAt;   // on the player's clock
  Micros renderedTo;  // where the output had rendered then (the slack is due - renderedTo)
  Micros waited = 0;  // traced: the timer thread's time on the run queue so far
};

// The calling thread's time spent runnable but not running, so far (the
// scheduler's own count; a virtual CPU the host took away is not in it).
Micros RunQueueMicros() {
  std::ifstream in("/proc/thread-self/schedstat");
  long long running = 0, waiting = 0;
  in >> running >> waiting;
  return waiting / 1000;
}

// A Stop or a tempo change made while playing, at `at` on the player's clock.
struct Decision {
  Micros at;
  bool stop;
};

// The beat timer's clock with late wake-ups: every `every`th wait returns
// `late` after its deadline. Only the timer thread waits.
class LateClock final : public pendlo::Clock {
 public:
  LateClock(std::shared_ptr<pendlo::Clock> inner, int every, Micros late)
      : inner_(std::move(inner)), every_(every), late_(late) {}
  Micros now() override { return inner_->now(); }
  bool waitUntil(Micros deadline) override {
    return inner_->waitUntil(++waits_ % every_ == 0 ? deadline + late_ : deadline);
  }
  void interrupt() override { inner_->interrupt(); }

 private:
  const std::shared_ptr<pendlo::Clock> inner_;
  const int every_;
  const Micros late_;
  std::uint64_t waits_ = 0;
};

// The program's sound output over the bench's player, keeping each click
// the transport plays.
class BenchLink final : public pendlo::sound::link::SoundLink {
 public:
  BenchLink(pendlo::sound::player::ClickPlayer& player, int lateEvery, Micros late)
      : player_(player),
        clock_(lateEvery > 0 ? std::shared_ptr<pendlo::Clock>(std::make_shared<LateClock>(
                                   player.Feed().clock(), lateEvery, late))
                             : std::shared_ptr<pendlo::Clock>(player.Feed().clock())) {
    ticks_.reserve(100000);
  }
  std::shared_ptr<pendlo::Clock> TimerClock() override { return clock_; }
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
  pendlo::sound::player::ClickPlayer& player_;
  const std::shared_ptr<pendlo::Clock> clock_;
  const bool trace_ = std::getenv("CLICK_TIMING_TRACE") != nullptr;
  std::mutex mutex_;
  std::vector<Tick> ticks_;
};

// The server's own figures for our stream ("Buffer Latency", "Sink
// Latency", in microseconds) from `pactl list sink-inputs`.
struct ServerLatency {
  double buffer = -1, sink = -1;
};

ServerLatency QueryLatency(const pendlo::testing::SoundServer& server) {
  std::istringstream in(server.Pactl("list sink-inputs"));
  ServerLatency l;
  std::string line;
  while (std::getline(in, line)) {
    double v;
    if (std::sscanf(line.c_str(), " Buffer Latency: %lf usec", &v) == 1) l.buffer = v;
    if (std::sscanf(line.c_str(), " Sink Latency: %lf usec", &v) == 1) l.sink = v;
  }
  return l;
}

// What the server calls itself ("pulseaudio", "PulseAudio (on PipeWire 0.3.65)").
std::string ServerName(const pendlo::testing::SoundServer& server) {
  std::istringstream in(server.Pactl("info"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Server Name: ", 0) == 0) return line.substr(13);
  }
  return "?";
}

void Save(const std::string& path, const std::vector<Tick>& ticks,
          const std::vector<pendlo::testing::FoundClick>& clicks, const std::vector<int>& match) {
  std::ofstream out(path);
  out << "tick,kind,due_us,frame,interval_due_samples,interval_heard_samples,error_samples\n";
  for (std::size_t k = 0; k < ticks.size(); ++k) {
    out << k << ',' << (ticks[k].click == Click::Accent ? "accent" : "plain") << ',' << ticks[k].due
        << ',';
    if (match[k] >= 0) out << clicks[static_cast<std::size_t>(match[k])].frame;
    if (k > 0 && match[k] >= 0 && match[k - 1] >= 0) {
      const double due = (ticks[k].due - ticks[k - 1].due) * kRate / 1e6;
      const auto heard = static_cast<double>(clicks[static_cast<std::size_t>(match[k])].frame -
                                             clicks[static_cast<std::size_t>(match[k - 1])].frame);
      out << ',' << due << ',' << heard << ',' << heard - due;
    }
    out << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  // PipeWire's own protocol needs a PipeWire session.
  pendlo::testing::SoundServer server(o.backend == "pipewire" ? "pipewire" : o.server, kRate);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "click_timing: %s\n", error.c_str());
    return 1;
  }
  const std::string pi = server.Dir() + "/pi.wav", po = server.Dir() + "/po.wav";
  std::ofstream(pi, std::ios::binary)
      .write(reinterpret_cast<const char*>(pendlo::PiWave.data()), pendlo::PiWave.size());
  std::ofstream(po, std::ios::binary)
      .write(reinterpret_cast<const char*>(pendlo::PoWave.data()), pendlo::PoWave.size());

  pendlo::sound::player::PlayerOptions playerOptions;
  playerOptions.bufferFrames = o.buffer;
  playerOptions.callbackAheadMicros = static_cast<Micros>(o.aheadMs * 1000);
  playerOptions.serverBufferMicros = static_cast<Micros>(o.serverMs * 1000);
  playerOptions.wakeMarginMicros = static_cast<Micros>(o.marginMs * 1000);
  playerOptions.releaseAfterMicros = static_cast<Micros>(o.releaseSeconds * 1e6);
  pendlo::sound::player::ClickPlayer player(
      o.backend == "sdl"        ? pendlo::sound::output::sdl::MakeBackend()
      : o.backend == "pulse"    ? pendlo::sound::output::pulse::MakeBackend()
      : o.backend == "pipewire" ? pendlo::sound::output::pipewire::MakeBackend()
                                : pendlo::sound::output::MakeDefaultBackend(),
      playerOptions);
  if (!player.EnsureOpen() || !pendlo::testing::WaitUntilStreaming(*player.Feed().clock())) {
    std::fprintf(stderr, "click_timing: no stream: %s\n", player.TakeError().c_str());
    return 1;
  }
  // PipeWire's graph reports its own delay; its pulse service does not.
  const bool pipewire = player.Stats().output == "pipewire";
  // Read ahead of the first tick, as the window does at start-up.
  pendlo::testing::WaitUntilLoaded(player.Feed().Clicks(), {pi, po});

  // The beat as the window drives it: stopped (the output may rest) until
  // Start.
  auto link =
      std::make_unique<BenchLink>(player, o.lateEvery, static_cast<Micros>(o.lateMs * 1000));
  BenchLink& played = *link;
  pendlo::Transport beat(std::move(link));
  beat.SetClickFiles(pi, po);
  beat.SetMeterSelection(o.meter);
  beat.ChangeTempo(o.tempo);

  if (o.restSeconds > 0) {
    const double cpu0 = pendlo::bench::CpuSeconds();
    const std::uint64_t buffers0 = player.Stats().buffers;
    std::this_thread::sleep_for(std::chrono::duration<double>(o.restSeconds));
    const double cpu = pendlo::bench::CpuSeconds() - cpu0;
    const std::uint64_t buffers = player.Stats().buffers - buffers0;
    std::printf("  stopped %.0f s: CPU %.3f %%, %llu output callbacks (%.1f per second)\n",
                o.restSeconds, 100 * cpu / o.restSeconds, static_cast<unsigned long long>(buffers),
                static_cast<double>(buffers) / o.restSeconds);
  }

  // On PipeWire the recorder runs in this process: its threads, new from
  // here on, are left out of the CPU figure.
  const auto ownThreads = ThreadCpuSeconds();
  pendlo::testing::MonitorRecorder recorder(server);
  if (!recorder.Start(&error)) {
    std::fprintf(stderr, "click_timing: %s\n", error.c_str());
    return 1;
  }

  const auto threads0 = ThreadCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  beat.ManageHyoushi(Lines(o.text));
  beat.Start();
  // After a rest, Start waits for the output to play again.
  const double startMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::vector<ServerLatency> latencies;
  std::vector<Decision> decisions;
  if (o.changes > 0) {
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
      decisions.push_back(d);
      if (std::getenv("CLICK_TIMING_TRACE"))
        std::fprintf(stderr, "decision %s at %lld\n", d.stop ? "stop" : "tempo",
                     static_cast<long long>(d.at));
      if (!pipewire) latencies.push_back(QueryLatency(server));
      if (d.stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        beat.Start();
      }
    }
  } else {
    const auto end = t0 + std::chrono::duration<double>(o.seconds);
    const auto step = std::chrono::duration<double>(std::max(1.0, o.seconds / 5));
    for (auto next = t0 + step / 2; next < end; next += step) {
      std::this_thread::sleep_until(next);
      if (!pipewire) latencies.push_back(QueryLatency(server));
    }
    std::this_thread::sleep_until(end);
  }
  beat.Stop();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const auto threads1 = ThreadCpuSeconds();
  double cpu = 0;
  for (const auto& [tid, t] : threads1) {
    const auto before = threads0.find(tid);
    if (ownThreads.count(tid) && before != threads0.end())
      cpu += t.seconds - before->second.seconds;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the last click's tail
  const std::vector<float> recording = recorder.Stop();
  const pendlo::sound::player::PlayerStats stats = player.Stats();

  const std::vector<Tick> ticks = played.Ticks();
  const auto clicks =
      pendlo::testing::FindClicks(recording, pendlo::testing::BuiltInClickTemplates(kRate));

  // Each tick is looked for where the previous click and the due spacing
  // put it, so one gap or stray sound does not shift every later match.
  std::vector<int> match(ticks.size(), -1);
  std::size_t next = 0;
  std::int64_t expected = clicks.empty() ? 0 : clicks[0].frame;
  for (std::size_t k = 0; k < ticks.size() && next < clicks.size(); ++k) {
    const double spacing = k ? (ticks[k].due - ticks[k - 1].due) * kRate / 1e6 : 0;
    if (k) expected += std::llround(spacing);
    const double window = k ? std::min(spacing / 2, 0.05 * kRate) : 0.2 * kRate;
    while (next < clicks.size() && clicks[next].frame < expected - window) ++next;
    if (next < clicks.size() && std::abs(clicks[next].frame - expected) <= window) {
      match[k] = static_cast<int>(next);
      expected = clicks[next].frame;
      ++next;
    }
  }
  int missing = 0;
  for (int m : match) missing += m < 0;
  if (std::getenv("CLICK_TIMING_TRACE")) {
    // Each tick queued after the output had rendered past its due time: how
    // late the timer called it (against due - lookahead) and how far ahead
    // the output had rendered.
    const Micros lead = player.Feed().LookaheadMicros();
    for (std::size_t k = 0; k < ticks.size(); ++k) {
      const Tick& t = ticks[k];
      if (t.due - t.renderedTo >= 2000) continue;
      std::fprintf(stderr,
                   "tick %zu due %lld: slack %.1f ms, called %.1f ms after due - lookahead,"
                   " rendered %.1f ms ahead of now, %.1f ms on the run queue since the tick"
                   " before\n",
                   k, static_cast<long long>(t.due), (t.due - t.renderedTo) / 1000.0,
                   (t.decidedAt - (t.due - lead)) / 1000.0, (t.renderedTo - t.decidedAt) / 1000.0,
                   k ? (t.waited - ticks[k - 1].waited) / 1000.0 : 0.0);
    }
    std::vector<bool> used(clicks.size());
    for (int m : match)
      if (m >= 0) used[static_cast<std::size_t>(m)] = true;
    for (std::size_t c = 0; c < clicks.size(); ++c)
      if (!used[c])
        std::fprintf(stderr, "extra click at frame %lld\n",
                     static_cast<long long>(clicks[c].frame));
  }
  const int extra = static_cast<int>(clicks.size()) - (static_cast<int>(ticks.size()) - missing);

  std::vector<double> errors;
  int wrongKind = 0, glitches = 0;
  for (std::size_t k = 0; k < ticks.size(); ++k) {
    if (match[k] < 0) continue;
    const int want = ticks[k].click == Click::Accent ? 0 : 1;
    if (clicks[static_cast<std::size_t>(match[k])].kind != want) ++wrongKind;
    if (k == 0 || match[k - 1] < 0) continue;
    const double due = (ticks[k].due - ticks[k - 1].due) * kRate / 1e6;
    const double e = static_cast<double>(clicks[static_cast<std::size_t>(match[k])].frame -
                                         clicks[static_cast<std::size_t>(match[k - 1])].frame) -
                     due;
    errors.push_back(e);
    if (std::abs(e) > 1.0) ++glitches;
  }
  if (!o.csv.empty()) Save(o.csv, ticks, clicks, match);
  double mean = 0, sd = 0;
  for (double e : errors) mean += e;
  if (!errors.empty()) mean /= static_cast<double>(errors.size());
  for (double e : errors) sd += (e - mean) * (e - mean);
  if (errors.size() > 1) sd = std::sqrt(sd / static_cast<double>(errors.size() - 1));
  std::vector<double> absErr;
  for (double e : errors) absErr.push_back(std::abs(e));
  std::sort(absErr.begin(), absErr.end());
  const double p99 =
      absErr.empty() ? 0 : absErr[static_cast<std::size_t>(0.99 * (absErr.size() - 1))];
  const double worst = absErr.empty() ? 0 : absErr.back();
  const auto ms = [](double samples) { return samples * 1000.0 / kRate; };

  double bufMean = 0, bufMax = 0, sinkMean = 0, sinkMax = 0;
  int samples = 0;
  for (const auto& l : latencies) {
    if (l.buffer < 0) continue;
    bufMean += l.buffer;
    sinkMean += l.sink;
    bufMax = std::max(bufMax, l.buffer);
    sinkMax = std::max(sinkMax, l.sink);
    ++samples;
  }
  if (samples) bufMean /= samples, sinkMean /= samples;
  const double leadMs = stats.lookaheadMicros / 1000.0;

  std::printf(
      "click_timing: tempo %d, meter %s, text '%s', %.0f s, %s output, %d frames per request,"
      " lookahead %.1f ms, server buffer %s\n",
      o.tempo,
      o.meter == pendlo::kMeterIrregular ? "irregular"
      : o.meter == pendlo::kMeterTuplets ? "tuplets"
                                         : std::to_string(o.meter + 1).c_str(),
      o.text.c_str(), o.seconds, stats.output.c_str(), stats.bufferFrames, leadMs,
      stats.output == "pipewire" ? "the graph's"
      : stats.writesIntoQueue    ? "its own"
      : o.serverMs > 0           ? (std::to_string(static_cast<int>(o.serverMs)) + " ms").c_str()
                                 : "SDL's");
  std::printf("  server: %s (--server %s)\n", ServerName(server).c_str(), server.Name().c_str());
  if (o.restSeconds > 0) {
    std::printf("  Start took %.1f ms, waking the output\n", startMs);
    // Against the second, which the output placed on the stream's grid.
    if (missing > 0) {
      std::printf(
          "  first click after Start: %d clicks missing (the matching starts at the"
          " first heard)\n",
          missing);
    } else if (ticks.size() > 1 && match[0] >= 0 && match[1] >= 0) {
      const double late = (ticks[1].due - ticks[0].due) * kRate / 1e6 -
                          static_cast<double>(clicks[static_cast<std::size_t>(match[1])].frame -
                                              clicks[static_cast<std::size_t>(match[0])].frame);
      std::printf("  first click after Start: %.2f ms late against the second\n", ms(late));
    } else {
      std::printf("  first click after Start: %s\n",
                  match.empty() || match[0] < 0 ? "missing" : "alone");
    }
  }
  std::printf(
      "  ticks %zu, clicks found %zu: missing %d, extra %d, wrong kind %d; intervals measured "
      "%zu\n",
      ticks.size(), clicks.size(), missing, extra, wrongKind, errors.size());
  std::printf(
      "  interval error: mean %+.3f  sd %.3f  p99 %.3f  max %.3f samples"
      "  (mean %+.4f  sd %.4f  p99 %.4f  max %.4f ms)\n",
      mean, sd, p99, worst, ms(mean), ms(sd), ms(p99), ms(worst));
  std::printf("  intervals off by more than 1 sample: %d\n", glitches);
  if (!decisions.empty()) {
    // Clicks decided before a decision and due after it were kept (they had
    // begun or were beyond reach); every click found matches a kept tick, so
    // none taken back sounded. The last kept one is when the decision is heard.
    double latest[2] = {0, 0};  // after a tempo change, after a Stop
    for (const Decision& d : decisions) {
      for (std::size_t k = 0; k < ticks.size(); ++k) {
        if (ticks[k].decidedAt < d.at && ticks[k].due > d.at && match[k] >= 0)
          latest[d.stop] = std::max(latest[d.stop], (ticks[k].due - d.at) / 1000.0);
      }
    }
    char delay[64] = ", the sink's below";
    if (pipewire) std::snprintf(delay, sizeof delay, ", %.1f ms", stats.deviceMicros / 1000.0);
    std::printf(
        "  decisions: %zu; clicks decided before them heard up to %.1f ms after a Stop, %.1f ms"
        " after a tempo change (+ the output's delay%s)\n",
        decisions.size(), latest[1], latest[0], delay);
  }
  if (pipewire) {
    // Each click is rendered into the graph's cycle that holds its frame;
    // PipeWire reports the delay from there to the device.
    std::printf("  graph: cycle %d frames, delay %.1f ms; lookahead + delay = %.1f ms\n",
                stats.bufferFrames, stats.deviceMicros / 1000.0,
                leadMs + stats.deviceMicros / 1000.0);
  } else if (stats.writesIntoQueue) {
    // The queue holds silence; each click is written into it ahead of where
    // the sink reads, so the queue delays nothing.
    std::printf(
        "  server latency: buffer %.1f ms (max %.1f) of queued silence, sink %.1f ms (max %.1f);"
        " clicks written into the queue: lookahead + sink = %.1f ms (max %.1f)\n",
        bufMean / 1000, bufMax / 1000, sinkMean / 1000, sinkMax / 1000, leadMs + sinkMean / 1000,
        leadMs + sinkMax / 1000);
  } else {
    std::printf(
        "  server latency: buffer %.1f ms (max %.1f), sink %.1f ms (max %.1f);"
        " lookahead + buffer + sink = %.1f ms\n",
        bufMean / 1000, bufMax / 1000, sinkMean / 1000, sinkMax / 1000,
        leadMs + (bufMax + sinkMax) / 1000);
  }
  std::printf(
      "  player: late onsets %llu, dropped %llu, clock re-joins %llu, cycles passed by %llu,"
      " least slack %.1f ms\n",
      static_cast<unsigned long long>(stats.late), static_cast<unsigned long long>(stats.dropped),
      static_cast<unsigned long long>(stats.anchors - 1),
      static_cast<unsigned long long>(stats.passedBy), stats.minSlackMicros / 1000.0);
  if (decisions.empty()) {
    // Without decisions every tick is called by the timer on its own, so
    // this is its latest wake-up; the lookahead's margin must hold it.
    Micros latest = 0;
    for (const Tick& t : ticks)
      latest = std::max(latest, t.decidedAt - (t.due - stats.lookaheadMicros));
    std::printf("  timer: latest call %.1f ms after due - lookahead (margin %.1f ms)\n",
                latest / 1000.0, o.marginMs);
  }
  std::printf("  CPU %.3f %% of one core (%.3f s over %.1f s); by thread:", 100 * cpu / wall, cpu,
              wall);
  for (const auto& [tid, t] : threads1) {
    if (!ownThreads.count(tid)) continue;
    const auto before = threads0.find(tid);
    const double used = t.seconds - (before == threads0.end() ? 0 : before->second.seconds);
    std::printf(" %s %.2f %%", t.name.c_str(), 100 * used / wall);
  }
  std::printf("\n");
  const bool ok = glitches == 0 && wrongKind == 0 && missing == 0 && extra == 0;
  std::printf("  %s\n", ok ? "every interval within 1 sample" : "GLITCHES (see above)");
  return ok ? 0 : 3;
}
