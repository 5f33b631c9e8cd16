// TMetronome: the main window. Built from the fixed description of
// window_description.h, it owns the controls and the file dialogs, turns the
// controls' events into calls on the transport and the files, and lights the
// bars the transport hands it. It is not on the tick's path.
#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "files/session.h"
#include "transport/transport.h"
#include "ui/window/window_description.h"

class QPushButton;
class QLabel;

namespace pendlo::ui {

class BevelPanel;
class DefinitionMemo;
class FileDialogs;
class FlashScheduler;
class GroupFrame;
class IndicatorBar;
class MeterRadioGroup;
class TempoScrollBar;
class TformHelp;
class GuiHandoff;

class TMetronome;

struct MetronomeOptions {
  // Where the data files live; empty for the program's own (ExeDir()).
  std::string dataDir;
  // The beat; null for a silent one.
  std::unique_ptr<Transport> transport;
  // Called once the controls exist, before FormCreate: a signal may ask for
  // the save while a start-up error box is still open.
  std::function<void(TMetronome&)> onBuilt;
  // Asked between the steps of FormCreate: true stops start-up there (the
  // program is asked to end), so that only what was read is saved.
  std::function<bool()> stopRequested;
};

class TMetronome : public QWidget {
 public:
  // Builds the window from its description and runs FormCreate; errors of
  // FormCreate are shown, once per message. Once the event loop runs, the
  // sound output is opened and the hidden help window created.
  explicit TMetronome(MetronomeOptions options = {});
  ~TMetronome() override;

  // The controls, named as designed.
  FileDialogs* dlgFiles = nullptr;  // dlgOpen and dlgSave
  QPushButton* btnOFF = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btnStop = nullptr;
  BevelPanel* Panel2 = nullptr;
  IndicatorBar* Shape1 = nullptr;
  BevelPanel* Panel1 = nullptr;
  IndicatorBar* Shape2 = nullptr;
  GroupFrame* GroupBox1 = nullptr;
  TempoScrollBar* scrBarTempo = nullptr;
  BevelPanel* Panel3 = nullptr;
  QLabel* lblTempo = nullptr;
  GroupFrame* GroupBox2 = nullptr;
  QPushButton* btnOpen = nullptr;
  QPushButton* btnSave = nullptr;
  DefinitionMemo* memList = nullptr;
  MeterRadioGroup* rgHyoushi = nullptr;
  QPushButton* btnHelp = nullptr;
  TformHelp* formHelp = nullptr;  // created just after start-up, or by HelpWindow()

  // The handlers the tests press directly, each as the matching control
  // event runs it. They throw; the control events catch and show the error.
  void btnStartClick();
  void btnStopClick();
  void btnOpenClick();
  void btnSaveClick();
  void btnHelpClick();

  // The save at a signal, an ending session or a lost display (see
  // FormClose): never throws; returns the error's message, or on success
  // where a file was kept beside "dtp.sav"; empty otherwise.
  std::string SaveBeforeExit();

  Transport& Beat() { return *transport_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void scrBarTempoChange();
  void rgHyoushiClick();
  void btnOFFClick();
  // The help window, created hidden if it is not there yet.
  TformHelp* HelpWindow();
  // Tempo -> Tempo, readout, BaseInterval, timer interval.
  void ChangeTempo();
  // Meter and the memo's display lines -> beat pattern.
  void ManageHyoushi();
  // Timer off, then the settings and the memo's text saved as
  // Session::Save does: each only if start-up read it and it changed; a
  // "dtp.sav" that did not load exactly or changed on disk meanwhile is kept
  // beside before the edited text replaces it. Returns what was kept where
  // ("" for nothing). Throws one error naming each file that failed, one per
  // line; the window then stays open and the next close tries again.
  std::string FormClose();
  // Tempo, meter and window position as "init.sav" holds them.
  Settings CurrentSettings() const;

  // The stored position: applied, or moved within reach of a screen when
  // its title bar would lie outside every screen; kept as it is where the
  // platform places windows itself.
  void RestorePosition(QPoint stored);
  // The position written at close: where the window is, or the stored one
  // where the platform tells no position.
  QPoint PositionToSave() const;

  void BuildControls();
  using Method = void (TMetronome::*)();
  static Method HandlerFor(Handler handler);
  void WireHandlers(const std::array<QWidget*, kMetronomeControls.size()>& built);
  void FormCreate();
  void RunStartupSteps();
  void FinishStartup();
  // Runs a handler or start-up step, showing what it throws.
  template <typename F>
  void Guarded(F&& f);
  void ReportError(const std::string& message);
  void ReportTickError(const std::string& message);
  void UpdateDefaultButton(QWidget* focus);

  MetronomeOptions options_;
  std::unique_ptr<Transport> transport_;
  FlashScheduler* flashes_ = nullptr;
  GuiHandoff* handoff_ = nullptr;     // the timer thread's way to the window
  std::unique_ptr<Session> session_;  // once the data directory is known
  bool creating_ = false;
  std::set<std::string> shownWhileCreating_;
  std::atomic<bool> tickErrorPending_{false};
  QMetaObject::Connection focusWatch_;
  QPoint storedPosition_{kMetronomeWindow.left, kMetronomeWindow.top};
};

}  // namespace pendlo::ui
