// A window's state for the taskbar, set on X11 where Qt has no word for it.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QMargins>
#include <QObject>
#include <cstdint>
#include <functional>
#include <utility>

class QWidget;

namespace pendlo::ui {

// Before `window` (a top-level widget) is mapped: asks for no taskbar or
// pager entry of its own (_NET_WM_STATE_SKIP_TASKBAR, _SKIP_PAGER). The
// window manager drops the state when the window is withdrawn, so call it
// before each show. Does nothing on another platform.
void SkipTaskbar(QWidget* window);

// What the two frame watches below share: the X events of one top-level
// widget, read as the toolkit receives them, and a call back queued out of
// its event dispatch. Off X11 no event comes.
class FrameWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  ~FrameWatch() override;

 protected:
  FrameWatch(QWidget* window, std::function<void()> notify);
  // `id` is the watched window's, which exists.
  bool IsWatched(std::uint32_t id) const;
  // Runs the call back on the next turn of the event loop.
  void Notify();

  QWidget* window_;
  std::uint32_t extents_ = 0;  // the atom _NET_FRAME_EXTENTS, 0 off X11

 private:
  std::function<void()> notify_;
};

// The frame the window manager puts around `window` (_NET_FRAME_EXTENTS, in
// logical pixels), read from the window itself: the toolkit's own idea of it
// can lag behind. Calls `changed` whenever the window manager sets or
// changes it; a window learns its frame only after it is mapped. Off X11
// the frame is empty and `changed` never runs.
class FrameExtentsWatch : public FrameWatch {
 public:
  FrameExtentsWatch(QWidget* window, std::function<void()> changed)
      : FrameWatch(window, std::move(changed)) {}

  // The frame now; empty before the window manager has set it.
  QMargins Extents() const;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
};

// When the window manager of `window` (a top-level widget) dies, the X
// server leaves the window where its frame had put its client area, and
// maps it if it was minimised. This moves it back to its frame's corner, as
// a window manager that lets go of a window does, drops the dead frame's
// extents, and calls `released` (queued) whenever the window leaves its
// frame. Off X11: nothing.
class FrameLossWatch : public FrameWatch {
 public:
  FrameLossWatch(QWidget* window, std::function<void()> released)
      : FrameWatch(window, std::move(released)) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
};

}  // namespace pendlo::ui
