// A libpulse client of a private sound server, for waiting on what the
// server says (its replies and the changes it announces) instead of asking
// again after a sleep. Every wait gives up once one of the server's daemons
// ends or the time runs out.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/processes.h"

namespace pendlo::testing {

class PulseClient {
 public:
  // Waits while every one of `daemons` lives, until `until`.
  PulseClient(const std::vector<pid_t>& daemons, SteadyTime until);
  ~PulseClient();
  PulseClient(const PulseClient&) = delete;
  PulseClient& operator=(const PulseClient&) = delete;

  // Connects to `server` ("unix:<socket>", which must exist) and waits
  // until it answers.
  bool Connect(const std::string& server);
  // Loads `module` with `args`; true once the server has loaded it.
  bool LoadModule(const std::string& module, const std::string& args);
  // Waits until `source` is one of the server's sources.
  bool AwaitSource(const std::string& source);
  // Waits until `sink` is the server's default sink, asking for it whenever
  // the server names another (a session manager may apply its own first).
  bool AwaitDefaultSink(const std::string& sink);

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

}  // namespace pendlo::testing
