#include "app/pendlo_application.h"

#include <unistd.h>

#include <QFontDatabase>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "app/termination.h"
#include "ui/desktop/display_scale.h"
#include "ui/dialogs/error_box.h"
#include "ui/dialogs/message_translation.h"

namespace pendlo::app {

namespace {

// How long a save handed to the GUI thread from another one may take.
constexpr auto kSaveHandOverLimit = std::chrono::seconds(10);

PendloApplication* g_application = nullptr;
QtMessageHandler g_previousHandler = nullptr;
std::atomic<bool> g_displayLost{false};

// The X11 platform plugin says this, then ends the process with exit(1),
// when the display's connection breaks (the server was killed or restarted).
bool SaysDisplayLost(QtMsgType type, const QString& message) {
  return type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke"));
}

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (g_previousHandler != nullptr) {
    g_previousHandler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n",
                 qFormatLogMessage(type, context, message).toLocal8Bit().constData());
  }
  if (!SaysDisplayLost(type, message) || g_application == nullptr || g_displayLost.exchange(true)) {
    return;
  }
  // The close's save before the plugin ends the process: on the GUI thread,
  // which owns the window (nothing here needs the display).
  g_application->SaveForExit(kSaveHandOverLimit);
  std::fflush(stderr);
}

}  // namespace

PendloApplication::PendloApplication(int& argc, char** argv) : QApplication(argc, argv) {
  g_application = this;
  g_previousHandler = qInstallMessageHandler(OnQtMessage);
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
  qInstallMessageHandler(g_previousHandler);
  g_application = nullptr;
  delete signalNotifier_;
}

void PendloApplication::SaveForExit(std::chrono::milliseconds limit) {
  if (!save_) return;
  std::string message;
  if (QThread::currentThread() == thread()) {
    message = save_();
  } else {
    auto done = std::make_shared<std::promise<std::string>>();
    std::future<std::string> saved = done->get_future();
    QMetaObject::invokeMethod(
        this, [this, done] { done->set_value(save_()); }, Qt::QueuedConnection);
    if (saved.wait_for(limit) != std::future_status::ready) {
      std::fprintf(stderr, "pendlo: the display is gone and the window did not save in time\n");
      return;
    }
    message = saved.get();
  }
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
}

bool PendloApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ui::ShowErrorBox(ui::TranslateMessage(e.what()));
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

void WarnWithoutFonts() {
  if (QFontDatabase::families().isEmpty()) {
    std::fprintf(stderr,
                 "pendlo: no font is installed, every caption shows as boxes "
                 "(install fonts-noto-cjk or fonts-ipafont)\n");
  } else if (QFontDatabase::families(QFontDatabase::Japanese).isEmpty()) {
    std::fprintf(stderr,
                 "pendlo: no font has Japanese characters, the captions show as boxes "
                 "(install fonts-noto-cjk or fonts-ipafont)\n");
  }
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
