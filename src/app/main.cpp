// Pendlo: a desktop metronome. Builds the sound output, the transport that
// runs the beat through it, and the main window on the transport (which
// restores the last session's settings and, once shown, opens the sound
// output and creates the hidden help window); runs the event loop until the
// window closes.
// A request to end (SIGTERM, SIGINT, SIGHUP) is answered at any point.
#include <malloc.h>

#include <cstdio>
#include <thread>

#include "app/command_line.h"
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

int main(int argc, char** argv) {
  // --help and --version answer before any file or the display is touched.
  if (const auto status = pendlo::app::AnswerCommandLine(argc, argv, stdout, stderr)) {
    return *status;
  }
  pendlo::app::InstallTerminationHandlers();
  // A fixed threshold: freeing a large block would otherwise raise it, and
  // the sound library's buffers (8 MiB of them on PipeWire, mostly never
  // touched in fresh mappings) would come from the heap the next time the
  // output opens, 4.4 MiB of them resident: more while playing after every
  // rest than after start-up.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  // One copy per data directory: a later one shows the running window and
  // ends before it has read anything. (No data directory: the window says so.)
  std::unique_ptr<pendlo::app::SingleInstance> instance;
  try {
    bool asked = false;
    instance = pendlo::app::SingleInstance::Claim(pendlo::ExeDir(), &asked);
    if (asked) return 0;
  } catch (const std::exception&) {
  }
  // The text code tables are built beside the toolkit's start-up, not after
  // it: the saved text and the memo need them before the window can show.
  std::jthread codec(pendlo::PrepareTextCodec);
  pendlo::app::PreparePlatform();
  pendlo::app::PendloApplication app(argc, argv);
  pendlo::app::InstallQtJapanese(app);
  pendlo::app::WarnWithoutFonts();
  // Asked to end while the toolkit started: nothing has been read yet.
  if (pendlo::app::TerminationRequests() > 0) {
    app.AnswerTermination();
    return 0;
  }
  const QString title = pendlo::ui::ApplicationTitle(QCoreApplication::applicationFilePath());
  pendlo::ui::SetApplicationTitle(title);
  QCoreApplication::setApplicationName(title);
  // The desktop entry's name: Wayland's app id, and what docks match the
  // window to its entry by.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pendlo.Pendlo"));
  pendlo::ui::ApplyLook(app);
  QApplication::setWindowIcon(pendlo::ui::PendloIcon());

  // The save on a signal is wired before the window is built: start-up may
  // show an error box (no sound device, a broken file), and a log-off then
  // must still save.
  pendlo::ui::TMetronome* window = nullptr;
  app.SetSaveBeforeExit(
      [&window] { return window != nullptr ? window->SaveBeforeExit() : std::string(); });
  pendlo::ui::MetronomeOptions options;
  options.transport = std::make_unique<pendlo::Transport>(pendlo::sound::link::SystemSoundLink());
  options.onBuilt = [&window](pendlo::ui::TMetronome& built) { window = &built; };
  options.stopRequested = [] { return pendlo::app::TerminationRequests() > 0; };
  pendlo::ui::TMetronome metronome(std::move(options));
  // A request during start-up stopped it between steps: what was read is
  // saved, and the program ends.
  app.AnswerTermination();
  if (app.ExitRequested()) return 0;
  metronome.show();
  if (instance) {
    instance->OnRaiseRequest(&metronome, [&metronome] {
      metronome.showNormal();
      metronome.raise();
      metronome.activateWindow();
    });
  }
  return app.exec();
}
