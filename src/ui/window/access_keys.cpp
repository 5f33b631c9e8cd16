#include "ui/window/access_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

namespace pendlo::ui {

AccessKeys::AccessKeys(QWidget& window, Buttons buttons, const QWidget* memo,
                       std::function<void()> toggle)
    : window_(window), buttons_(buttons), memo_(memo), toggle_(std::move(toggle)) {
  focusWatch_ = QObject::connect(qApp, &QApplication::focusChanged, &window_,
                                 [this](QWidget*, QWidget* now) { UpdateDefaultButton(now); });
}

AccessKeys::~AccessKeys() {
  QObject::disconnect(focusWatch_);
}

bool AccessKeys::Press(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaPause:
    case Qt::Key_MediaTogglePlayPause:
      toggle_();
      return true;
    case Qt::Key_MediaStop:
      buttons_.stop->click();
      return true;
    default:
      break;
  }
  const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
  if ((event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
    // The default button: what reaches here came from a control that does
    // not use Enter itself (push buttons and the memo do).
    buttons_.start->click();
    return true;
  }
  if ((mods & ~Qt::ShiftModifier) != Qt::NoModifier || window_.focusWidget() == memo_) {
    return false;
  }
  // Access keys work without Alt wherever typed text is not taken.
  QPushButton* target = nullptr;
  switch (event.key()) {
    case Qt::Key_S:
      target = buttons_.start;
      break;
    case Qt::Key_P:
      target = buttons_.stop;
      break;
    case Qt::Key_H:
      target = buttons_.help;
      break;
    case Qt::Key_X:
      target = buttons_.exit;
      break;
    default:
      return false;
  }
  target->click();
  return true;
}

void AccessKeys::UpdateDefaultButton(QWidget* focus) {
  // Like a dialog: a focused push button is the one Enter presses and is
  // drawn as the default; elsewhere it is Start again.
  if (focus == nullptr || focus->window() != &window_) return;
  auto* button = qobject_cast<QPushButton*>(focus);
  buttons_.start->setDefault(button == nullptr || button == buttons_.start);
}

}  // namespace pendlo::ui
