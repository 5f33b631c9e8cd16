// A private sound server with one null sink, for tests and benchmarks that
// must go through a real server, and a recorder of what reaches the sink.
// Two kinds, chosen by name so a test can run on each:
//   "pulse"    a PulseAudio daemon;
//   "pipewire" a PipeWire session: a session bus, pipewire, wireplumber and
//              pipewire-pulse, the null sink made through pipewire-pulse.
// While the server object lives, this process and everything it starts talk
// to that server (PULSE_SERVER, PIPEWIRE_RUNTIME_DIR), and SDL uses its
// PulseAudio driver. Every daemon runs in one process group that Stop() and
// the destructor end, and dies with the thread that started it, so a crashed
// test leaves nothing behind. Each server lives in a fresh temporary
// directory: tests running side by side do not meet.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pendlo::sound::clock {
class AudioClock;
}

namespace pendlo::testing {

class GraphRecorder;

class SoundServer {
 public:
  static constexpr const char* kSink = "pendlo_null";

  // The names a server can be made with: "pulse", "pipewire".
  static const std::vector<std::string>& Names();

  // Nothing runs until Start(). `name` is one of Names(); `rate` is the null
  // sink's sample rate (a PipeWire graph runs at 48 kHz whatever the sink).
  explicit SoundServer(std::string name = "pulse", int rate = 48000);
  // Stops the server, removes its files and restores the environment.
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Starts the server (again, after Stop) and waits, at most 20 s, until it
  // answers with the null sink as its default sink. False with the reason
  // (and the daemons' log) in `error`.
  bool Start(std::string* error = nullptr);
  // Ends every daemon (SIGTERM, SIGKILL after 2 s); clients see it vanish.
  void Stop();
  // Started, and its daemons have not died.
  bool Running() const;

  const std::string& Name() const { return name_; }
  int Rate() const { return rate_; }
  // "unix:<socket>" of its PulseAudio protocol, the value of PULSE_SERVER.
  std::string ServerString() const;
  std::string Monitor() const { return std::string(kSink) + ".monitor"; }
  const std::string& Dir() const { return dir_; }
  // The daemons while started, in start order.
  const std::vector<pid_t>& Pids() const { return pids_; }

  // Waits, at most `limit`, until it plays a client's stream.
  bool AwaitPlayback(std::chrono::milliseconds limit) const;
  // Runs `pactl <args>` against this server; its standard output, as Shell
  // gives it.
  std::string Pactl(const std::string& args) const;
  // The null sink's state as the server tells it ("SUSPENDED", "IDLE",
  // "RUNNING"); "" when it does not answer.
  std::string SinkState() const;

 private:
  // Starts the daemons and waits until the server's socket listens.
  bool SpawnDaemons(std::string& why);
  bool SpawnPulse(std::vector<std::string> env, std::string& why);
  bool SpawnPipeWire(std::vector<std::string> env, std::string& why);
  // Starts one daemon in the server's process group.
  bool Launch(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& out, std::string& why);
  bool AwaitSink(std::string& why);
  std::string Logs() const;

  std::string name_;
  int rate_;
  std::string dir_;
  std::vector<pid_t> pids_;  // in start order; pids_[0] leads the process group
  std::vector<std::pair<std::string, std::string>> savedEnv_;  // name, old value ("\1" = unset)
};

// Records the null sink's monitor: 32-bit float at the sink's rate, both
// channels, averaged here into one (the sink's two equal channels, so
// unchanged). The server's own fold-down is not used: PipeWire's adds 3 dB,
// which would clip the accent. On PulseAudio parec records; on PipeWire a
// GraphRecorder, which keeps the graph's timeline through missed cycles.
class MonitorRecorder {
 public:
  // At most `seconds` are kept on PipeWire.
  explicit MonitorRecorder(const SoundServer& server, int seconds = 200);
  ~MonitorRecorder();
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  // Starts recording and waits until it has begun; false with the reason
  // in `error`.
  bool Start(std::string* error = nullptr);
  // Stops; every sample recorded. On PipeWire, cycles the graph ran
  // without the recorder (silence on the recording the output did not play)
  // are told on standard error.
  std::vector<float> Stop();

 private:
  const SoundServer& server_;
  std::unique_ptr<GraphRecorder> graph_;
  std::string file_;
  pid_t pid_ = -1;
};

// Waits until `clock` has run on its stream without a re-join for `settle`;
// false after `timeout`. An idle null sink works in blocks of 2 s, so a new
// stream may get its first callbacks only that much later.
bool WaitUntilStreaming(sound::clock::AudioClock& clock,
                        std::chrono::milliseconds settle = std::chrono::milliseconds(300),
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace pendlo::testing
