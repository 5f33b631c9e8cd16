#include "ui/window/metronome.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <exception>

#include "files/formats/definition_text.h"
#include "files/store/errors.h"
#include "ui/desktop/x11_window_state.h"
#include "ui/dialogs/file_dialogs.h"
#include "ui/dialogs/help_window.h"
#include "ui/dialogs/window_errors.h"
#include "ui/threads/flash_scheduler.h"
#include "ui/threads/gui_handoff.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/access_keys.h"
#include "ui/window/accessibility.h"
#include "ui/window/close_steps.h"
#include "ui/window/startup_steps.h"

namespace pendlo::ui {

namespace {

std::string Utf8(const QString& text) {
  return text.toStdString();
}

}  // namespace

TMetronome::TMetronome(MetronomeOptions options)
    : QWidget(nullptr),
      options_(std::move(options)),
      position_(*this, QPoint(kMetronomeWindow.left, kMetronomeWindow.top)) {
  transport_ = options_.transport ? std::move(options_.transport) : std::make_unique<Transport>();
  setObjectName(QStringLiteral("Metronome"));
  InstallAccessibleControls();
  static_cast<MetronomeControls&>(*this) =
      BuildControls(*this, {[this] { errors_->Show(EMemoLimitError().what()); },
                            [this](const QString& characters) {
                              errors_->Show(UnstorableMessage(characters.toStdString()));
                            },
                            [this](Handler handler) { Run(handler); }});
  NameLabelledControls(*this);
  SayRunning();
  // The meter selection follows every change of the index, also one that
  // runs no handler.
  connect(rgHyoushi, &MeterRadioGroup::indexChanged, this, [this](int index) {
    transport_->SetMeterSelection(index);
    if (onStateChange_) onStateChange_();
  });
  keys_ =
      std::make_unique<AccessKeys>(*this, AccessKeys::Buttons{btnStart, btnStop, btnHelp, btnOFF},
                                   memList, [this] { ToggleBeat(); });
  dlgFiles = new FileDialogs(this);
  flashes_ = new FlashScheduler(Shape1, Shape2, this);
  handoff_ = new GuiHandoff(this);
  errors_ = std::make_unique<WindowErrors>(*this, *handoff_);
  ListenToTransport();
  // Out of its frame while minimised (its window manager died, and the X
  // server mapped it): shown for the toolkit too, so it paints, and help
  // comes back with it.
  new FrameLossWatch(this, [this] {
    if (isMinimized()) showNormal();
  });
  if (options_.onBuilt) options_.onBuilt(*this);
  FormCreate({*this, *this, *transport_, position_, *errors_, session_}, options_.dataDir,
             options_.stopRequested, [this] { ChangeTempo(); });
  // Runs once the event loop has the window up: what follows is not needed
  // for the first look, and the window maps 15–20 ms sooner without it.
  QTimer::singleShot(0, this, [this] {
    FinishStartup(*transport_, *errors_);
    HelpWindow();
  });
}

TMetronome::~TMetronome() {
  // The focus moves while the controls go; nothing of this class may run then.
  keys_.reset();
  // No tick may run while the window goes away: its flashes are the window's.
  transport_.reset();
}

void TMetronome::ListenToTransport() {
  // Timer thread: the bar and when its click is heard go to the GUI thread
  // as a posted call; nothing here touches a widget.
  transport_->SetBarListener([flashes = flashes_, handoff = handoff_](int bar, Micros heardAt) {
    handoff->Post([flashes, bar, heardAt] { flashes->Schedule(bar, heardAt); });
  });
  // A change's thread: the flashes of clicks taken back go, after every
  // flash posted before them and before any decided since.
  transport_->SetTakeBackListener([flashes = flashes_, handoff = handoff_](Micros heardFrom) {
    handoff->Post([flashes, heardFrom] { flashes->Drop(heardFrom); });
  });
  transport_->SetErrorListener(
      [errors = errors_.get()](const std::string& message) { errors->ShowFromTick(message); });
  // A sound output lost while playing is said once, over the window and
  // without blocking it, until the output comes back by itself.
  sound::link::SoundLink& sound = transport_->Sound();
  sound.SetOnFailure([this, &sound] {
    handoff_->Post([this, &sound] {
      try {
        sound.ReportFailure();
      } catch (const std::exception& e) {
        errors_->ShowLasting(e.what());
      }
    });
  });
  sound.SetOnRecovered([this] { handoff_->Post([this] { errors_->CloseLasting(); }); });
}

TformHelp* TMetronome::HelpWindow() {
  if (formHelp == nullptr) formHelp = new TformHelp(this);
  return formHelp;
}

// --- Handlers -----------------------------------------------------------------

// The handler the description names for a control.
TMetronome::Method TMetronome::HandlerFor(Handler handler) {
  switch (handler) {
    case Handler::scrBarTempoChange:
      return &TMetronome::scrBarTempoChange;
    case Handler::rgHyoushiClick:
      return &TMetronome::rgHyoushiClick;
    case Handler::btnStartClick:
      return &TMetronome::btnStartClick;
    case Handler::btnStopClick:
      return &TMetronome::btnStopClick;
    case Handler::btnOFFClick:
      return &TMetronome::btnOFFClick;
    case Handler::btnOpenClick:
      return &TMetronome::btnOpenClick;
    case Handler::btnSaveClick:
      return &TMetronome::btnSaveClick;
    case Handler::btnHelpClick:
      return &TMetronome::btnHelpClick;
    case Handler::None:
      break;
  }
  return nullptr;
}

void TMetronome::Run(Handler handler) {
  const Method method = HandlerFor(handler);
  if (method == nullptr) return;
  errors_->Guarded([this, method] { (this->*method)(); });
  if (onStateChange_) onStateChange_();
}

void TMetronome::ToggleBeat() {
  (transport_->Running() ? btnStop : btnStart)->click();
}

void TMetronome::ChangeTempo() {
  transport_->ChangeTempo(scrBarTempo->Position());
  lblTempo->setText(QString::number(scrBarTempo->Position()));
}

void TMetronome::ManageHyoushi() {
  // Only irregular meters and tuplets read the text: a simple meter never
  // asks the memo for its lines.
  static const std::vector<std::string> kNoLines;
  const int meter = rgHyoushi->ItemIndex();
  const bool readsText = meter == kMeterIrregular || meter == kMeterTuplets;
  transport_->ManageHyoushi(readsText ? memList->DisplayLines() : kNoLines);
}

void TMetronome::scrBarTempoChange() {
  const Transport::Change change(*transport_);
  ChangeTempo();
  ManageHyoushi();
}

void TMetronome::rgHyoushiClick() {
  const Transport::Change change(*transport_);
  ChangeTempo();
  ManageHyoushi();
  transport_->ResetPosition();
}

void TMetronome::SayRunning() {
  ui::SayRunning({this, btnStart, btnStop}, transport_->Running());
}

void TMetronome::btnStartClick() {
  // Said also when Start throws after the beat began (no sound output).
  const auto said = qScopeGuard([this] { SayRunning(); });
  const Transport::Change change(*transport_);
  ManageHyoushi();
  transport_->Start();
}

void TMetronome::btnStopClick() {
  transport_->Stop();
  SayRunning();
}

void TMetronome::btnOFFClick() {
  transport_->Stop();
  SayRunning();  // the window may stay, when its save failed
  close();
}

void TMetronome::btnOpenClick() {
  const std::optional<QString> name = dlgFiles->ExecOpen();
  if (!name) return;
  memList->SetTextUtf8(LoadDefinitionText(Utf8(*name)));
  // The user's own change of the text: "dtp.sav" takes it at close.
  memList->document()->setModified(true);
}

void TMetronome::btnSaveClick() {
  SaveTextAs();
}

bool TMetronome::SaveTextAs() {
  const std::optional<QString> chosen = dlgFiles->ExecSave();
  if (!chosen) return false;
  const std::string name = ForceDtpExtension(Utf8(*chosen));
  dlgFiles->SetSaveName(QString::fromStdString(name));
  SaveDefinitionText(name, memList->TextUtf8());
  return true;
}

void TMetronome::btnHelpClick() {
  HelpWindow()->ShowHelp();
}

void TMetronome::keyPressEvent(QKeyEvent* event) {
  if (!keys_->Press(*event)) QWidget::keyPressEvent(event);
}

// --- Close ---------------------------------------------------------------------

CloseSources TMetronome::ClosingParts() {
  return {*this, position_, *transport_, *flashes_, session_.get()};
}

std::string TMetronome::SaveBeforeExit() {
  return pendlo::ui::SaveBeforeExit(ClosingParts());
}

void TMetronome::closeEvent(QCloseEvent* event) {
  const bool closes = CloseAndSave(ClosingParts(), *errors_, [this] { return SaveTextAs(); });
  if (closes) errors_->CloseLasting();  // it would keep the program running
  SayRunning();                         // the close stopped the beat
  event->setAccepted(closes);
}

}  // namespace pendlo::ui
