// Pendlo: a desktop metronome. Builds the sound output, the transport that
// runs the beat through it, and the main window on the transport (which
// restores the last session's settings and, once shown, opens the sound
// output and creates the hidden help window); runs the event loop until the
// window closes. On the session bus, the desktop's media controls and
// scripts drive the same window.
// A request to end (SIGTERM, SIGINT, SIGHUP) is answered at any point.
#include <malloc.h>

#include <QTranslator>
#include <cstdio>
#include <thread>

#include "app/command_line.h"
#include "app/dbus/bus_service.h"
#include "app/pendlo_application.h"
#include "app/single_instance.h"
#include "app/termination.h"
#include "app/translations.h"
#include "files/formats/text_codec.h"
#include "files/store/data_dir.h"
#include "sound/link/player_link.h"
#include "transport/transport.h"
#include "ui/desktop/icon.h"
#include "ui/dialogs/error_box.h"
#include "ui/widgets/look.h"
#include "ui/window/metronome.h"

namespace {

using pendlo::app::PendloApplication;
using pendlo::app::SingleInstance;
using pendlo::ui::TMetronome;

// Keeps malloc's mmap threshold where it starts. Freeing a large block would
// otherwise raise it, and the sound library's buffers (8 MiB of them on
// PipeWire, mostly never touched in fresh mappings) would come from the heap
// the next time the output opens, 4.4 MiB of them resident: more while
// playing after every rest than after start-up.
void FixMmapThreshold() {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

// One copy per data directory: the claim, or null where there is no data
// directory (the window says so) or another copy holds it; *asked is then
// true when that copy was asked to show its window.
std::unique_ptr<SingleInstance> ClaimDataDir(bool* asked) {
  try {
    return SingleInstance::Claim(pendlo::ExeDir(), asked);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// The program's name (from its file) as window titles, docks and Wayland
// show it, with the look and the icon of every window.
void PresentApplication(PendloApplication& app) {
  const QString title = pendlo::ui::ApplicationTitle(QCoreApplication::applicationFilePath());
  pendlo::ui::SetApplicationTitle(title);
  QCoreApplication::setApplicationName(title);
  // The desktop entry's name: Wayland's app id, and what docks match the
  // window to its entry by.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pendlo.Pendlo"));
  pendlo::ui::ApplyLook(app);
  QApplication::setWindowIcon(pendlo::ui::PendloIcon());
}

// The main window's options: the system's sound, and start-up stopped by a
// request to end. The save on a signal is wired before the window is built:
// start-up may show an error box (no sound device, a broken file), and a
// log-off then must still save. `window` is set once the controls exist.
pendlo::ui::MetronomeOptions WindowOptions(PendloApplication& app, TMetronome*& window) {
  app.SetSaveBeforeExit(
      [&window] { return window != nullptr ? window->SaveBeforeExit() : std::string(); });
  pendlo::ui::MetronomeOptions options;
  options.transport = std::make_unique<pendlo::Transport>(pendlo::sound::link::SystemSoundLink());
  options.onBuilt = [&window](TMetronome& built) { window = &built; };
  options.stopRequested = [] { return pendlo::app::TerminationRequests() > 0; };
  return options;
}

// Shows the window, out of the taskbar if need be, in front of the others.
void BringToFront(TMetronome& metronome) {
  metronome.showNormal();
  metronome.raise();
  metronome.activateWindow();
}

// A later copy's request brings the window up (no claim: nothing to answer).
void RaiseOnRequest(SingleInstance* instance, TMetronome& metronome) {
  if (instance == nullptr) return;
  instance->OnRaiseRequest(&metronome, [&metronome] { BringToFront(metronome); });
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before any file or the display is touched,
  // in the language the window will speak.
  const pendlo::app::Language language = pendlo::app::SystemLanguage();
  const std::unique_ptr<QTranslator> texts = pendlo::app::LoadProgramTexts(language);
  if (const auto status = pendlo::app::AnswerCommandLine(argc, argv, stdout, stderr, texts.get())) {
    return *status;
  }
  pendlo::app::InstallTerminationHandlers();
  FixMmapThreshold();
  // A later copy shows the running window and ends before it has read anything.
  bool asked = false;
  const std::unique_ptr<SingleInstance> instance = ClaimDataDir(&asked);
  if (asked) return 0;
  // The text code tables are built beside the toolkit's start-up, not after
  // it: the saved text and the memo need them before the window can show.
  std::jthread codec(pendlo::PrepareTextCodec);
  pendlo::app::PreparePlatform();
  PendloApplication app(argc, argv);
  if (texts) QCoreApplication::installTranslator(texts.get());
  if (language == pendlo::app::Language::kJapanese) pendlo::app::InstallQtJapanese(app);
  pendlo::app::WarnWithoutFonts();
  // Asked to end while the toolkit started: nothing has been read yet.
  if (pendlo::app::TerminationRequests() > 0) {
    app.AnswerTermination();
    return 0;
  }
  PresentApplication(app);
  TMetronome* window = nullptr;
  TMetronome metronome(WindowOptions(app, window));
  // A request during start-up stopped it between steps: what was read is
  // saved, and the program ends.
  app.AnswerTermination();
  if (app.ExitRequested()) return 0;
  metronome.show();
  RaiseOnRequest(instance.get(), metronome);
  const pendlo::app::dbus::BusService bus(
      metronome, [&metronome] { BringToFront(metronome); }, QDBusConnection::sessionBus());
  return app.exec();
}
