#include "ui/window/startup_steps.h"

#include <QCoreApplication>
#include <QWidget>
#include <stdexcept>

#include "files/store/data_dir.h"
#include "ui/desktop/window_position.h"
#include "ui/dialogs/window_errors.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/look.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/close_steps.h"
#include "ui/window/controls.h"
#include "ui/window/window_builder.h"

namespace pendlo::ui {

namespace {

// Added to the data directory's error when there is none to use.
constexpr const char* kNothingIsSaved =
    QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "設定と変拍子・連符の定義は保存されません");

void ShowWindowFrame(const StartupTargets& to) {
  to.errors.Guarded([&to] {
    to.window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowCloseButtonHint);
  });
  to.errors.Guarded([&to] {
    to.controls.Shape1->SetFill(QColor(kBlack));
    to.controls.Shape2->SetFill(QColor(kBlack));
  });
}

// The data directory; null, said once, when there is none: the data files
// are then neither read nor written anywhere else (the working directory is
// nobody's place for them).
std::unique_ptr<Session> OpenSession(const StartupTargets& to, const std::string& dataDir) {
  std::string dir;
  try {
    dir = dataDir.empty() ? pendlo::ExeDir() : dataDir;
  } catch (const std::exception& e) {
    to.errors.Show(
        std::string(e.what()) + "\n" +
        QCoreApplication::translate("pendlo::ui::TMetronome", kNothingIsSaved).toStdString());
    return nullptr;
  }
  auto session = std::make_unique<Session>(dir);
  to.transport.SetClickFiles(DataFile(dir, kAccentWaveFile), DataFile(dir, kPlainWaveFile));
  return session;
}

// Through the controls, so a changed value runs the same handlers as a
// user's change.
void RestoreSettings(const StartupTargets& to, Session& session) {
  const MetronomeControls& c = to.controls;
  to.errors.Guarded([&] {
    session.LoadSettings({[&c](int tempo) { c.scrBarTempo->SetPosition(tempo); },
                          [&c](int meter) { c.rgHyoushi->SetItemIndex(meter); },
                          [&to](int left, int top) {
                            to.position.Restore({left, top});
                          }});
  });
}

void RestoreText(const StartupTargets& to, Session& session) {
  DefinitionMemo* memo = to.controls.memList;
  to.errors.Guarded([&] {
    session.LoadSavedText([memo](const std::string& text) {
      memo->SetTextUtf8(text);
      memo->document()->setModified(false);
      return memo->TextUtf8();
    });
  });
}

// The steps in order, each even when an earlier one failed.
void RunStartupSteps(const StartupTargets& to, const std::string& dataDir,
                     const std::function<bool()>& stopRequested) {
  const auto stopping = [&stopRequested] { return stopRequested && stopRequested(); };
  ShowWindowFrame(to);
  if (stopping()) return;
  to.session = OpenSession(to, dataDir);
  if (!to.session || stopping()) return;
  Session& session = *to.session;
  to.errors.Guarded([&session] { session.Prepare(); });
  if (stopping()) return;
  RestoreSettings(to, session);
  if (stopping()) return;
  RestoreText(to, session);
}

}  // namespace

void FormCreate(const StartupTargets& targets, const std::string& dataDir,
                const std::function<bool()>& stopRequested,
                const std::function<void()>& changeTempo) {
  targets.errors.StartupBegins();
  RunStartupSteps(targets, dataDir, stopRequested);
  // Always, so the readout, the timer's interval and the scroll bar agree.
  targets.errors.Guarded(changeTempo);
  // What the files hold now shows; only a change of it is saved at close.
  if (targets.session) {
    targets.session->SettingsShown(CurrentSettings(targets.controls, targets.position));
  }
  targets.errors.StartupEnds();
}

void FinishStartup(Transport& transport, WindowErrors& errors) {
  errors.Guarded([&transport] { transport.Sound().EnsureOpen(); });
  transport.PrepareClicks();
}

}  // namespace pendlo::ui
