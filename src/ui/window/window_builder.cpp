#include "ui/window/window_builder.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "files/formats/definition_text.h"
#include "files/formats/text_codec.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/look.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/push_button.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"

namespace pendlo::ui {

namespace {

using BuiltControls = std::array<QWidget*, kMetronomeControls.size()>;

QString Qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text of the description in the window's language.
QString Text(std::string_view text) {
  return QCoreApplication::translate(kTextContext, std::string(text).c_str());
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

// Keeps the control of `row` in a member of its own class; a row built as
// another class does not compile.
template <std::size_t row, typename T>
void Keep(const BuiltControls& built, T*& member) {
  static_assert(BuiltAs<T>(kMetronomeControls[row].kind), "the row is built as another class");
  member = static_cast<T*>(built[row]);
}

QLabel* NewReadout(const ControlDesign& c, QWidget* parent) {
  auto* label = new QLabel(Text(c.text), parent);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setAutoFillBackground(true);
  QPalette pal = label->palette();
  pal.setColor(QPalette::Window, QColor(kAqua));
  label->setPalette(pal);
  return label;
}

DefinitionMemo* NewMemo(QWidget* parent, const ControlHooks& hooks) {
  auto* memo = new DefinitionMemo(
      parent, [](const std::string& text) { return ToCp932Representable(text); });
  // Nothing may grow the text past what "dtp.sav" can hold and be read back
  // from.
  memo->SetLimit(kMemoLimitBytes, hooks.memoFull);
  memo->SetOnUnstorable(hooks.memoUnstorable);
  return memo;
}

QPushButton* NewButton(const ControlDesign& c, QWidget* parent) {
  auto* button = new PushButton(Text(c.text), parent);
  button->setAutoDefault(true);  // Enter presses a focused button
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

// The control of one row as the class of its kind, not yet placed.
QWidget* NewControl(const ControlDesign& c, QWidget* parent, const ControlHooks& hooks) {
  switch (c.kind) {
    case Kind::LoweredPanel:
    case Kind::RaisedPanel:
      return new BevelPanel(c.kind == Kind::RaisedPanel, parent);
    case Kind::Shape:
      return new IndicatorBar(parent);
    case Kind::GroupBox:
      return new GroupFrame(Text(c.text), parent);
    case Kind::ScrollBar:
      return new TempoScrollBar(parent);
    case Kind::Label:
      return NewReadout(c, parent);
    case Kind::RadioGroup:
      return new MeterRadioGroup(Text(c.text), parent);
    case Kind::Memo:
      return NewMemo(parent, hooks);
    case Kind::Button:
      return NewButton(c, parent);
  }
  throw std::logic_error("a control of no known kind");
}

BuiltControls BuildRows(QWidget& window, const ControlHooks& hooks) {
  BuiltControls built{};
  for (std::size_t row = 0; row < kMetronomeControls.size(); ++row) {
    const ControlDesign& c = kMetronomeControls[row];
    QWidget* parent = kParentRows[row] == kNoRow ? &window : built[kParentRows[row]];
    QWidget* w = NewControl(c, parent, hooks);
    w->setObjectName(Qs(c.name));
    if (c.font) w->setFont(DesignFont(*c.font));
    w->setGeometry(c.left, c.top, c.width, c.height);
    built[row] = w;
  }
  return built;
}

MetronomeControls KeepAll(const BuiltControls& built) {
  MetronomeControls m;
  Keep<Row("Panel2")>(built, m.Panel2);
  Keep<Row("Shape1")>(built, m.Shape1);
  Keep<Row("Panel1")>(built, m.Panel1);
  Keep<Row("Shape2")>(built, m.Shape2);
  Keep<Row("GroupBox1")>(built, m.GroupBox1);
  Keep<Row("scrBarTempo")>(built, m.scrBarTempo);
  Keep<Row("Panel3")>(built, m.Panel3);
  Keep<Row("lblTempo")>(built, m.lblTempo);
  Keep<Row("rgHyoushi")>(built, m.rgHyoushi);
  Keep<Row("GroupBox2")>(built, m.GroupBox2);
  Keep<Row("memList")>(built, m.memList);
  Keep<Row("btnOpen")>(built, m.btnOpen);
  Keep<Row("btnSave")>(built, m.btnSave);
  Keep<Row("btnStart")>(built, m.btnStart);
  Keep<Row("btnStop")>(built, m.btnStop);
  Keep<Row("btnHelp")>(built, m.btnHelp);
  Keep<Row("btnOFF")>(built, m.btnOFF);
  return m;
}

// Tab order: the description's chain; the radio group stands for all its
// items, of which only the selected one is a tab stop.
void SetTabChain(QWidget& window, const BuiltControls& built, MeterRadioGroup* meter) {
  QWidget* previous = nullptr;
  for (std::size_t row : TabChain()) {
    std::vector<QWidget*> stops;
    if (built[row] == meter) {
      for (int i = 0; i < meter->Count(); ++i) stops.push_back(meter->Item(i));
    } else {
      stops.push_back(built[row]);
    }
    for (QWidget* w : stops) {
      if (previous != nullptr) window.setTabOrder(previous, w);
      previous = w;
    }
  }
}

// Each control's handler as the description names it, on the event its kind
// raises.
void ConnectHandlers(QWidget& window, const BuiltControls& built, const ControlHooks& hooks) {
  for (std::size_t row = 0; row < kMetronomeControls.size(); ++row) {
    const ControlDesign& c = kMetronomeControls[row];
    if (c.handler == Handler::None) continue;
    const auto run = [call = hooks.run, handler = c.handler] { call(handler); };
    QWidget* w = built[row];  // made for this row's kind by BuildRows
    switch (c.kind) {
      case Kind::ScrollBar:
        QObject::connect(static_cast<TempoScrollBar*>(w), &QScrollBar::valueChanged, &window, run);
        break;
      case Kind::RadioGroup:
        QObject::connect(static_cast<MeterRadioGroup*>(w), &MeterRadioGroup::itemChosen, &window,
                         run);
        break;
      case Kind::Button:
        QObject::connect(static_cast<QPushButton*>(w), &QPushButton::clicked, &window, run);
        break;
      default:
        throw std::logic_error("a handler on a control that raises no event");
    }
  }
}

}  // namespace

MetronomeControls BuildControls(QWidget& window, ControlHooks hooks) {
  const WindowDesign& design = kMetronomeWindow;
  window.setWindowTitle(Qs(design.caption));
  window.setFont(DesignFont(design.font));
  window.setFixedSize(design.clientWidth, design.clientHeight);
  window.setAutoFillBackground(true);
  window.move(design.left, design.top);

  const BuiltControls built = BuildRows(window, hooks);
  const MetronomeControls controls = KeepAll(built);
  controls.rgHyoushi->SetItemIndex(kMeterDefault);
  QPushButton* defaultButton = nullptr;
  Keep<Row(kDefaultButton)>(built, defaultButton);
  defaultButton->setDefault(true);
  SetTabChain(window, built, controls.rgHyoushi);
  controls.scrBarTempo->setFocus(Qt::OtherFocusReason);
  ConnectHandlers(window, built, hooks);
  return controls;
}

}  // namespace pendlo::ui
