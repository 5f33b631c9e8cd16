// A private PipeWire session for tests that play through PipeWire's own
// protocol: a session bus, pipewire, wireplumber and pipewire-pulse in their
// own runtime directory, a 48 kHz stereo null sink as the default sink, and
// a recorder of its monitor (parec through pipewire-pulse). While the
// session object lives, this process talks to that session.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace pendlo::testing {

class PipeWireSession {
 public:
  static constexpr const char* kSink = "pendlo_null";

  explicit PipeWireSession(int rate = 48000);
  // Ends everything it started, removes its files, restores the environment.
  ~PipeWireSession();
  PipeWireSession(const PipeWireSession&) = delete;
  PipeWireSession& operator=(const PipeWireSession&) = delete;

  // Starts the daemons (again, after Stop) and waits until the null sink is
  // the default sink. False with the reason in `error`.
  bool Start(std::string* error = nullptr);
  // Kills the daemons (the bus stays): clients see PipeWire vanish.
  void Stop();

  int Rate() const { return rate_; }
  // "unix:<socket>" of pipewire-pulse, for pactl and parec.
  std::string PulseServer() const { return "unix:" + dir_ + "/runtime/pulse/native"; }
  std::string Pactl(const std::string& args) const;

  // Starts recording the sink's monitor at Rate().
  bool StartRecording(std::string* error = nullptr);
  // Stops the recording; every frame recorded, its two channels averaged.
  std::vector<float> StopRecording();

 private:
  pid_t Spawn(const std::vector<std::string>& args, const std::string& out = {}) const;

  int rate_;
  std::string dir_;
  std::string bus_;  // the session bus's address
  pid_t busPid_ = -1;
  std::vector<pid_t> daemons_;
  pid_t recorder_ = -1;
  std::vector<std::pair<std::string, std::string>> savedEnv_;  // name, old value ("\1" = unset)
};

}  // namespace pendlo::testing
