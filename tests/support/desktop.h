// Desktops for the window tests: an EWMH window manager on the X display of
// this process ($DISPLAY), and a headless Wayland compositor, each run in a
// Program that ends it.
#pragma once

#include <string>

#include "support/program.h"

namespace pendlo::testing {

// Whether `program` is found in PATH.
bool Installed(const std::string& program);

// Starts an EWMH window manager ("openbox", "icewm") in `wm` and waits, at
// most 20 s, until it announces itself on the root window
// (_NET_SUPPORTING_WM_CHECK; one per X server, as the mark stays). False
// with the reason.
bool StartWindowManager(Program& wm, const std::string& name, const std::string& logDir,
                        std::string* error);

// Starts weston on its headless back end in `weston`, its socket `socket`
// in runtimeDir, and waits at most 20 s for the socket. False with the
// reason.
bool StartHeadlessWeston(Program& weston, const std::string& runtimeDir, const std::string& socket,
                         std::string* error);

}  // namespace pendlo::testing
