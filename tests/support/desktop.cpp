#include "support/desktop.h"

#include <sys/stat.h>

#include <chrono>

#include "support/files.h"

namespace pendlo::testing {

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// Starts `argv` in `program` with its output in log, then waits until
// `ready` or the program ends.
bool Run(Program& program, const std::vector<std::string>& argv,
         const std::vector<std::string>& overrides, const std::string& log,
         const std::function<bool()>& ready, std::string* error) {
  if (!Installed(argv.front())) {
    *error = argv.front() + " is not installed (tools/debian-packages.txt lists it)";
  } else if (!program.Start(Shell("command -v " + argv.front()), Environment(overrides), log, {},
                            {argv.begin() + 1, argv.end()}) ||
             !WaitFor([&] { return ready() || program.AwaitExit({}) != -1; }, kPatience) ||
             !ready()) {
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
  const auto announced = [] {
    return Shell("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") !=
           std::string::npos;
  };
  return Run(wm, {name}, {"HOME=" + logDir}, logDir + name + ".log", announced, error);
}

bool StartHeadlessWeston(Program& weston, const std::string& runtimeDir, const std::string& socket,
                         std::string* error) {
  chmod(runtimeDir.c_str(), 0700);
  struct stat st {};
  return Run(
      weston, {"weston", "--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0"},
      {"XDG_RUNTIME_DIR=" + runtimeDir}, runtimeDir + "weston.log",
      [&] { return stat((runtimeDir + socket).c_str(), &st) == 0; }, error);
}

}  // namespace pendlo::testing
