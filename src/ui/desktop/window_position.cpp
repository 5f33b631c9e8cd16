#include "ui/desktop/window_position.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "ui/desktop/window_placement.h"

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
  return PlatformPlacesWindows() ? window_.pos() : stored_;
}

}  // namespace pendlo::ui
