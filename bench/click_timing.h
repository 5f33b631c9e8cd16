// What bench/click_timing plays and what it found, shared by its run
// (click_timing.cpp) and its report (click_timing_report.cpp).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/tick_sequencer.h"
#include "sound/player/click_player.h"
#include "support/click_onsets.h"
#include "support/sound_server.h"
#include "timer/clock.h"

namespace pendlo::bench {

inline constexpr int kRate = 48000;

struct Options {
  int tempo = 120;
  int meter = 3;  // index: "4"
  std::string text;
  double seconds = 40;
  int buffer = sound::player::PlayerOptions{}.bufferFrames;
  double aheadMs = sound::player::PlayerOptions{}.callbackAheadMicros / 1000.0;
  double serverMs = sound::player::PlayerOptions{}.serverBufferMicros / 1000.0;
  std::string csv;
  std::string backend = "default";  // default | pulse | sdl | pipewire
  std::string server = "pulse";     // pulse | pipewire
  double marginMs = sound::player::PlayerOptions{}.wakeMarginMicros / 1000.0;
  double restSeconds = 0;
  double releaseSeconds = sound::player::PlayerOptions{}.releaseAfterMicros / 1e6;
  int lateEvery = 0;  // 0: the timer wakes as the system wakes it
  double lateMs = 15;
  int changes = 0;  // decisions made while playing
};

struct Tick {
  Click click;
  Micros due;
  Micros decidedAt;   // on the player's clock
  Micros renderedTo;  // where the output had rendered then (the slack is due - renderedTo)
  Micros waited = 0;  // traced: the timer thread's time on the run queue so far
};

// A Stop or a tempo change made while playing, at `at` on the player's clock.
struct Decision {
  Micros at;
  bool stop;
};

// The server's own figures for our stream ("Buffer Latency", "Sink
// Latency", in microseconds) from `pactl list sink-inputs`.
struct ServerLatency {
  double buffer = -1, sink = -1;
};

// CPU seconds of each of this process's threads, by thread id.
struct ThreadCpu {
  std::string name;
  double seconds;
};
using ThreadTimes = std::map<int, ThreadCpu>;

// CPU seconds of each of this process's threads now.
ThreadTimes ThreadCpuSeconds();
// The server's figures for our stream, from `pactl list sink-inputs`.
ServerLatency QueryLatency(const testing::SoundServer& server);
// What the server calls itself ("pulseaudio", "PulseAudio (on PipeWire 0.3.65)").
std::string ServerName(const testing::SoundServer& server);

// Everything one run gives its report.
struct Run {
  std::vector<Tick> ticks;
  std::vector<testing::FoundClick> clicks;
  std::vector<ServerLatency> latencies;
  std::vector<Decision> decisions;
  sound::player::PlayerStats stats;
  Micros lookahead = 0;       // the feed's, for the trace
  bool pipewire = false;      // PipeWire's own protocol played
  std::string serverName;     // what the server calls itself
  std::string serverKind;     // --server's value as run
  double startMs = 0;         // how long Start took
  Micros startClock = 0;      // Start, on the player's clock
  double firstHeardMs = 0;    // from Start to the first click heard, by the clock
  std::string sinkAtRest;     // the sink's state as the rest ended (PulseAudio)
  double wall = 0;            // seconds from Start to Stop
  ThreadTimes own;            // the threads before the recorder's came
  ThreadTimes before, after;  // at Start and at Stop
};

// Prints the report (and writes --csv); the exit status: 0 when every
// interval is within one sample and no click is missing, extra or of the
// wrong kind, 3 otherwise.
int Report(const Options& o, const Run& run);

}  // namespace pendlo::bench
