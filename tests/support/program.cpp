#include "support/program.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

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
  args.insert(args.begin(), exe);
  pid_ = Spawn(args, env, errFile, true, 0, cwd);
  return pid_ > 0;
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

}  // namespace pendlo::testing
