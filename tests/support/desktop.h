// Desktops for the window tests: an EWMH window manager on the X display of
// this process ($DISPLAY), and a headless Wayland compositor. Each runs as a
// child process that the destructor ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pendlo::testing {

// A program started for a test in a process group of its own; ended
// (SIGTERM, then SIGKILL) on destruction.
class Daemon {
 public:
  Daemon() = default;
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  // Starts argv[0], looked up in PATH, with this process's environment and
  // the overrides ("NAME=value"), its output to logFile. False with the
  // reason when it cannot start.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& overrides,
             const std::string& logFile, std::string* error);
  // Started and not ended.
  bool Running() const;

 private:
  pid_t pid_ = -1;
};

// Whether `program` is found in PATH.
bool Installed(const std::string& program);

// An EWMH window manager ("openbox", "icewm") managing $DISPLAY; one for
// the life of an X server (its mark on the root window stays).
class WindowManager {
 public:
  // Starts it and waits, at most 20 s, until it announces itself on the
  // root window (_NET_SUPPORTING_WM_CHECK). False with the reason.
  bool Start(const std::string& name, const std::string& logDir, std::string* error);

 private:
  Daemon daemon_;
};

// Weston on its headless back end, its socket in runtimeDir.
class HeadlessWeston {
 public:
  // Starts it and waits, at most 20 s, for its socket. False with the reason.
  bool Start(const std::string& runtimeDir, std::string* error);
  // The WAYLAND_DISPLAY of its socket.
  const std::string& Socket() const { return socket_; }

 private:
  Daemon daemon_;
  std::string socket_ = "pendlo-weston";
};

}  // namespace pendlo::testing
