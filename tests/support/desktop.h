// Desktops for the window tests: an EWMH window manager on the X display of
// this process ($DISPLAY), a headless Wayland compositor, each run in a
// Program that ends it; an X server of a test's own, and a client that sees
// a program's windows mapped on a display and pings them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/processes.h"
#include "support/program.h"

struct xcb_connection_t;

namespace pendlo::testing {

// Whether `program` is found in PATH.
bool Installed(const std::string& program);

// Starts an EWMH window manager ("openbox", "icewm") in `wm` on `display`
// (this process's when empty) and waits, at most 20 s, until it announces
// itself on the root window (_NET_SUPPORTING_WM_CHECK; one per X server,
// as the mark stays). False with the reason.
bool StartWindowManager(Program& wm, const std::string& name, const std::string& logDir,
                        std::string* error, const std::string& display = {});

// Starts weston on its headless back end in `weston`, its socket `socket`
// in runtimeDir, and waits at most 20 s for the socket. False with the
// reason.
bool StartHeadlessWeston(Program& weston, const std::string& runtimeDir, const std::string& socket,
                         std::string* error);

// A client of an X display that waits on its events: a program's top-level
// windows mapped, and the answers to pings.
class WindowWatch {
 public:
  // Connects to `display` (":<n>"); Connected() is false when that failed.
  explicit WindowWatch(const std::string& display);
  ~WindowWatch();
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  bool Connected() const { return connection_ != nullptr; }
  // Waits until a top-level window of `program` (its _NET_WM_PID) titled
  // `title` is mapped, one mapped already included, while the program runs
  // and at most `limit`: its id, or 0.
  std::uint32_t AwaitWindow(const Program& program, const std::string& title,
                            std::chrono::milliseconds limit);
  // Sends `window` of `program` a _NET_WM_PING and waits, at most `limit`,
  // for its answer: the program's event loop has then read everything sent
  // to it before.
  bool Ping(const Program& program, std::uint32_t window, std::chrono::milliseconds limit);
  // What a top-level window may be: on screen, not, or withdrawn (not, and
  // no frame holds it).
  enum class MapState { kMapped, kUnmapped, kWithdrawn };
  // Waits until `window` of `program` is in `state`, as it may be already,
  // while the program runs and at most `limit`.
  bool AwaitMapState(const Program& program, std::uint32_t window, MapState state,
                     std::chrono::milliseconds limit);

 private:
  // The bytes of property `name` of `window`; "" when it has none.
  std::string Property(std::uint32_t window, std::uint32_t name);
  // Whether `window` is `program`'s, titled `title` (in WM_NAME, or in
  // UTF-8 in _NET_WM_NAME).
  bool Shows(std::uint32_t window, const Program& program, const std::string& title);
  // The atom called `name`, made when it is new.
  std::uint32_t Atom(const char* name);

  xcb_connection_t* connection_ = nullptr;
  std::uint32_t root_ = 0;
  std::uint32_t wmPid_ = 0, protocols_ = 0, ping_ = 0, netName_ = 0;
};

// An Xvfb server of the test's own on the first free display, with a
// WindowWatch of it.
class OwnDisplay {
 public:
  // Starts it and waits, at most 20 s, until it takes connections
  // (-displayfd tells it); Name() is "" when it could not start.
  OwnDisplay();
  ~OwnDisplay() { Kill(); }
  OwnDisplay(const OwnDisplay&) = delete;
  OwnDisplay& operator=(const OwnDisplay&) = delete;

  // ":<n>", or "".
  const std::string& Name() const { return name_; }
  // The overrides that run a program on it.
  std::vector<std::string> Platform() const { return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + name_}; }
  // Its watch, connected before any program could map a window there.
  WindowWatch& Windows() { return *watch_; }
  // Ends the server, as a crash or a log-off would.
  void Kill();

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string name_;
  std::unique_ptr<WindowWatch> watch_;
};

}  // namespace pendlo::testing
