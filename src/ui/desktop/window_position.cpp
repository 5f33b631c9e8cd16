#include "ui/desktop/window_position.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "ui/desktop/window_placement.h"
#include "ui/desktop/x11_window_state.h"

namespace pendlo::ui {

WindowPosition::WindowPosition(QWidget& window, QPoint stored) : window_(window), stored_(stored) {}

void WindowPosition::Restore(QPoint stored) {
  stored_ = stored;
  if (!PlatformPlacesWindows()) return;
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens << screen->availableGeometry();
  const QSize frame = window_.size() + QSize(0, kTitleBarEstimate);
  window_.move(ReachablePosition(stored, frame, kTitleBarEstimate, screens));
}

QPoint WindowPosition::ToSave() const {
  if (!PlatformPlacesWindows()) return stored_;
  // The toolkit keeps the offset of a frame that has gone (its window
  // manager died), and counts none before one comes: the X server knows.
  return FrameTopLeft(&window_).value_or(window_.pos());
}

}  // namespace pendlo::ui
