#include "ui/x11_window_state.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace pendlo::ui {

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(c, 0, static_cast<uint16_t>(std::char_traits<char>::length(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

}  // namespace

void SkipTaskbar(QWidget* window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* c = x11->connection();
  const auto id = static_cast<xcb_window_t>(window->winId());
  const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
  std::vector<xcb_atom_t> atoms;
  // Keeps what is there: the toolkit merges its own states into it at map.
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
  if (reply != nullptr && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  bool changed = false;
  for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    const xcb_atom_t atom = Atom(c, name);
    if (atom == XCB_ATOM_NONE || std::find(atoms.begin(), atoms.end(), atom) != atoms.end()) {
      continue;
    }
    atoms.push_back(atom);
    changed = true;
  }
  if (!changed) return;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(atoms.size()), atoms.data());
  xcb_flush(c);
}

}  // namespace pendlo::ui
