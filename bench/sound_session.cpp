// sound_session: the private sound server of the tests (tests/support's
// SoundServer: a null sink, PulseAudio or a PipeWire session) for the bench
// scripts, so that one implementation starts it everywhere.
//
//   sound_session --server pulse|pipewire [--rate 48000]
//
// Once the server answers with its null sink as the default sink, prints
// shell assignments to eval: the clients' environment as `export` lines
// (PULSE_SERVER, PIPEWIRE_RUNTIME_DIR, XDG_RUNTIME_DIR, SDL_AUDIODRIVER),
// then sound_sink, sound_monitor, sound_pids (the daemons) and sound_dir,
// and last `sound_ready=1`. The server runs until standard input closes or
// SIGTERM, SIGINT or SIGHUP comes; then it is stopped and its files removed.
// On failure: the reason and the daemons' log on standard error, exit 1.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/sound_server.h"

namespace {

// `value` in single quotes for the shell.
std::string Quoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out.append("'\\''");
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

void PrintSession(const pendlo::testing::SoundServer& server) {
  const std::string runtime = server.Dir() + "/runtime";
  std::string pids;
  for (pid_t pid : server.Pids()) {
    if (!pids.empty()) pids.push_back(' ');
    pids.append(std::to_string(pid));
  }
  std::printf("export PULSE_SERVER=%s\nexport PIPEWIRE_RUNTIME_DIR=%s\n",
              Quoted(server.ServerString()).c_str(), Quoted(runtime).c_str());
  std::printf("export XDG_RUNTIME_DIR=%s\nexport SDL_AUDIODRIVER=pulseaudio\n",
              Quoted(runtime).c_str());
  std::printf("sound_sink=%s\nsound_monitor=%s\nsound_pids=%s\nsound_dir=%s\nsound_ready=1\n",
              Quoted(pendlo::testing::SoundServer::kSink).c_str(), Quoted(server.Monitor()).c_str(),
              Quoted(pids).c_str(), Quoted(server.Dir()).c_str());
  std::fflush(stdout);
}

// Returns once standard input has closed or an ending signal came.
void AwaitEnd() {
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
  const int signals = signalfd(-1, &ending, SFD_CLOEXEC);
  pollfd fds[] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
  char buf[256];
  while (poll(fds, 2, -1) >= 0 && fds[1].revents == 0) {
    if (fds[0].revents != 0 && read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
  }
  close(signals);
}

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: sound_session --server pulse|pipewire [--rate 48000]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string name;
  int rate = 48000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--server" && (value == "pulse" || value == "pipewire")) {
      name = value;
    } else if (arg == "--rate" && std::atoi(value.c_str()) > 0) {
      rate = std::atoi(value.c_str());
    } else {
      Usage();
    }
  }
  if (name.empty() || argc % 2 == 0) Usage();
  pendlo::testing::SoundServer server(name, rate);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "sound_session: %s\n", error.c_str());
    return 1;
  }
  PrintSession(server);
  AwaitEnd();
  return 0;
}
