// A window's state for the taskbar, set on X11 where Qt has no word for it.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <cstdint>
#include <functional>
#include <optional>

class QWidget;

namespace pendlo::ui {

// Before `window` (a top-level widget) is mapped: asks for no taskbar or
// pager entry of its own (_NET_WM_STATE_SKIP_TASKBAR, _SKIP_PAGER). The
// window manager drops the state when the window is withdrawn, so call it
// before each show. Does nothing on another platform.
void SkipTaskbar(QWidget* window);

// The frame the window manager puts around `window` (_NET_FRAME_EXTENTS, in
// logical pixels), read from the window itself: the toolkit's own idea of it
// can lag behind. Calls `changed` whenever the window manager sets or
// changes it; a window learns its frame only after it is mapped. Off X11
// the frame is empty and `changed` never runs.
class FrameExtentsWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  FrameExtentsWatch(QWidget* window, std::function<void()> changed);
  ~FrameExtentsWatch() override;

  // The frame now; empty before the window manager has set it.
  QMargins Extents() const;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  QWidget* window_;
  std::function<void()> changed_;
  std::uint32_t extents_ = 0;  // the atom, 0 off X11
};

// Where `window` (a top-level widget) is, as its window manager would say:
// the top-left corner of its frame in desktop coordinates, or of the window
// itself when nothing frames it (no window manager, or it has gone). Read
// from the X server, as the toolkit's own idea can lag behind a frame that
// came or went. nullopt off X11 or before the window exists.
std::optional<QPoint> FrameTopLeft(const QWidget* window);

// Keeps `window` (a top-level widget) where it was placed when its window
// manager dies: the X server then leaves the window where its client area
// was, so it is moved back to where its frame's corner was, as a window
// manager that lets go of a window does. Calls `mapped` (queued) each time
// the X server maps the window, also when it does so on its own (the
// window manager died while the window was minimised). Off X11: nothing.
class WindowServerWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  WindowServerWatch(QWidget* window, std::function<void()> mapped);
  ~WindowServerWatch() override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  // Notes where the frame around window `id` has its corner, if framed.
  void NoteFrame(std::uint32_t id);

  QWidget* window_;
  std::function<void()> mapped_;
  std::uint32_t extents_ = 0;       // the atom _NET_FRAME_EXTENTS, 0 off X11
  std::optional<QPoint> framedAt_;  // the frame's corner, device pixels, while framed
};

}  // namespace pendlo::ui
