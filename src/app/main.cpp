// Pendlo: a desktop metronome. Creates the main window (which restores the
// last session's settings and creates the hidden help window) and runs the
// event loop until the window closes.
#include "app/pendlo_application.h"
#include "app/sound_setup.h"
#include "ui/error_box.h"
#include "ui/icon.h"
#include "ui/look.h"
#include "ui/metronome.h"

int main(int argc, char** argv) {
  pendlo::app::PreparePlatform();
  pendlo::app::PendloApplication app(argc, argv);
  const QString title = pendlo::ui::ApplicationTitle(QCoreApplication::applicationFilePath());
  pendlo::ui::SetApplicationTitle(title);
  QCoreApplication::setApplicationName(title);
  pendlo::ui::ApplyLook(app);
  QApplication::setWindowIcon(pendlo::ui::PendloIcon());

  pendlo::ui::MetronomeOptions options;
  options.sound = pendlo::app::SystemSoundLink();
  pendlo::ui::TMetronome metronome(std::move(options));
  app.SetSaveBeforeExit([&metronome] { return metronome.SaveBeforeExit(); });
  if (app.ExitRequested()) return 0;
  metronome.show();
  return app.exec();
}
