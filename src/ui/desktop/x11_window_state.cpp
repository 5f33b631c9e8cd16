#include "ui/desktop/x11_window_state.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
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

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

// Window `id`'s _NET_FRAME_EXTENTS (left, right, top, bottom in device
// pixels); nullopt while it has none.
std::optional<std::array<uint32_t, 4>> FrameOf(xcb_connection_t* c, xcb_window_t id,
                                               xcb_atom_t extents) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, id, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr);
  std::optional<std::array<uint32_t, 4>> frame;
  if (reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    frame = {v[0], v[1], v[2], v[3]};
  }
  std::free(reply);
  return frame;
}

bool IsRoot(xcb_connection_t* c, xcb_window_t window) {
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it)) {
    if (it.data->root == window) return true;
  }
  return false;
}

}  // namespace

void SkipTaskbar(QWidget* window) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
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

FrameWatch::FrameWatch(QWidget* window, std::function<void()> notify)
    : QObject(window), window_(window), notify_(std::move(notify)) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  extents_ = Atom(c, "_NET_FRAME_EXTENTS");
  QCoreApplication::instance()->installNativeEventFilter(this);
}

FrameWatch::~FrameWatch() {
  if (extents_ != 0) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool FrameWatch::IsWatched(std::uint32_t id) const {
  return window_->testAttribute(Qt::WA_WState_Created) &&
         id == static_cast<xcb_window_t>(window_->winId());
}

void FrameWatch::Notify() {
  // Queued: not from inside the toolkit's event dispatch.
  QMetaObject::invokeMethod(
      this, [this] { notify_(); }, Qt::QueuedConnection);
}

bool FrameExtentsWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
  const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
  if (property->atom == extents_ && IsWatched(property->window)) Notify();
  return false;
}

QMargins FrameExtentsWatch::Extents() const {
  xcb_connection_t* c = Connection();
  if (c == nullptr || extents_ == 0 || !window_->testAttribute(Qt::WA_WState_Created)) return {};
  const auto frame = FrameOf(c, static_cast<xcb_window_t>(window_->winId()), extents_);
  if (!frame) return {};
  const auto [left, right, top, bottom] = *frame;
  const qreal dpr = window_->devicePixelRatioF();
  return QMargins(qRound(left / dpr), qRound(top / dpr), qRound(right / dpr), qRound(bottom / dpr));
}

bool FrameLossWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_REPARENT_NOTIFY) return false;
  const auto* reparent = static_cast<const xcb_reparent_notify_event_t*>(message);
  xcb_connection_t* c = Connection();
  if (!IsWatched(reparent->window) || !IsRoot(c, reparent->parent)) return false;
  // Still where the frame held it (the toolkit has not yet seen it move),
  // with the frame's extents still on it: the frame died with its window
  // manager. One that lets go of a window puts it at the frame's corner.
  const QPoint client(reparent->x, reparent->y);
  const auto frame = FrameOf(c, reparent->window, extents_);
  if (frame && window_->geometry().topLeft() * window_->devicePixelRatioF() == client) {
    const auto [left, right, top, bottom] = *frame;
    xcb_delete_property(c, reparent->window, extents_);  // the toolkit then counts no frame
    const uint32_t corner[] = {static_cast<uint32_t>(client.x() - static_cast<int>(left)),
                               static_cast<uint32_t>(client.y() - static_cast<int>(top))};
    xcb_configure_window(c, reparent->window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, corner);
    xcb_flush(c);
  }
  Notify();
  return false;
}

}  // namespace pendlo::ui
