// TMetronome: the main window. Built from the fixed description of
// window_description.h (window_builder.h), it owns the controls and the file
// dialogs, turns the controls' events into calls on the transport and the
// files, and lights the bars the transport hands it. It is not on the tick's
// path. Start-up, the close and its save, the keys, the position and the
// errors are each the job of a class or steps of their own.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "files/session.h"
#include "transport/transport.h"
#include "ui/desktop/window_position.h"
#include "ui/window/window_builder.h"

namespace pendlo::ui {

class AccessKeys;
class FileDialogs;
class FlashScheduler;
class GuiHandoff;
class TformHelp;
class WindowErrors;
struct CloseSources;

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

// The controls, named as designed, are members (MetronomeControls).
class TMetronome : public QWidget, public MetronomeControls {
 public:
  // Builds the window from its description and runs FormCreate; errors of
  // FormCreate are shown, once per message. Once the event loop runs, the
  // sound output is opened and the hidden help window created.
  explicit TMetronome(MetronomeOptions options = {});
  ~TMetronome() override;

  FileDialogs* dlgFiles = nullptr;  // dlgOpen and dlgSave
  TformHelp* formHelp = nullptr;    // created just after start-up, or by HelpWindow()

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

  // For the remote controls (media keys, the desktop's media controls,
  // scripts), which move the controls themselves so that their handlers
  // run: Stop's click when the beat runs, Start's otherwise.
  void ToggleBeat();
  // Called on the GUI thread after each handler of a control has run, and
  // after each change of the meter's index: tempo, meter or running may
  // have changed, whichever side moved the control.
  void SetOnStateChange(std::function<void()> changed) { onStateChange_ = std::move(changed); }

 protected:
  // FormClose; when the save failed, the user chooses (CloseAndSave) whether
  // the window closes or stays open.
  void closeEvent(QCloseEvent* event) override;
  // Enter and the access keys (AccessKeys).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void scrBarTempoChange();
  void rgHyoushiClick();
  void btnOFFClick();
  // btnSaveClick's dialog and write: false when the dialog was cancelled;
  // throws when the write failed.
  bool SaveTextAs();
  // The help window, created hidden if it is not there yet.
  TformHelp* HelpWindow();
  // Tempo -> Tempo, readout, BaseInterval, timer interval.
  void ChangeTempo();
  // Meter and the memo's display lines -> beat pattern.
  void ManageHyoushi();
  // Whether the beat runs, for a screen reader (the window's, Start's and
  // Stop's accessible description).
  void SayRunning();

  // The handler the description names, run with what it throws shown.
  void Run(Handler handler);
  using Method = void (TMetronome::*)();
  static Method HandlerFor(Handler handler);
  // The transport's bars, take-backs, tick errors and lost output, to the
  // GUI thread.
  void ListenToTransport();
  // What FormClose stops and saves.
  CloseSources ClosingParts();

  MetronomeOptions options_;
  std::unique_ptr<Transport> transport_;
  FlashScheduler* flashes_ = nullptr;
  GuiHandoff* handoff_ = nullptr;     // the timer thread's way to the window
  std::unique_ptr<Session> session_;  // once the data directory is known
  std::unique_ptr<WindowErrors> errors_;
  std::unique_ptr<AccessKeys> keys_;
  WindowPosition position_;
  std::function<void()> onStateChange_;
};

}  // namespace pendlo::ui
