#include "ui/widgets/tempo_scroll_bar.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <cstdlib>

#include "engine/beat_state.h"
#include "ui/window/window_description.h"

namespace pendlo::ui {

TempoScrollBar::TempoScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
  setRange(kTempoMin, kTempoMax);
  setSingleStep(kTempoSmallChange);
  setPageStep(kTempoLargeChange);
  setValue(kTempoDefault);
  setTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setContextMenuPolicy(Qt::NoContextMenu);
}

void TempoScrollBar::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
    event->ignore();
    return;
  }
  SliderAction action = SliderNoAction;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      action = SliderSingleStepSub;
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      action = SliderSingleStepAdd;
      break;
    case Qt::Key_PageUp:
      action = SliderPageStepSub;
      break;
    case Qt::Key_PageDown:
      action = SliderPageStepAdd;
      break;
    case Qt::Key_Home:
      action = SliderToMinimum;
      break;
    case Qt::Key_End:
      action = SliderToMaximum;
      break;
    default:
      event->ignore();  // letters and Enter go on to the window
      return;
  }
  triggerAction(action);
  event->accept();
}

void TempoScrollBar::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  // A tilt of the wheel to the left counts as a turn away from the user.
  int delta = std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y();
  if (event->inverted()) delta = -delta;
  wheelRest_ += delta;
  const int notches = wheelRest_ / 120;
  wheelRest_ -= notches * 120;
  // Step by step, so each new position runs the change handler as a held
  // arrow does.
  for (int i = 0; i < std::abs(notches); ++i)
    triggerAction(notches > 0 ? SliderSingleStepSub : SliderSingleStepAdd);
  event->accept();
}

void TempoScrollBar::paintEvent(QPaintEvent* event) {
  QScrollBar::paintEvent(event);
  if (!hasFocus()) return;
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect thumb =
      style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
  QPainter painter(this);
  painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
  painter.drawRect(thumb.adjusted(2, 2, -3, -3));
}

}  // namespace pendlo::ui
