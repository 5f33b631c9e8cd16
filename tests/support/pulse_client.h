// A libpulse client of a private sound server, for waiting on what the
// server says (its replies and the changes it announces) instead of asking
// again after a sleep.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/processes.h"

namespace pendlo::testing {

enum class SinkWait { kReady, kNoAnswer, kNoMonitor, kNotDefault };

// Connects to `server` ("unix:<socket>", listening) and waits until its
// sources hold `monitor` and its default sink is `sink`, asking for that
// default whenever the server names another (a session manager may apply
// its own first). Gives up once one of `daemons` ends or at `until`,
// telling how far it got.
SinkWait AwaitDefaultSink(const std::string& server, const std::string& sink,
                          const std::string& monitor, const std::vector<pid_t>& daemons,
                          SteadyTime until);

// Connects to `server` and waits until it plays a client's stream (a sink
// input), while every one of `daemons` lives and until `until`.
bool AwaitPlayback(const std::string& server, const std::vector<pid_t>& daemons, SteadyTime until);

}  // namespace pendlo::testing
