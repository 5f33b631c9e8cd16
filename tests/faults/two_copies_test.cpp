// Two copies of the real program on one data directory, on the offscreen
// platform and with no sound server: both start, both end on SIGTERM and
// save, and each data file is afterwards whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_fixture.h"

extern char** environ;

namespace pendlo::faults {
namespace {

// Generous: a loaded CI machine under the address sanitizer starts Qt slowly.
constexpr auto kPatience = std::chrono::seconds(30);
constexpr auto kPoll = std::chrono::milliseconds(20);

// Whether pid has a handler of its own for SIGTERM (its SigCgt mask), so
// that a SIGTERM from now on is taken as the request to save and end.
bool CatchesSigterm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (SIGTERM - 1)) & 1;
    }
  }
  return false;
}

// The environment of this process with the overrides put in place.
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

class TwoCopies : public ::testing::Test {
 protected:
  void TearDown() override {
    for (pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  pid_t Launch(const std::string& exe, std::vector<std::string> env) {
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    pids_.push_back(pid);
    return pid;
  }

  // Waits for pid to end; its exit code, or -1 when it was killed by a
  // signal or did not end in time.
  int AwaitExit(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(kPoll);
    }
    std::erase(pids_, pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<pid_t> pids_;
};

TEST_F(TwoCopies, BothStartAndEndOnSigtermLeavingWholeFiles) {
  ScratchDir scratch;
  const std::string dir = scratch.path();
  ASSERT_FALSE(dir.empty());
  // In a directory of its own the program keeps its data files there.
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  // Files in a form the program reads but writes differently ('+144',
  // '$9', trailing words; LF-only lines), so that a save shows in them.
  WriteFile(dir + "init.sav", "+144\r\n$9 = irregular\r\n30 px\r\n40\r\n");
  std::string lfText = "/ 7/8 and tuplets\n";
  while (lfText.size() < 20000) lfText += "322\n35\n";
  WriteFile(dir + "dtp.sav", lfText);
  const std::string settings = "144\r\n9\r\n30\r\n40\r\n";
  std::string text;
  for (char c : lfText) text += c == '\n' ? std::string("\r\n") : std::string(1, c);

  // No sound server: the client library finds nothing at the given socket
  // and must not start a server of its own.
  ScratchDir runtime;
  WriteFile(runtime.path() + "client.conf", "autospawn = no\n");
  const auto env = Environment({
      "QT_QPA_PLATFORM=offscreen",
      "SDL_AUDIODRIVER=pulseaudio",
      "PULSE_SERVER=unix:" + runtime.path() + "no-server",
      "PULSE_CLIENTCONFIG=" + runtime.path() + "client.conf",
      "XDG_RUNTIME_DIR=" + runtime.path(),
  });
  const pid_t first = Launch(dir + "pendlo", env);
  const pid_t second = Launch(dir + "pendlo", env);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);

  // Both are up at the same time: each has its signal handler in place and
  // neither has ended.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!(CatchesSigterm(first) && CatchesSigterm(second))) {
    int status = 0;
    ASSERT_EQ(waitpid(first, &status, WNOHANG), 0) << "the first copy ended early";
    ASSERT_EQ(waitpid(second, &status, WNOHANG), 0) << "the second copy ended early";
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the copies did not start";
    std::this_thread::sleep_for(kPoll);
  }

  // Both at once, so that their saves overlap as far as they can.
  ASSERT_EQ(kill(first, SIGTERM), 0);
  ASSERT_EQ(kill(second, SIGTERM), 0);
  EXPECT_EQ(AwaitExit(first), 0);
  EXPECT_EQ(AwaitExit(second), 0);

  // Each copy saved what it had loaded, in the program's own form, so each
  // file is that content whole (whichever copy wrote last), and nothing
  // else is in the directory.
  EXPECT_EQ(ReadFile(dir + "init.sav"), settings);
  const std::string saved = ReadFile(dir + "dtp.sav");
  EXPECT_TRUE(saved == text) << "dtp.sav: " << saved.size() << " bytes, " << text.size()
                             << " expected";
  const std::set<std::string> names = {"dtp.sav", "init.sav", "pendlo", "pi.wav", "po.wav"};
  EXPECT_EQ(ListDir(dir), names);
}

}  // namespace
}  // namespace pendlo::faults
