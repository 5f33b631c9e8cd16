// The main window's keys: Enter presses the default button, the access keys
// S, P, H and X press Start, Stop, Help and Exit without Alt wherever typed
// text is not taken, and, as in a dialog, a focused push button is the
// default one. The media keys work wherever the focus is: Play and Pause
// start or stop the beat, Stop stops it.
#pragma once

#include <QMetaObject>
#include <functional>

class QKeyEvent;
class QPushButton;
class QWidget;

namespace pendlo::ui {

class AccessKeys {
 public:
  struct Buttons {
    QPushButton* start;  // the default button where no other has the focus
    QPushButton* stop;
    QPushButton* help;
    QPushButton* exit;
  };
  // Starts following the focus in `window`; `memo` takes the letters typed
  // into it as text; `toggle` starts or stops the beat as its button does.
  AccessKeys(QWidget& window, Buttons buttons, const QWidget* memo, std::function<void()> toggle);
  // Stops following the focus: nothing of this runs while the controls go.
  ~AccessKeys();
  AccessKeys(const AccessKeys&) = delete;
  AccessKeys& operator=(const AccessKeys&) = delete;

  // A key that reached the window: true when it pressed a button.
  bool Press(const QKeyEvent& event);

 private:
  void UpdateDefaultButton(QWidget* focus);

  QWidget& window_;
  Buttons buttons_;
  const QWidget* memo_;
  std::function<void()> toggle_;
  QMetaObject::Connection focusWatch_;
};

}  // namespace pendlo::ui
