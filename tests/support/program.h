// The real program started by a test: its environment, with or without a
// sound server, and its end awaited with a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace pendlo::testing {

// This process's environment with the overrides ("NAME=value") in place.
std::vector<std::string> Environment(const std::vector<std::string>& overrides);

// The overrides that run the program on `platform` (QT_QPA_PLATFORM and
// the display's variables) with no sound server: the client library finds
// nothing at a socket of runtimeDir and must not start a server of its own.
std::vector<std::string> NoSoundServer(const std::string& runtimeDir,
                                       std::vector<std::string> platform);

// A copy of the program run by a test; killed on destruction if still running.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts exe with env and args (Spawn), its stdout and stderr written to
  // errFile and its working directory cwd when given; false on failure.
  bool Start(const std::string& exe, std::vector<std::string> env, const std::string& errFile = {},
             const std::string& cwd = {}, std::vector<std::string> args = {});
  pid_t pid() const { return pid_; }
  // Waits until it ends, at most limit: its exit status (waitpid form), or
  // -1 when it is still running then.
  int AwaitExit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
};

// Runs command through the shell: its standard output, trailing blanks and
// line breaks removed.
std::string Shell(const std::string& command);

}  // namespace pendlo::testing
