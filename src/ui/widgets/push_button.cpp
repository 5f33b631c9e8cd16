#include "ui/widgets/push_button.h"

#include <QShortcutEvent>

namespace pendlo::ui {

bool PushButton::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut && isEnabled() &&
      !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
    click();
    return true;
  }
  return QPushButton::event(event);
}

}  // namespace pendlo::ui
