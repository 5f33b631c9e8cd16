#include "ui/window/metronome.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <array>
#include <stdexcept>
#include <type_traits>

#include "files/formats/definition_text.h"
#include "files/formats/text_codec.h"
#include "files/session.h"
#include "files/store/data_dir.h"
#include "files/store/errors.h"
#include "ui/desktop/window_placement.h"
#include "ui/dialogs/error_box.h"
#include "ui/dialogs/file_dialogs.h"
#include "ui/dialogs/help_window.h"
#include "ui/threads/flash_scheduler.h"
#include "ui/threads/gui_handoff.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/look.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"

namespace pendlo::ui {

namespace {

// Added to the data directory's error when there is none to use.
constexpr const char* kNothingIsSaved = "設定と変拍子・連符の定義は保存されません";

QString Qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Utf8(const QString& text) {
  return text.toStdString();
}

// The class each kind of control is built as.
template <typename T>
constexpr bool BuiltAs(Kind kind) {
  if constexpr (std::is_same_v<T, BevelPanel>) {
    return kind == Kind::LoweredPanel || kind == Kind::RaisedPanel;
  } else if constexpr (std::is_same_v<T, IndicatorBar>) {
    return kind == Kind::Shape;
  } else if constexpr (std::is_same_v<T, GroupFrame>) {
    return kind == Kind::GroupBox;
  } else if constexpr (std::is_same_v<T, TempoScrollBar>) {
    return kind == Kind::ScrollBar;
  } else if constexpr (std::is_same_v<T, QLabel>) {
    return kind == Kind::Label;
  } else if constexpr (std::is_same_v<T, MeterRadioGroup>) {
    return kind == Kind::RadioGroup;
  } else if constexpr (std::is_same_v<T, DefinitionMemo>) {
    return kind == Kind::Memo;
  } else {
    return std::is_same_v<T, QPushButton> && kind == Kind::Button;
  }
}

using BuiltControls = std::array<QWidget*, kMetronomeControls.size()>;

// Keeps the control of `row` in a member of its own class; a row built as
// another class does not compile.
template <std::size_t row, typename T>
void Keep(const BuiltControls& built, T*& member) {
  static_assert(BuiltAs<T>(kMetronomeControls[row].kind), "the row is built as another class");
  member = static_cast<T*>(built[row]);
}

}  // namespace

TMetronome::TMetronome(MetronomeOptions options) : QWidget(nullptr), options_(std::move(options)) {
  transport_ = options_.transport ? std::move(options_.transport) : std::make_unique<Transport>();
  setObjectName(QStringLiteral("Metronome"));
  BuildControls();
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
  transport_->SetErrorListener([this](const std::string& message) { ReportTickError(message); });
  // A sound output lost while playing is said once, over the window; the
  // output comes back by itself.
  sound::link::SoundLink& sound = transport_->Sound();
  sound.SetOnFailure([this, &sound] {
    handoff_->Post([this, &sound] { Guarded([&sound] { sound.ReportFailure(); }); });
  });
  if (options_.onBuilt) options_.onBuilt(*this);
  FormCreate();
  // Runs once the event loop has the window up: what follows is not needed
  // for the first look, and the window maps 15–20 ms sooner without it.
  QTimer::singleShot(0, this, [this] { FinishStartup(); });
}

void TMetronome::FinishStartup() {
  // The sound output is opened once here and kept open; a failure is shown
  // once (over the window) and the beat then runs silently.
  Guarded([this] { transport_->Sound().EnsureOpen(); });
  transport_->PrepareClicks();
  HelpWindow();
}

TformHelp* TMetronome::HelpWindow() {
  if (formHelp == nullptr) formHelp = new TformHelp(this);
  return formHelp;
}

TMetronome::~TMetronome() {
  // The focus moves while the controls go; nothing of this class may run then.
  disconnect(focusWatch_);
  // No tick may run while the window goes away: its flashes are the window's.
  transport_.reset();
}

void TMetronome::BuildControls() {
  const WindowDesign& design = kMetronomeWindow;
  setWindowTitle(Qs(design.caption));
  setFont(DesignFont(design.font));
  setFixedSize(design.clientWidth, design.clientHeight);
  setAutoFillBackground(true);
  move(design.left, design.top);

  std::array<QWidget*, kMetronomeControls.size()> built{};
  for (std::size_t row = 0; row < kMetronomeControls.size(); ++row) {
    const ControlDesign& c = kMetronomeControls[row];
    QWidget* parent = kParentRows[row] == kNoRow ? this : built[kParentRows[row]];
    QWidget* w = nullptr;
    switch (c.kind) {
      case Kind::LoweredPanel:
      case Kind::RaisedPanel:
        w = new BevelPanel(c.kind == Kind::RaisedPanel, parent);
        break;
      case Kind::Shape:
        w = new IndicatorBar(parent);
        break;
      case Kind::GroupBox:
        w = new GroupFrame(Qs(c.text), parent);
        break;
      case Kind::ScrollBar:
        w = new TempoScrollBar(parent);
        break;
      case Kind::Label: {
        auto* label = new QLabel(Qs(c.text), parent);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setAutoFillBackground(true);
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, QColor(kAqua));
        label->setPalette(pal);
        w = label;
        break;
      }
      case Kind::RadioGroup:
        w = new MeterRadioGroup(Qs(c.text), parent);
        break;
      case Kind::Memo: {
        auto* memo = new DefinitionMemo(
            parent, [](const std::string& text) { return ToCp932Representable(text); });
        // Nothing may grow the text past what "dtp.sav" can hold and be read
        // back from.
        memo->SetLimit(kMemoLimitBytes, [this] { ReportError(EMemoLimitError().what()); });
        w = memo;
        break;
      }
      case Kind::Button: {
        auto* button = new QPushButton(Qs(c.text), parent);
        button->setAutoDefault(true);  // Enter presses a focused button
        button->setFocusPolicy(Qt::StrongFocus);
        w = button;
        break;
      }
    }
    w->setObjectName(Qs(c.name));
    if (c.font) w->setFont(DesignFont(*c.font));
    w->setGeometry(c.left, c.top, c.width, c.height);
    built[row] = w;
  }

  Keep<Row("Panel2")>(built, Panel2);
  Keep<Row("Shape1")>(built, Shape1);
  Keep<Row("Panel1")>(built, Panel1);
  Keep<Row("Shape2")>(built, Shape2);
  Keep<Row("GroupBox1")>(built, GroupBox1);
  Keep<Row("scrBarTempo")>(built, scrBarTempo);
  Keep<Row("Panel3")>(built, Panel3);
  Keep<Row("lblTempo")>(built, lblTempo);
  Keep<Row("rgHyoushi")>(built, rgHyoushi);
  Keep<Row("GroupBox2")>(built, GroupBox2);
  Keep<Row("memList")>(built, memList);
  Keep<Row("btnOpen")>(built, btnOpen);
  Keep<Row("btnSave")>(built, btnSave);
  Keep<Row("btnStart")>(built, btnStart);
  Keep<Row("btnStop")>(built, btnStop);
  Keep<Row("btnHelp")>(built, btnHelp);
  Keep<Row("btnOFF")>(built, btnOFF);

  rgHyoushi->SetItemIndex(kMeterDefault);
  QPushButton* defaultButton = nullptr;
  Keep<Row(kDefaultButton)>(built, defaultButton);
  defaultButton->setDefault(true);

  // Tab order: the description's chain; the radio group stands for all its
  // items, of which only the selected one is a tab stop.
  QWidget* previous = nullptr;
  for (std::size_t row : TabChain()) {
    std::vector<QWidget*> stops;
    if (built[row] == rgHyoushi) {
      for (int i = 0; i < rgHyoushi->Count(); ++i) stops.push_back(rgHyoushi->Item(i));
    } else {
      stops.push_back(built[row]);
    }
    for (QWidget* w : stops) {
      if (previous != nullptr) setTabOrder(previous, w);
      previous = w;
    }
  }
  scrBarTempo->setFocus(Qt::OtherFocusReason);
  WireHandlers(built);

  dlgFiles = new FileDialogs(this);
  flashes_ = new FlashScheduler(Shape1, Shape2, this);
  handoff_ = new GuiHandoff(this);
}

template <typename F>
void TMetronome::Guarded(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    ReportError(e.what());
  }
}

void TMetronome::ReportError(const std::string& message) {
  if (creating_ && !shownWhileCreating_.insert(message).second) return;
  ShowErrorBox(QString::fromStdString(message), isVisible() ? this : nullptr);
}

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

void TMetronome::WireHandlers(const std::array<QWidget*, kMetronomeControls.size()>& built) {
  // The meter selection follows every change of the index, also one that
  // runs no handler.
  connect(rgHyoushi, &MeterRadioGroup::indexChanged, this,
          [this](int index) { transport_->SetMeterSelection(index); });
  // Each control's handler as the description names it, on the event its
  // kind raises: a change of the scroll bar, a choice in the radio group, a
  // button's click.
  for (std::size_t row = 0; row < kMetronomeControls.size(); ++row) {
    const ControlDesign& c = kMetronomeControls[row];
    const auto handler = HandlerFor(c.handler);
    if (handler == nullptr) continue;
    const auto run = [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    QWidget* w = built[row];  // made for this row's kind by BuildControls
    switch (c.kind) {
      case Kind::ScrollBar:
        connect(static_cast<TempoScrollBar*>(w), &QScrollBar::valueChanged, this, run);
        break;
      case Kind::RadioGroup:
        connect(static_cast<MeterRadioGroup*>(w), &MeterRadioGroup::itemChosen, this, run);
        break;
      case Kind::Button:
        connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, run);
        break;
      default:
        throw std::logic_error("a handler on a control that raises no event");
    }
  }
  focusWatch_ = connect(qApp, &QApplication::focusChanged, this,
                        [this](QWidget*, QWidget* now) { UpdateDefaultButton(now); });
}

void TMetronome::UpdateDefaultButton(QWidget* focus) {
  // Like a dialog: a focused push button is the one Enter presses and is
  // drawn as the default; elsewhere it is btnStart again.
  if (focus == nullptr || focus->window() != this) return;
  auto* button = qobject_cast<QPushButton*>(focus);
  btnStart->setDefault(button == nullptr || button == btnStart);
}

// --- Start-up ---------------------------------------------------------------

void TMetronome::FormCreate() {
  creating_ = true;
  shownWhileCreating_.clear();
  RunStartupSteps();
  // Always, so the readout, the timer's interval and the scroll bar agree.
  Guarded([this] { ChangeTempo(); });
  // What the files hold now shows; only a change of it is saved at close.
  if (session_) session_->SettingsShown(CurrentSettings());
  creating_ = false;
}

void TMetronome::RunStartupSteps() {
  const auto stopping = [this] { return options_.stopRequested && options_.stopRequested(); };
  // Each step runs even when an earlier one failed.
  Guarded([this] {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
  });
  Guarded([this] {
    Shape1->SetFill(QColor(kBlack));
    Shape2->SetFill(QColor(kBlack));
  });
  if (stopping()) return;
  std::string dir;
  try {
    dir = options_.dataDir.empty() ? pendlo::ExeDir() : options_.dataDir;
  } catch (const std::exception& e) {
    // Said once; the data files are then neither read nor written anywhere
    // else (the working directory is nobody's place for them).
    ReportError(std::string(e.what()) + "\n" + kNothingIsSaved);
    return;
  }
  session_ = std::make_unique<Session>(dir);
  transport_->SetClickFiles(DataFile(dir, kAccentWaveFile), DataFile(dir, kPlainWaveFile));
  if (stopping()) return;
  Guarded([this] { session_->Prepare(); });
  if (stopping()) return;
  // Through the controls, so a changed value runs the same handlers as a
  // user's change.
  Guarded([this] {
    session_->LoadSettings({[this](int tempo) { scrBarTempo->SetPosition(tempo); },
                            [this](int meter) { rgHyoushi->SetItemIndex(meter); },
                            [this](int left, int top) {
                              RestorePosition({left, top});
                            }});
  });
  if (stopping()) return;
  Guarded([this] {
    session_->LoadSavedText([this](const std::string& text) {
      memList->SetTextUtf8(text);
      memList->document()->setModified(false);
      return memList->TextUtf8();
    });
  });
}

void TMetronome::RestorePosition(QPoint stored) {
  storedPosition_ = stored;
  if (!PlatformPlacesWindows()) return;
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens << screen->availableGeometry();
  move(ReachablePosition(stored, size() + QSize(0, kTitleBarEstimate), kTitleBarEstimate, screens));
}

QPoint TMetronome::PositionToSave() const {
  return PlatformPlacesWindows() ? pos() : storedPosition_;
}

// --- Handlers -----------------------------------------------------------------

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

void TMetronome::btnStartClick() {
  const Transport::Change change(*transport_);
  ManageHyoushi();
  transport_->Start();
}

void TMetronome::btnStopClick() {
  transport_->Stop();
}

void TMetronome::btnOFFClick() {
  transport_->Stop();
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
  const std::optional<QString> chosen = dlgFiles->ExecSave();
  if (!chosen) return;
  const std::string name = ForceDtpExtension(Utf8(*chosen));
  dlgFiles->SetSaveName(QString::fromStdString(name));
  SaveDefinitionText(name, memList->TextUtf8());
}

void TMetronome::btnHelpClick() {
  HelpWindow()->ShowHelp();
}

// --- The tick ---------------------------------------------------------------------

void TMetronome::ReportTickError(const std::string& message) {
  // Timer thread. Shown on the GUI thread; one box at a time however many
  // ticks fail.
  if (tickErrorPending_.exchange(true)) return;
  handoff_->Post([this, message] {
    ReportError(message);
    tickErrorPending_ = false;
  });
}

// --- Keys ---------------------------------------------------------------------------

void TMetronome::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  QWidget* focus = focusWidget();
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
    // The default button: what reaches here came from a control that does
    // not use Enter itself (push buttons and the memo do).
    btnStart->click();
    return;
  }
  if ((mods & ~Qt::ShiftModifier) == Qt::NoModifier && focus != memList) {
    // Access keys work without Alt wherever typed text is not taken.
    QPushButton* target = nullptr;
    switch (event->key()) {
      case Qt::Key_S:
        target = btnStart;
        break;
      case Qt::Key_P:
        target = btnStop;
        break;
      case Qt::Key_H:
        target = btnHelp;
        break;
      case Qt::Key_X:
        target = btnOFF;
        break;
      default:
        break;
    }
    if (target != nullptr) {
      target->click();
      return;
    }
  }
  QWidget::keyPressEvent(event);
}

// --- Shutdown -------------------------------------------------------------------------

Settings TMetronome::CurrentSettings() const {
  const QPoint at = PositionToSave();
  return Settings{scrBarTempo->Position(), rgHyoushi->ItemIndex(), at.x(), at.y()};
}

std::string TMetronome::FormClose() {
  transport_->Stop();
  flashes_->Clear();
  if (!session_) return {};  // no data directory, as start-up said
  const std::string kept =
      session_->Save(CurrentSettings(), memList->TextUtf8(), memList->document()->isModified());
  // Saved: on disk now, not to be written again by a later close.
  memList->document()->setModified(false);
  return kept;
}

std::string TMetronome::SaveBeforeExit() {
  try {
    return FormClose();
  } catch (const std::exception& e) {
    return e.what();
  }
}

void TMetronome::closeEvent(QCloseEvent* event) {
  try {
    const std::string kept = FormClose();
    event->accept();
    if (!kept.empty()) ReportError(kept);  // where the other version went
  } catch (const std::exception& e) {
    event->ignore();
    ReportError(e.what());
  }
}

}  // namespace pendlo::ui
