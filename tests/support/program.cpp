#include "support/program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "support/files.h"
#include "support/processes.h"

extern char** environ;

namespace pendlo::testing {

std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& o : overrides) {
      replaced |= entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

std::vector<std::string> NoSoundServer(const std::string& runtimeDir,
                                       std::vector<std::string> platform) {
  WriteFile(runtimeDir + "client.conf", "autospawn = no\n");
  platform.insert(platform.end(), {
                                      "SDL_AUDIODRIVER=pulseaudio",
                                      "PULSE_SERVER=unix:" + runtimeDir + "no-server",
                                      "PULSE_CLIENTCONFIG=" + runtimeDir + "client.conf",
                                      "XDG_RUNTIME_DIR=" + runtimeDir,
                                  });
  return platform;
}

Program::~Program() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Program::Start(const std::string& exe, std::vector<std::string> env,
                    const std::string& errFile, const std::string& cwd,
                    std::vector<std::string> args) {
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!errFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!args.empty()) posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  const int r = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) pid_ = -1;
  return r == 0;
}

int Program::AwaitExit(std::chrono::milliseconds limit) {
  int status = -1;
  if (!AwaitEnd({pid_}, std::chrono::steady_clock::now() + limit) ||
      waitpid(pid_, &status, 0) != pid_) {
    return -1;
  }
  pid_ = -1;
  return status;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace pendlo::testing
