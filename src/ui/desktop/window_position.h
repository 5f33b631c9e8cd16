// The main window's position as "init.sav" keeps it: the stored one applied
// at start-up within reach of a screen (see window_placement.h), and the one
// to write back at close.
#pragma once

#include <QPoint>

class QWidget;

namespace pendlo::ui {

class WindowPosition {
 public:
  // `window`'s position, stored as `stored` until Restore says otherwise.
  WindowPosition(QWidget& window, QPoint stored);

  // The stored position: applied, or moved within reach of a screen when its
  // title bar would lie outside every screen; kept as it is where the
  // platform places windows itself.
  void Restore(QPoint stored);

  // The position written at close: where the window is, or the stored one
  // where the platform tells no position.
  QPoint ToSave() const;

 private:
  QWidget& window_;
  QPoint stored_;
};

}  // namespace pendlo::ui
