#include "app/termination.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

namespace pendlo::app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr unsigned char kAnswered = 0;  // never a signal number

std::atomic<int> g_requests{0};
int g_notify[2] = {-1, -1};  // read by the event loop
int g_watch[2] = {-1, -1};   // read by the watch thread

static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

// Only async-signal-safe work here.
extern "C" void OnTerminationSignal(int signo) {
  const int saved = errno;
  g_requests.fetch_add(1, std::memory_order_relaxed);
  const auto byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] ssize_t n = write(g_watch[1], &byte, 1);
  n = write(g_notify[1], &byte, 1);
  errno = saved;
}

// Ends the process as an unanswered signal would.
[[noreturn]] void EndBySignal(int signo) {
  static const char kMessage[] =
      "pendlo: ending without saving, the request to end went unanswered\n";
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  signal(signo, SIG_DFL);
  kill(getpid(), signo);
  _exit(128 + signo);  // only if the signal was blocked everywhere
}

// Waits for a request, then for its answer within the grace period.
void Watch() {
  unsigned char byte = 0;
  for (;;) {
    if (read(g_watch[0], &byte, 1) != 1) {
      if (errno == EINTR) continue;
      return;
    }
    if (byte == kAnswered) continue;
    const int signo = byte;
    const auto deadline = std::chrono::steady_clock::now() + kUnansweredGrace;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{g_watch[0], POLLIN, 0};
      const int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) EndBySignal(signo);
      if (read(g_watch[0], &byte, 1) != 1) continue;
      if (byte == kAnswered) break;
      EndBySignal(byte);  // asked again before the first was answered
    }
  }
}

}  // namespace

void InstallTerminationHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (pipe2(g_notify, O_CLOEXEC | O_NONBLOCK) != 0) return;
    if (pipe2(g_watch, O_CLOEXEC) != 0) return;
    // A full pipe must not block the handler; the watch reads blocking.
    fcntl(g_watch[1], F_SETFL, O_NONBLOCK);
    std::thread(Watch).detach();
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals) sigaction(signo, &action, nullptr);
  });
}

int TerminationRequests() {
  return g_requests.load(std::memory_order_relaxed);
}

int TerminationNotifyFd() {
  return g_notify[0];
}

void TerminationAnswered() {
  if (g_watch[1] < 0) return;
  [[maybe_unused]] const ssize_t n = write(g_watch[1], &kAnswered, 1);
}

}  // namespace pendlo::app
