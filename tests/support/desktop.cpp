#include "support/desktop.h"

#include <signal.h>
#include <sys/stat.h>

#include <chrono>

#include "support/files.h"
#include "support/processes.h"

namespace pendlo::testing {

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// Starts `argv` in `program` with its output in log, then waits with
// `ready`, given the program's pid and the time limit.
bool Run(Program& program, const std::vector<std::string>& argv,
         const std::vector<std::string>& overrides, const std::string& log,
         const std::function<bool(pid_t, SteadyTime)>& ready, std::string* error) {
  if (!Installed(argv.front())) {
    *error = argv.front() + " is not installed (tools/debian-packages.txt lists it)";
  } else if (!program.Start(Shell("command -v " + argv.front()), Environment(overrides), log, {},
                            {argv.begin() + 1, argv.end()}) ||
             !ready(program.pid(), std::chrono::steady_clock::now() + kPatience)) {
    *error = argv.front() + " did not start: " + ReadFile(log);
  } else {
    return true;
  }
  return false;
}

}  // namespace

bool Installed(const std::string& program) {
  return !Shell("command -v " + program).empty();
}

bool StartWindowManager(Program& wm, const std::string& name, const std::string& logDir,
                        std::string* error) {
  // xprop -spy tells the root window's mark as it is and at every change
  // (a line each: its output is line-buffered).
  const auto announced = [&](pid_t pid, SteadyTime until) {
    const std::string marks = logDir + "wm-check.log";
    const pid_t spy = Spawn({"stdbuf", "-oL", "xprop", "-root", "-spy", "_NET_SUPPORTING_WM_CHECK"},
                            Environment({}), marks);
    const bool set =
        spy > 0 &&
        AwaitFile(
            marks, [&] { return ReadFile(marks, "").find("window id") != std::string::npos; },
            {pid, spy}, until);
    if (spy > 0) End({spy}, SIGTERM, std::chrono::seconds(2), false);
    return set;
  };
  return Run(wm, {name}, {"HOME=" + logDir}, logDir + name + ".log", announced, error);
}

bool StartHeadlessWeston(Program& weston, const std::string& runtimeDir, const std::string& socket,
                         std::string* error) {
  chmod(runtimeDir.c_str(), 0700);
  const std::string path = runtimeDir + socket;
  return Run(
      weston, {"weston", "--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0"},
      {"XDG_RUNTIME_DIR=" + runtimeDir}, runtimeDir + "weston.log",
      [&](pid_t pid, SteadyTime until) { return AwaitFile(path, Exists(path), {pid}, until); },
      error);
}

}  // namespace pendlo::testing
