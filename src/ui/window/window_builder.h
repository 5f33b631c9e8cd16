// The main window's controls built from its fixed description
// (window_description.h): each row as the class of its kind, at its pixel
// place, with its text and font; the Tab chain, the default button, the meter
// selected as built; each control's event connected to its handler.
#pragma once

#include <QWidget>
#include <functional>

#include "ui/window/window_description.h"

class QLabel;
class QPushButton;

namespace pendlo::ui {

class BevelPanel;
class DefinitionMemo;
class GroupFrame;
class IndicatorBar;
class MeterRadioGroup;
class TempoScrollBar;

// The controls, named as designed.
struct MetronomeControls {
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
};

// What the controls call back into.
struct ControlHooks {
  // The memo refused an insertion that would take it past the file limit.
  std::function<void()> memoFull;
  // An insertion held characters the files cannot hold (now "?"), said once.
  std::function<void(const QString& characters)> memoUnstorable;
  // A control raised the event the description names `handler` for: a
  // change of the scroll bar, a choice in the radio group, a button's click.
  std::function<void(Handler)> run;
};

// Gives `window` the description's caption, font, fixed size and first
// position, builds every control in it and focuses the scroll bar. Returns
// the controls, owned by the window.
MetronomeControls BuildControls(QWidget& window, ControlHooks hooks);

}  // namespace pendlo::ui
