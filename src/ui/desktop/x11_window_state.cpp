#include "ui/desktop/x11_window_state.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
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

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

// The window's X id; 0 off X11 or before the window exists.
xcb_window_t Id(const QWidget* window) {
  if (Connection() == nullptr || !window->testAttribute(Qt::WA_WState_Created)) return 0;
  return static_cast<xcb_window_t>(window->winId());
}

// The frame's (or an unframed window's) top-left corner in device pixels,
// and whether a frame holds the window; nullopt when a frame gives no
// extents to tell its corner by.
struct Corner {
  QPoint at;
  bool framed;
};
std::optional<Corner> CornerOf(xcb_connection_t* c, xcb_window_t id, xcb_atom_t extents) {
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, id), nullptr);
  if (tree == nullptr) return std::nullopt;
  const xcb_window_t root = tree->root;
  const bool framed = tree->parent != root;
  std::free(tree);
  xcb_translate_coordinates_reply_t* place =
      xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, root, 0, 0), nullptr);
  if (place == nullptr) return std::nullopt;
  Corner corner{{place->dst_x, place->dst_y}, framed};
  std::free(place);
  if (!framed) return corner;
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, id, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr);
  const bool told =
      reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) == 16;
  if (told) {
    // left, right, top, bottom
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    corner.at -= QPoint(static_cast<int>(v[0]), static_cast<int>(v[2]));
  }
  std::free(reply);
  return told ? std::optional(corner) : std::nullopt;
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

FrameExtentsWatch::FrameExtentsWatch(QWidget* window, std::function<void()> changed)
    : QObject(window), window_(window), changed_(std::move(changed)) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  extents_ = Atom(c, "_NET_FRAME_EXTENTS");
  QCoreApplication::instance()->installNativeEventFilter(this);
}

FrameExtentsWatch::~FrameExtentsWatch() {
  if (extents_ != 0) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool FrameExtentsWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
  const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
  if (property->atom != extents_ || !window_->testAttribute(Qt::WA_WState_Created) ||
      property->window != static_cast<xcb_window_t>(window_->winId())) {
    return false;
  }
  // Queued: not from inside the toolkit's event dispatch.
  QMetaObject::invokeMethod(
      this, [this] { changed_(); }, Qt::QueuedConnection);
  return false;
}

QMargins FrameExtentsWatch::Extents() const {
  xcb_connection_t* c = Connection();
  if (c == nullptr || extents_ == 0 || !window_->testAttribute(Qt::WA_WState_Created)) return {};
  const auto id = static_cast<xcb_window_t>(window_->winId());
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, id, extents_, XCB_ATOM_CARDINAL, 0, 4), nullptr);
  QMargins margins;
  if (reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
    // left, right, top, bottom in device pixels
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    const qreal dpr = window_->devicePixelRatioF();
    margins =
        QMargins(qRound(v[0] / dpr), qRound(v[2] / dpr), qRound(v[1] / dpr), qRound(v[3] / dpr));
  }
  std::free(reply);
  return margins;
}

std::optional<QPoint> FrameTopLeft(const QWidget* window) {
  const xcb_window_t id = Id(window);
  if (id == 0) return std::nullopt;
  const std::optional<Corner> corner =
      CornerOf(Connection(), id, Atom(Connection(), "_NET_FRAME_EXTENTS"));
  if (!corner) return std::nullopt;
  const qreal dpr = window->devicePixelRatioF();
  return QPoint(qRound(corner->at.x() / dpr), qRound(corner->at.y() / dpr));
}

WindowServerWatch::WindowServerWatch(QWidget* window, std::function<void()> mapped)
    : QObject(window), window_(window), mapped_(std::move(mapped)) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  extents_ = Atom(c, "_NET_FRAME_EXTENTS");
  QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowServerWatch::~WindowServerWatch() {
  if (extents_ != 0) QCoreApplication::instance()->removeNativeEventFilter(this);
}

void WindowServerWatch::NoteFrame(std::uint32_t id) {
  // The frame came, moved or changed: its corner is noted while there is a
  // frame to ask.
  const std::optional<Corner> corner = CornerOf(Connection(), id, extents_);
  if (corner && corner->framed) framedAt_ = corner->at;
}

bool WindowServerWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const xcb_window_t id = Id(window_);
  xcb_connection_t* c = Connection();
  switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY:
      if (static_cast<const xcb_map_notify_event_t*>(message)->window == id) {
        QMetaObject::invokeMethod(
            this, [this] { mapped_(); }, Qt::QueuedConnection);
      }
      break;
    case XCB_CONFIGURE_NOTIFY:
      if (static_cast<const xcb_configure_notify_event_t*>(message)->window == id) NoteFrame(id);
      break;
    case XCB_PROPERTY_NOTIFY: {
      const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
      if (property->window == id && property->atom == extents_) NoteFrame(id);
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto* reparent = static_cast<const xcb_reparent_notify_event_t*>(message);
      if (reparent->window != id) break;
      const std::optional<Corner> corner = CornerOf(c, id, extents_);
      if (corner && !corner->framed && framedAt_ && corner->at != *framedAt_) {
        const uint32_t at[] = {static_cast<uint32_t>(framedAt_->x()),
                               static_cast<uint32_t>(framedAt_->y())};
        xcb_configure_window(c, id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, at);
        xcb_flush(c);
      }
      if (corner && !corner->framed) framedAt_.reset();
      break;
    }
    default:
      break;
  }
  return false;
}

}  // namespace pendlo::ui
