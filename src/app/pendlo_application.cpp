#include "app/pendlo_application.h"

#include <unistd.h>

#include <QSessionManager>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>

#include "app/termination.h"
#include "ui/display_scale.h"
#include "ui/error_box.h"

namespace pendlo::app {

PendloApplication::PendloApplication(int& argc, char** argv) : QApplication(argc, argv) {
  InstallTerminationHandlers();  // main() did already; a test may not have
  if (TerminationNotifyFd() >= 0) {
    signalNotifier_ = new QSocketNotifier(TerminationNotifyFd(), QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] { OnSignal(); });
  }
  connect(this, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
    if (!save_) return;
    const std::string error = save_();
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  });
}

PendloApplication::~PendloApplication() {
  delete signalNotifier_;
}

bool PendloApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ui::ShowErrorBox(QString::fromUtf8(e.what()));
  } catch (...) {
    ui::ShowErrorBox(QStringLiteral("Unknown error"));
  }
  return false;
}

void PendloApplication::SetSaveBeforeExit(std::function<std::string()> save) {
  save_ = std::move(save);
}

void PendloApplication::OnSignal() {
  unsigned char byte = 0;
  while (read(TerminationNotifyFd(), &byte, 1) == 1) {
  }
  AnswerTermination();
}

void PendloApplication::AnswerTermination() {
  const int requests = TerminationRequests();
  if (requests == answered_) return;
  answered_ = requests;
  if (save_) {
    const std::string error = save_();
    // Nobody may be there to see a box; the message goes to the log.
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  }
  exitRequested_ = true;
  TerminationAnswered();
  exit(0);  // ends every running event loop, a modal box's included
}

void PreparePlatform() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  if ((platform == nullptr || *platform == '\0') && display != nullptr && *display != '\0') {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  // The designed layout in logical pixels, scaled by whole factors only.
  ui::PrepareDisplayScale();
}

}  // namespace pendlo::app
