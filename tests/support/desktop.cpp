#include "support/desktop.h"

#include <signal.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/files.h"
#include "support/processes.h"

namespace pendlo::testing {

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// Starts `argv` in `program` with its output in log, then waits with
// `ready`, given the program's pid and the time limit.
bool Run(Program& program, const std::vector<std::string>& argv,
         const std::vector<std::string>& overrides, const std::string& log,
         const std::function<bool(pid_t, SteadyTime)>& ready, std::string* error) {
  if (!Installed(argv.front())) {
    *error = argv.front() + " is not installed (tools/debian-packages.txt lists it)";
  } else if (!program.Start(Shell("command -v " + argv.front()), Environment(overrides), log, {},
                            {argv.begin() + 1, argv.end()}) ||
             !ready(program.pid(), std::chrono::steady_clock::now() + kPatience)) {
    *error = argv.front() + " did not start: " + ReadFile(log);
  } else {
    return true;
  }
  return false;
}

}  // namespace

bool Installed(const std::string& program) {
  return !Shell("command -v " + program).empty();
}

bool StartWindowManager(Program& wm, const std::string& name, const std::string& logDir,
                        std::string* error, const std::string& display) {
  std::vector<std::string> overrides = {"HOME=" + logDir};
  if (!display.empty()) overrides.push_back("DISPLAY=" + display);
  // xprop -spy tells the root window's mark as it is and at every change
  // (a line each: its output is line-buffered).
  const auto announced = [&](pid_t pid, SteadyTime until) {
    const std::string marks = logDir + "wm-check.log";
    const pid_t spy = Spawn({"stdbuf", "-oL", "xprop", "-root", "-spy", "_NET_SUPPORTING_WM_CHECK"},
                            Environment(overrides), marks);
    const bool set =
        spy > 0 &&
        AwaitFile(
            marks, [&] { return ReadFile(marks, "").find("window id") != std::string::npos; },
            {pid, spy}, until);
    if (spy > 0) End({spy}, SIGTERM, std::chrono::seconds(2), false);
    return set;
  };
  return Run(wm, {name}, overrides, logDir + name + ".log", announced, error);
}

bool StartHeadlessWeston(Program& weston, const std::string& runtimeDir, const std::string& socket,
                         std::string* error) {
  chmod(runtimeDir.c_str(), 0700);
  const std::string path = runtimeDir + socket;
  return Run(
      weston, {"weston", "--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0"},
      {"XDG_RUNTIME_DIR=" + runtimeDir}, runtimeDir + "weston.log",
      [&](pid_t pid, SteadyTime until) { return AwaitFile(path, Exists(path), {pid}, until); },
      error);
}

namespace {

// A reply of xcb, freed with its owner.
template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;
template <typename Reply>
Owned<Reply> Own(Reply* reply) {
  return Owned<Reply>(reply, &std::free);
}

// Reads events of `c` until `wanted` takes one, while `program` runs and
// until `until`.
bool AwaitEvent(xcb_connection_t* c, const std::function<bool(const xcb_generic_event_t&)>& wanted,
                const Program& program, SteadyTime until) {
  for (;;) {
    xcb_flush(c);
    // What has come already, then the connection's next bytes.
    while (const auto event = Own(xcb_poll_for_event(c))) {
      if (wanted(*event)) return true;
    }
    if (xcb_connection_has_error(c) != 0 ||
        !AwaitReadable(xcb_get_file_descriptor(c), {program.pid()}, until)) {
      return false;
    }
  }
}

}  // namespace

WindowWatch::WindowWatch(const std::string& display) {
  int screen = 0;
  connection_ = xcb_connect(display.c_str(), &screen);
  if (xcb_connection_has_error(connection_) != 0) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    return;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (; screen > 0; --screen) xcb_screen_next(&it);
  root_ = it.data->root;
  // Windows mapped on the root, and messages sent to it (the pings'
  // answers go to the window manager's masks).
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
  wmPid_ = Atom("_NET_WM_PID");
  protocols_ = Atom("WM_PROTOCOLS");
  ping_ = Atom("_NET_WM_PING");
  netName_ = Atom("_NET_WM_NAME");
}

WindowWatch::~WindowWatch() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

std::uint32_t WindowWatch::Atom(const char* name) {
  const auto reply = Own(xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr));
  return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}

std::string WindowWatch::Property(std::uint32_t window, std::uint32_t name) {
  const auto reply = Own(xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
  if (!reply) return {};
  return {static_cast<const char*>(xcb_get_property_value(reply.get())),
          static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
}

bool WindowWatch::Shows(std::uint32_t window, const Program& program, const std::string& title) {
  const auto pid = static_cast<std::uint32_t>(program.pid());  // a CARDINAL, in our byte order
  return Property(window, wmPid_) == std::string(reinterpret_cast<const char*>(&pid), sizeof pid) &&
         (Property(window, XCB_ATOM_WM_NAME) == title || Property(window, netName_) == title);
}

std::uint32_t WindowWatch::AwaitWindow(const Program& program, const std::string& title,
                                       std::chrono::milliseconds limit) {
  if (connection_ == nullptr) return 0;
  // Mapped before the call (the root's events were selected before any
  // program could map one, so none is missed in between).
  const auto tree =
      Own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
  for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
    const xcb_window_t child = xcb_query_tree_children(tree.get())[i];
    const auto attributes = Own(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, child), nullptr));
    if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
        Shows(child, program, title)) {
      return child;
    }
  }
  std::uint32_t found = 0;
  AwaitEvent(
      connection_,
      [&](const xcb_generic_event_t& e) {
        const auto& map = reinterpret_cast<const xcb_map_notify_event_t&>(e);
        if ((e.response_type & 0x7f) == XCB_MAP_NOTIFY && Shows(map.window, program, title)) {
          found = map.window;
        }
        return found != 0;
      },
      program, std::chrono::steady_clock::now() + limit);
  return found;
}

bool WindowWatch::Ping(const Program& program, std::uint32_t window,
                       std::chrono::milliseconds limit) {
  if (connection_ == nullptr) return false;
  xcb_client_message_event_t ping{};
  ping.response_type = XCB_CLIENT_MESSAGE;
  ping.format = 32;
  ping.window = window;
  ping.type = protocols_;
  ping.data.data32[0] = ping_;
  ping.data.data32[1] = XCB_CURRENT_TIME;
  ping.data.data32[2] = window;
  xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&ping));
  // The answer is the same message, sent to the root window.
  return AwaitEvent(
      connection_,
      [&](const xcb_generic_event_t& e) {
        const auto& m = reinterpret_cast<const xcb_client_message_event_t&>(e);
        return (e.response_type & 0x7f) == XCB_CLIENT_MESSAGE && m.window == root_ &&
               m.type == protocols_ && m.data.data32[0] == ping_ && m.data.data32[2] == window;
      },
      program, std::chrono::steady_clock::now() + limit);
}

bool WindowWatch::AwaitMapState(const Program& program, std::uint32_t window, MapState state,
                                std::chrono::milliseconds limit) {
  if (connection_ == nullptr) return false;
  // Selected before the state is read, so no change in between is missed.
  const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
  const auto holds = [&] {
    const auto attributes = Own(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr));
    const auto tree =
        Own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
    if (!attributes || !tree) return state != MapState::kMapped;  // destroyed
    const bool mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    return state == MapState::kMapped
               ? mapped
               : !mapped && (state == MapState::kUnmapped || tree->parent == root_);
  };
  // The window's own map, unmap and reparent events name it at one place.
  const auto changed = [&](const xcb_generic_event_t& e) {
    const auto type = e.response_type & 0x7f;
    return (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY || type == XCB_REPARENT_NOTIFY) &&
           reinterpret_cast<const xcb_map_notify_event_t&>(e).window == window && holds();
  };
  return holds() ||
         AwaitEvent(connection_, changed, program, std::chrono::steady_clock::now() + limit);
}

OwnDisplay::OwnDisplay() {
  // Xvfb writes its display's number (and a line break) once it listens.
  const std::string said = dir_.File("display");
  pid_ = Spawn({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
               Environment({}), said);
  const auto told = [&] { return ReadFile(said, "").find('\n') != std::string::npos; };
  if (pid_ <= 0 || !AwaitFile(said, told, {pid_}, std::chrono::steady_clock::now() + kPatience)) {
    return;
  }
  name_.assign(1, ':').append(std::to_string(std::atoi(ReadFile(said).c_str())));
  watch_ = std::make_unique<WindowWatch>(name_);
  if (!watch_->Connected()) name_.clear();
}

void OwnDisplay::Kill() {
  if (pid_ > 0) End({pid_}, SIGKILL, std::chrono::seconds(2), false);
  pid_ = -1;
}

}  // namespace pendlo::testing
