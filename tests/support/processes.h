// The daemons and tools a test starts, and waits on what they do: their
// ends (through pidfds) and the files they make (through inotify), never by
// looking again after a sleep.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pendlo::testing {

using SteadyTime = std::chrono::steady_clock::time_point;

// Starts `args` with environment `env`, standard input from /dev/null,
// standard output (and, with `withErrors`, standard error) appended to `out`
// when it is not empty, in directory `cwd` when given. The child joins
// process group `group` (0: leads a new one) and is killed when the thread
// that started it ends, so a test that crashes leaves no daemon behind. The
// child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& out = {}, bool withErrors = false, pid_t group = 0,
            const std::string& cwd = {});

// A pidfd of `pid`, readable once it has ended (the caller closes it);
// -1 when it was reaped already.
int OpenPidFd(pid_t pid);

// True while `pid` (a child of ours) has not ended; does not reap it.
bool Alive(pid_t pid);

// Waits until every one of `pids` (children of ours) has ended or `until`
// passes; reaps none. True when all have ended.
bool AwaitEnd(const std::vector<pid_t>& pids, SteadyTime until);

// Signals `pids` (and the group led by pids[0] when `group`) and reaps
// them; SIGKILL for what has not ended after `grace`.
void End(const std::vector<pid_t>& pids, int signal, std::chrono::milliseconds grace, bool group);

// Waits until `ready` holds, looking again whenever something changes in
// the directory of `path` (or in the nearest one on the way while that is
// missing), while every one of `daemons` lives and until `until`.
bool AwaitFile(const std::string& path, const std::function<bool()>& ready,
               const std::vector<pid_t>& daemons, SteadyTime until);

// Waits until `fd` can be read, while every one of `daemons` lives and
// until `until`. True when it can.
bool AwaitReadable(int fd, const std::vector<pid_t>& daemons, SteadyTime until);

// The usual `ready` of AwaitFile: `path` exists (with `nonEmpty`: holds a
// byte).
std::function<bool()> Exists(const std::string& path, bool nonEmpty = false);

}  // namespace pendlo::testing
