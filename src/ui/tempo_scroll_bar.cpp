#include "ui/tempo_scroll_bar.h"

#include <QKeyEvent>

#include "engine/beat_state.h"
#include "ui/window_description.h"

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

}  // namespace pendlo::ui
