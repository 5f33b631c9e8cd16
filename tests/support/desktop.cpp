#include "support/desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/files.h"
#include "support/program.h"

namespace pendlo::testing {

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
  }
  return out;
}

}  // namespace

bool Installed(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', at), dirs.size());
    if (access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

Daemon::~Daemon() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  if (!WaitFor([this] { return waitpid(pid_, nullptr, WNOHANG) != 0; }, std::chrono::seconds(2))) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  kill(-pid_, SIGKILL);  // what it started
}

bool Daemon::Start(const std::vector<std::string>& argv, const std::vector<std::string>& overrides,
                   const std::string& logFile, std::string* error) {
  if (!Installed(argv.front())) {
    *error = argv.front() + " is not installed (tools/debian-packages.txt lists it)";
    return false;
  }
  std::vector<std::string> env = Environment(overrides);
  std::vector<char*> envp, args;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> copy = argv;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  const int r = posix_spawnp(&pid_, args.front(), &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (r != 0) {
    pid_ = -1;
    *error = argv.front() + ": " + std::strerror(r);
    return false;
  }
  return true;
}

bool Daemon::Running() const {
  return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool WindowManager::Start(const std::string& name, const std::string& logDir, std::string* error) {
  if (!Installed("xprop")) {
    *error = "xprop is not installed (x11-utils)";
    return false;
  }
  const std::string log = logDir + name + ".log";
  if (!daemon_.Start({name}, {"HOME=" + logDir}, log, error)) return false;
  if (!WaitFor(
          [this] {
            return !daemon_.Running() ||
                   Output("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") !=
                       std::string::npos;
          },
          kPatience) ||
      !daemon_.Running()) {
    *error = name + " did not start: " + ReadFile(log);
    return false;
  }
  return true;
}

bool HeadlessWeston::Start(const std::string& runtimeDir, std::string* error) {
  chmod(runtimeDir.c_str(), 0700);
  const std::string log = runtimeDir + "weston.log";
  if (!daemon_.Start(
          {"weston", "--backend=headless-backend.so", "--socket=" + socket_, "--idle-time=0"},
          {"XDG_RUNTIME_DIR=" + runtimeDir}, log, error)) {
    return false;
  }
  struct stat st {};
  if (!WaitFor([&] { return !daemon_.Running() || stat((runtimeDir + socket_).c_str(), &st) == 0; },
               kPatience) ||
      !daemon_.Running()) {
    *error = "weston did not start: " + ReadFile(log);
    return false;
  }
  return true;
}

}  // namespace pendlo::testing
