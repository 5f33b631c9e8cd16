// The window's push buttons: a push button whose access key (Alt+S, the
// underlined letter) presses it at once, as a click or the plain letter
// does. Qt's own buttons show a shortcut's press for 100 ms before they
// click, which delays Start by that long and lets one more click sound after
// Stop at fast tempos.
#pragma once

#include <QPushButton>

namespace pendlo::ui {

class PushButton final : public QPushButton {
 public:
  PushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

 protected:
  // An access key that names this button alone clicks it now; one shared
  // by several controls moves the focus among them, as before.
  bool event(QEvent* event) override;
};

}  // namespace pendlo::ui
