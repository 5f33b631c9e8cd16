#include "support/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <utility>

namespace pendlo::testing {
namespace {

namespace fs = std::filesystem;

// A descriptor closed with its owner.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// A pidfd of each of `pids`: it becomes readable when its process ends.
// -1 for a process already reaped.
std::vector<Fd> PidFds(const std::vector<pid_t>& pids) {
  std::vector<Fd> fds;
  for (pid_t pid : pids) fds.emplace_back(OpenPidFd(pid));
  return fds;
}

// Waits until one of `fds` is readable or `until`: the index of the first
// readable, or -1 when the time ran out.
int AwaitAny(const std::vector<int>& fds, SteadyTime until) {
  std::vector<pollfd> polled;
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    const int n = ::poll(polled.data(), polled.size(),
                         static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
    if (n < 0 && errno == EINTR) continue;
    for (std::size_t i = 0; n > 0 && i < polled.size(); ++i) {
      if (polled[i].revents != 0) return static_cast<int>(i);
    }
    return -1;
  }
}

}  // namespace

int OpenPidFd(pid_t pid) {
  // glibc 2.36 declares pidfd_open without C linkage for C++.
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& out, bool withErrors, pid_t group, const std::string& cwd) {
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here: the parent has other threads.
    ::setpgid(0, group);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent || (!cwd.empty() && ::chdir(cwd.c_str()) != 0)) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, 0);
    if (!out.empty()) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        if (withErrors) ::dup2(fd, 2);
      }
    }
    // The test's own sockets (a player's stream to an older server) stay
    // with the test.
    ::close_range(3, ~0U, 0);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, group);  // either side may win the race
  return pid;
}

bool Alive(pid_t pid) {
  siginfo_t info{};
  return pid > 0 &&
         ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

bool AwaitEnd(const std::vector<pid_t>& pids, SteadyTime until) {
  for (const Fd& fd : PidFds(pids)) {
    if (fd.get() >= 0 && AwaitAny({fd.get()}, until) < 0) return false;
  }
  return true;
}

void End(const std::vector<pid_t>& pids, int signal, std::chrono::milliseconds grace, bool group) {
  if (pids.empty()) return;
  for (pid_t pid : pids) ::kill(pid, signal);
  if (group) ::kill(-pids[0], signal);
  if (!AwaitEnd(pids, std::chrono::steady_clock::now() + grace)) {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
  }
  if (group) ::kill(-pids[0], SIGKILL);
  for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
}

std::function<bool()> Exists(const std::string& path, bool nonEmpty) {
  return [path, nonEmpty] {
    std::error_code ec;
    if (!nonEmpty) return fs::exists(path, ec);
    const auto size = fs::file_size(path, ec);
    return !ec && size > 0;
  };
}

namespace {

// `first` and the daemons' pidfds; false when one had ended already.
bool Watch(int first, const std::vector<Fd>& deaths, std::vector<int>& fds) {
  fds = {first};
  for (const Fd& fd : deaths) fds.push_back(fd.get());
  return std::find(fds.begin(), fds.end(), -1) == fds.end();
}

}  // namespace

bool AwaitReadable(int fd, const std::vector<pid_t>& daemons, SteadyTime until) {
  const std::vector<Fd> deaths = PidFds(daemons);
  std::vector<int> fds;
  return Watch(fd, deaths, fds) && AwaitAny(fds, until) == 0;
}

bool AwaitFile(const std::string& path, const std::function<bool()>& ready,
               const std::vector<pid_t>& daemons, SteadyTime until) {
  const Fd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  const std::vector<Fd> deaths = PidFds(daemons);
  std::vector<int> fds;
  const bool living = Watch(watch.get(), deaths, fds);
  for (;;) {
    // The nearest directory on the way that is there is watched before the
    // path is looked at, so nothing made in between is missed.
    fs::path dir = fs::path(path).parent_path();
    std::error_code ec;
    while (dir.has_relative_path() && !fs::is_directory(dir, ec)) dir = dir.parent_path();
    ::inotify_add_watch(watch.get(), dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_MODIFY);
    if (ready()) return true;
    if (!living || AwaitAny(fds, until) != 0) return false;  // a daemon ended, or time ran out
    char events[4096];
    while (::read(watch.get(), events, sizeof events) > 0) {
    }
  }
}

}  // namespace pendlo::testing
