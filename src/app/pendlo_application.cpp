#include "app/pendlo_application.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/error_box.h"

namespace pendlo::app {

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the GUI thread does the rest.
extern "C" void OnTerminationSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

PendloApplication::PendloApplication(int& argc, char** argv) : QApplication(argc, argv) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) == 0) {
    signalNotifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] { OnSignal(); });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGTERM, SIGHUP, SIGINT}) sigaction(signo, &action, nullptr);
  }
  connect(this, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
    if (!save_) return;
    const std::string error = save_();
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  });
}

PendloApplication::~PendloApplication() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) sigaction(signo, &action, nullptr);
  delete signalNotifier_;
  for (int& fd : g_signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
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
  while (read(g_signalPipe[0], &byte, 1) == 1) {
  }
  if (save_) {
    const std::string error = save_();
    // Nobody may be there to see a box; the message goes to the log.
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  }
  exitRequested_ = true;
  exit(0);  // ends every running event loop, a modal box's included
}

void PreparePlatform() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  if ((platform == nullptr || *platform == '\0') && display != nullptr && *display != '\0') {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  // Sizes are pixels as designed; no scaling by the desktop's DPI.
  setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
  unsetenv("QT_SCALE_FACTOR");
  unsetenv("QT_SCREEN_SCALE_FACTORS");
}

}  // namespace pendlo::app
