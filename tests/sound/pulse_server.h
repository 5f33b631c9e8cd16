// A private PulseAudio server with one null sink, for tests and benchmarks
// that must go through a real sound server, and a recorder of what reaches
// the sink. While the server object lives, this process and everything it
// starts talk to that server (PULSE_SERVER), and SDL uses PulseAudio.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace pendlo {
class AudioClock;
}

namespace pendlo::testing {

class PulseServer {
 public:
  static constexpr const char* kSink = "pendlo_null";

  // Nothing runs until Start(); `rate` is the null sink's sample rate.
  explicit PulseServer(int rate = 48000);
  // Stops the server, removes its files and restores the environment.
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Starts the server (again, after Stop) and waits until it answers, with
  // the null sink as the default sink. False with the reason in `error`.
  bool Start(std::string* error = nullptr);
  // Ends the server (SIGTERM, SIGKILL after 2 s); clients see it vanish.
  void Stop();
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  int Rate() const { return rate_; }
  // "unix:<socket>", the value of PULSE_SERVER.
  std::string ServerString() const;
  std::string Monitor() const { return std::string(kSink) + ".monitor"; }
  const std::string& Dir() const { return dir_; }

  // Runs `pactl <args>` against this server; its standard output.
  std::string Pactl(const std::string& args) const;

 private:
  int rate_;
  std::string dir_;
  pid_t pid_ = -1;
  std::vector<std::pair<std::string, std::string>> savedEnv_;  // name, old value ("\1" = unset)
};

// Records the null sink's monitor with parec: mono 32-bit float at the
// sink's rate (the sink's two equal channels averaged, so unchanged).
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const PulseServer& server);
  ~MonitorRecorder();
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  // Starts parec; false with the reason in `error`.
  bool Start(std::string* error = nullptr);
  // Stops parec; every sample it recorded.
  std::vector<float> Stop();

 private:
  const PulseServer& server_;
  std::string file_;
  pid_t pid_ = -1;
};

// Waits until `clock` has run on its stream without a re-join for `settle`;
// false after `timeout`. An idle null sink works in blocks of 2 s, so a new
// stream may get its first callbacks only that much later.
bool WaitUntilStreaming(AudioClock& clock,
                        std::chrono::milliseconds settle = std::chrono::milliseconds(300),
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace pendlo::testing
