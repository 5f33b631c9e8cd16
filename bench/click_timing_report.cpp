// bench/click_timing's report: each tick matched with a click found in the
// recording, the intervals between them against the due spacing, and the
// figures of the player, the server and the process.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "click_timing.h"
#include "engine/beat_state.h"

namespace pendlo::bench {
namespace {

using testing::FoundClick;

// The ticks' clicks: an index into the clicks found, -1 for one not heard.
using Matches = std::vector<int>;

double Ms(double samples) {
  return samples * 1000.0 / kRate;
}

// The interval between ticks k - 1 and k as due, in samples.
double DueSpacing(const std::vector<Tick>& ticks, std::size_t k) {
  return (ticks[k].due - ticks[k - 1].due) * kRate / 1e6;
}

// The interval between the clicks of ticks k - 1 and k as heard, in samples.
double HeardSpacing(const Run& run, const Matches& match, std::size_t k) {
  return static_cast<double>(run.clicks[static_cast<std::size_t>(match[k])].frame -
                             run.clicks[static_cast<std::size_t>(match[k - 1])].frame);
}

// Each tick is looked for where the previous click and the due spacing
// put it, so one gap or stray sound does not shift every later match.
Matches MatchTicks(const std::vector<Tick>& ticks, const std::vector<FoundClick>& clicks) {
  Matches match(ticks.size(), -1);
  std::size_t next = 0;
  std::int64_t expected = clicks.empty() ? 0 : clicks[0].frame;
  for (std::size_t k = 0; k < ticks.size() && next < clicks.size(); ++k) {
    const double spacing = k ? DueSpacing(ticks, k) : 0;
    if (k) expected += std::llround(spacing);
    const double window = k ? std::min(spacing / 2, 0.05 * kRate) : 0.2 * kRate;
    while (next < clicks.size() && clicks[next].frame < expected - window) ++next;
    if (next < clicks.size() && std::abs(clicks[next].frame - expected) <= window) {
      match[k] = static_cast<int>(next);
      expected = clicks[next].frame;
      ++next;
    }
  }
  return match;
}

// With CLICK_TIMING_TRACE: each tick queued after the output had rendered
// past its due time (how late the timer called it, against due -
// lookahead, and how far ahead the output had rendered), and every click
// found that no tick matched.
void Trace(const Run& run, const Matches& match) {
  const std::vector<Tick>& ticks = run.ticks;
  for (std::size_t k = 0; k < ticks.size(); ++k) {
    const Tick& t = ticks[k];
    if (t.due - t.renderedTo >= 2000) continue;
    std::fprintf(stderr,
                 "tick %zu due %lld: slack %.1f ms, called %.1f ms after due - lookahead,"
                 " rendered %.1f ms ahead of now, %.1f ms on the run queue since the tick"
                 " before\n",
                 k, static_cast<long long>(t.due), (t.due - t.renderedTo) / 1000.0,
                 (t.decidedAt - (t.due - run.lookahead)) / 1000.0,
                 (t.renderedTo - t.decidedAt) / 1000.0,
                 k ? (t.waited - ticks[k - 1].waited) / 1000.0 : 0.0);
  }
  std::vector<bool> used(run.clicks.size());
  for (int m : match)
    if (m >= 0) used[static_cast<std::size_t>(m)] = true;
  for (std::size_t c = 0; c < run.clicks.size(); ++c)
    if (!used[c])
      std::fprintf(stderr, "extra click at frame %lld\n",
                   static_cast<long long>(run.clicks[c].frame));
}

void Save(const std::string& path, const Run& run, const Matches& match) {
  std::ofstream out(path);
  out << "tick,kind,due_us,frame,interval_due_samples,interval_heard_samples,error_samples\n";
  for (std::size_t k = 0; k < run.ticks.size(); ++k) {
    out << k << ',' << (run.ticks[k].click == Click::Accent ? "accent" : "plain") << ','
        << run.ticks[k].due << ',';
    if (match[k] >= 0) out << run.clicks[static_cast<std::size_t>(match[k])].frame;
    if (k > 0 && match[k] >= 0 && match[k - 1] >= 0) {
      const double due = DueSpacing(run.ticks, k);
      const double heard = HeardSpacing(run, match, k);
      out << ',' << due << ',' << heard << ',' << heard - due;
    }
    out << '\n';
  }
}

// The intervals between matched clicks against the due spacing.
struct Intervals {
  std::vector<double> errors;  // heard - due, in samples
  int wrongKind = 0, glitches = 0, missing = 0, extra = 0;
  double mean = 0, sd = 0, p99 = 0, worst = 0;
};

void Summarize(Intervals& in) {
  for (double e : in.errors) in.mean += e;
  if (!in.errors.empty()) in.mean /= static_cast<double>(in.errors.size());
  for (double e : in.errors) in.sd += (e - in.mean) * (e - in.mean);
  if (in.errors.size() > 1) in.sd = std::sqrt(in.sd / static_cast<double>(in.errors.size() - 1));
  std::vector<double> absErr;
  for (double e : in.errors) absErr.push_back(std::abs(e));
  std::sort(absErr.begin(), absErr.end());
  in.p99 = absErr.empty() ? 0 : absErr[static_cast<std::size_t>(0.99 * (absErr.size() - 1))];
  in.worst = absErr.empty() ? 0 : absErr.back();
}

Intervals Measure(const Run& run, const Matches& match) {
  Intervals in;
  for (int m : match) in.missing += m < 0;
  in.extra =
      static_cast<int>(run.clicks.size()) - (static_cast<int>(run.ticks.size()) - in.missing);
  for (std::size_t k = 0; k < run.ticks.size(); ++k) {
    if (match[k] < 0) continue;
    const int want = run.ticks[k].click == Click::Accent ? 0 : 1;
    if (run.clicks[static_cast<std::size_t>(match[k])].kind != want) ++in.wrongKind;
    if (k == 0 || match[k - 1] < 0) continue;
    const double e = HeardSpacing(run, match, k) - DueSpacing(run.ticks, k);
    in.errors.push_back(e);
    if (std::abs(e) > 1.0) ++in.glitches;
  }
  Summarize(in);
  return in;
}

void PrintSetup(const Options& o, const Run& run) {
  const sound::player::PlayerStats& stats = run.stats;
  std::printf(
      "click_timing: tempo %d, meter %s, text '%s', %.0f s, %s output, %d frames per request,"
      " lookahead %.1f ms, server buffer %s\n",
      o.tempo,
      o.meter == kMeterIrregular ? "irregular"
      : o.meter == kMeterTuplets ? "tuplets"
                                 : std::to_string(o.meter + 1).c_str(),
      o.text.c_str(), o.seconds, stats.output.c_str(), stats.bufferFrames,
      stats.lookaheadMicros / 1000.0,
      stats.output == "pipewire" ? "the graph's"
      : stats.writesIntoQueue    ? "its own"
      : o.serverMs > 0           ? (std::to_string(static_cast<int>(o.serverMs)) + " ms").c_str()
                                 : "SDL's");
  std::printf("  server: %s (--server %s)\n", run.serverName.c_str(), run.serverKind.c_str());
}

// After --rest: how long Start took, and the first click's place against
// the second, which the output placed on the stream's grid.
void PrintStart(const Run& run, const Matches& match, int missing) {
  std::printf("  Start took %.1f ms, waking the output; sink after the rest: %s\n", run.startMs,
              run.sinkAtRest.empty() ? "not asked" : run.sinkAtRest.c_str());
  if (!run.ticks.empty())
    std::printf("  first click heard %.1f ms after Start (due %.1f ms after it)\n",
                run.firstHeardMs, (run.ticks.front().due - run.startClock) / 1000.0);
  if (missing > 0) {
    std::printf(
        "  first click after Start: %d clicks missing (the matching starts at the"
        " first heard)\n",
        missing);
  } else if (run.ticks.size() > 1 && match[0] >= 0 && match[1] >= 0) {
    const double late = DueSpacing(run.ticks, 1) - HeardSpacing(run, match, 1);
    std::printf("  first click after Start: %.2f ms late against the second\n", Ms(late));
  } else {
    std::printf("  first click after Start: %s\n",
                match.empty() || match[0] < 0 ? "missing" : "alone");
  }
}

void PrintIntervals(const Run& run, const Intervals& in) {
  std::printf(
      "  ticks %zu, clicks found %zu: missing %d, extra %d, wrong kind %d; intervals measured "
      "%zu\n",
      run.ticks.size(), run.clicks.size(), in.missing, in.extra, in.wrongKind, in.errors.size());
  std::printf(
      "  interval error: mean %+.3f  sd %.3f  p99 %.3f  max %.3f samples"
      "  (mean %+.4f  sd %.4f  p99 %.4f  max %.4f ms)\n",
      in.mean, in.sd, in.p99, in.worst, Ms(in.mean), Ms(in.sd), Ms(in.p99), Ms(in.worst));
  std::printf("  intervals off by more than 1 sample: %d\n", in.glitches);
}

// Clicks decided before a decision and due after it were kept (they had
// begun or were beyond reach); every click found matches a kept tick, so
// none taken back sounded. The last kept one is when the decision is heard.
void PrintDecisions(const Run& run, const Matches& match) {
  double latest[2] = {0, 0};  // after a tempo change, after a Stop
  for (const Decision& d : run.decisions) {
    for (std::size_t k = 0; k < run.ticks.size(); ++k) {
      if (run.ticks[k].decidedAt < d.at && run.ticks[k].due > d.at && match[k] >= 0)
        latest[d.stop] = std::max(latest[d.stop], (run.ticks[k].due - d.at) / 1000.0);
    }
  }
  char delay[64] = ", the sink's below";
  if (run.pipewire)
    std::snprintf(delay, sizeof delay, ", %.1f ms", run.stats.deviceMicros / 1000.0);
  std::printf(
      "  decisions: %zu; clicks decided before them heard up to %.1f ms after a Stop, %.1f ms"
      " after a tempo change (+ the output's delay%s)\n",
      run.decisions.size(), latest[1], latest[0], delay);
}

void PrintLatency(const Run& run) {
  double bufMean = 0, bufMax = 0, sinkMean = 0, sinkMax = 0;
  int samples = 0;
  for (const auto& l : run.latencies) {
    if (l.buffer < 0) continue;
    bufMean += l.buffer;
    sinkMean += l.sink;
    bufMax = std::max(bufMax, l.buffer);
    sinkMax = std::max(sinkMax, l.sink);
    ++samples;
  }
  if (samples) bufMean /= samples, sinkMean /= samples;
  const double leadMs = run.stats.lookaheadMicros / 1000.0;
  if (run.pipewire) {
    // Each click is rendered into the graph's cycle that holds its frame;
    // PipeWire reports the delay from there to the device.
    std::printf("  graph: cycle %d frames, delay %.1f ms; lookahead + delay = %.1f ms\n",
                run.stats.bufferFrames, run.stats.deviceMicros / 1000.0,
                leadMs + run.stats.deviceMicros / 1000.0);
  } else if (run.stats.writesIntoQueue) {
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
}

void PrintPlayer(const Options& o, const Run& run) {
  const sound::player::PlayerStats& stats = run.stats;
  std::printf(
      "  player: late onsets %llu, dropped %llu, clock re-joins %llu, cycles passed by %llu,"
      " least slack %.1f ms\n",
      static_cast<unsigned long long>(stats.late), static_cast<unsigned long long>(stats.dropped),
      static_cast<unsigned long long>(stats.anchors - 1),
      static_cast<unsigned long long>(stats.passedBy), stats.minSlackMicros / 1000.0);
  if (run.decisions.empty()) {
    // Without decisions every tick is called by the timer on its own, so
    // this is its latest wake-up; the lookahead's margin must hold it.
    Micros latest = 0;
    for (const Tick& t : run.ticks)
      latest = std::max(latest, t.decidedAt - (t.due - stats.lookaheadMicros));
    std::printf("  timer: latest call %.1f ms after due - lookahead (margin %.1f ms)\n",
                latest / 1000.0, o.marginMs);
  }
}

// The CPU of the threads that were there before the recorder's, from Start
// to Stop.
void PrintCpu(const Run& run) {
  double cpu = 0;
  for (const auto& [tid, t] : run.after) {
    const auto before = run.before.find(tid);
    if (run.own.count(tid) && before != run.before.end()) cpu += t.seconds - before->second.seconds;
  }
  std::printf("  CPU %.3f %% of one core (%.3f s over %.1f s); by thread:", 100 * cpu / run.wall,
              cpu, run.wall);
  for (const auto& [tid, t] : run.after) {
    if (!run.own.count(tid)) continue;
    const auto before = run.before.find(tid);
    const double used = t.seconds - (before == run.before.end() ? 0 : before->second.seconds);
    std::printf(" %s %.2f %%", t.name.c_str(), 100 * used / run.wall);
  }
  std::printf("\n");
}

}  // namespace

ThreadTimes ThreadCpuSeconds() {
  ThreadTimes out;
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

ServerLatency QueryLatency(const testing::SoundServer& server) {
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

std::string ServerName(const testing::SoundServer& server) {
  std::istringstream in(server.Pactl("info"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Server Name: ", 0) == 0) return line.substr(13);
  }
  return "?";
}

int Report(const Options& o, const Run& run) {
  const Matches match = MatchTicks(run.ticks, run.clicks);
  if (std::getenv("CLICK_TIMING_TRACE")) Trace(run, match);
  const Intervals in = Measure(run, match);
  if (!o.csv.empty()) Save(o.csv, run, match);
  PrintSetup(o, run);
  if (o.restSeconds > 0) PrintStart(run, match, in.missing);
  PrintIntervals(run, in);
  if (!run.decisions.empty()) PrintDecisions(run, match);
  PrintLatency(run);
  PrintPlayer(o, run);
  PrintCpu(run);
  const bool ok = in.glitches == 0 && in.wrongKind == 0 && in.missing == 0 && in.extra == 0;
  std::printf("  %s\n", ok ? "every interval within 1 sample" : "GLITCHES (see above)");
  return ok ? 0 : 3;
}

}  // namespace pendlo::bench
