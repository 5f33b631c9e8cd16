// The application object: the central error handler for everything that
// escapes an event handler on the GUI thread, and the orderly exit on
// SIGTERM, SIGHUP, SIGINT and at the end of the desktop session.
#pragma once

#include <QApplication>
#include <chrono>
#include <functional>
#include <string>

class QSocketNotifier;

namespace pendlo::app {

class PendloApplication : public QApplication {
 public:
  PendloApplication(int& argc, char** argv);
  ~PendloApplication() override;

  // An exception escaping an event's handler is shown in the error box; the
  // event loop goes on.
  bool notify(QObject* receiver, QEvent* event) override;

  // What to run before the program ends on a signal, at session end or
  // when the display's connection breaks: the same save as closing the
  // window. Returns a message for standard error, empty for none.
  void SetSaveBeforeExit(std::function<std::string()> save);

  // Answers the termination signals not answered yet: runs the save, then
  // ends every running event loop. The event loop calls it on each signal;
  // start-up calls it where no loop runs.
  void AnswerTermination();

  // Runs the save as the program ends now: on the GUI thread, handed to it
  // (waiting at most limit) from any other; its message to standard error.
  void SaveForExit(std::chrono::milliseconds limit);

  // A signal asked the program to end, also before the event loop runs
  // (for instance while a start-up error box was open).
  bool ExitRequested() const { return exitRequested_; }

 private:
  void OnSignal();

  std::function<std::string()> save_;
  QSocketNotifier* signalNotifier_ = nullptr;
  int answered_ = 0;  // termination requests answered so far
  bool exitRequested_ = false;
};

// Says once on standard error when no font is installed (every caption
// would be boxes) or none has Japanese characters.
void WarnWithoutFonts();

// Chooses the platform before the application starts: X11 (also through
// XWayland) where a display is there, so the window can be placed where the
// settings say; the desktop's scale by whole factors (ui/desktop/display_scale.h).
// Respects an explicit QT_QPA_PLATFORM.
void PreparePlatform();

}  // namespace pendlo::app
