// Requests to end the program (SIGTERM, SIGINT, SIGHUP), taken from the first
// line of main(). The handler only notes the request; the program answers it
// between start-up steps or, once the event loop runs, from the loop. A
// request left unanswered for kUnansweredGrace (a start-up stuck in a call
// that never returns) ends the program as the signal's default would, and so
// does a second request while the first is unanswered.
#pragma once

#include <chrono>

namespace pendlo::app {

inline constexpr std::chrono::seconds kUnansweredGrace{5};

// Installs the handlers and starts the watch. Call first in main(); calls
// after the first do nothing.
void InstallTerminationHandlers();

// How many termination signals have arrived. Safe from any thread.
int TerminationRequests();

// A descriptor that becomes readable on each request (drain it, then compare
// TerminationRequests() with what was answered); -1 before installation.
int TerminationNotifyFd();

// The program has taken the requests so far in hand (saved and is ending):
// the watch stands down until the next one.
void TerminationAnswered();

}  // namespace pendlo::app
