#include "support/session_bus.h"

#include <csignal>

#include "support/processes.h"
#include "support/program.h"

namespace pendlo::testing {

SessionBus::SessionBus() {
  const std::string socket = dir_.path() + "/bus", log = dir_.path() + "/bus.log";
  pid_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
                "--address=unix:path=" + socket},
               Environment({}), log);
  if (pid_ <= 0) {
    error_ = "cannot start dbus-daemon (is it installed?)";
    return;
  }
  // It prints its address once it listens.
  const auto listens = [&] { return ReadFile(log, "").find("unix:path=") != std::string::npos; };
  if (!AwaitFile(log, listens, {pid_}, SteadyTime::clock::now() + std::chrono::seconds(20))) {
    error_ = "the session bus did not start: " + ReadFile(log, "");
    return;
  }
  address_ = "unix:path=" + socket;
}

SessionBus::~SessionBus() {
  if (pid_ > 0) End({pid_}, SIGTERM, std::chrono::milliseconds(2000), false);
}

}  // namespace pendlo::testing
