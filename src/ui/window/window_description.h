// The fixed description of the main window: every control with its kind,
// parent, pixel position and size, text, font, tab order and handler. The
// window is built from these tables and never laid out again.
#pragma once

#include <QtGlobal>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "ui/widgets/look.h"

namespace pendlo::ui {

enum class Kind {
  LoweredPanel,  // panel, lowered outer and lowered inner bevel, 1 pixel each
  RaisedPanel,   // panel, raised outer and lowered inner bevel, 1 pixel each
  Shape,         // filled rectangle with a black outline (indicator bar)
  GroupBox,      // caption on the top edge of the frame
  ScrollBar,     // horizontal tempo scroll bar
  Label,         // static text, the tempo readout
  RadioGroup,    // the meter choice
  Memo,          // multi-line text edit, the definition text
  Button,        // push button
};

enum class Handler {
  None,
  scrBarTempoChange,
  rgHyoushiClick,
  btnStartClick,
  btnStopClick,
  btnOFFClick,
  btnOpenClick,
  btnSaveClick,
  btnHelpClick,
};

struct ControlDesign {
  std::string_view name;
  Kind kind;
  std::string_view parent;  // "" is the window itself
  int left, top, width, height;
  std::string_view text;
  std::optional<FontDesign> font;  // none: the window's font
  int tab;                         // place among its siblings; -1 for none
  Handler handler;
};

struct WindowDesign {
  std::string_view caption;
  int clientWidth, clientHeight;
  int left, top;  // initial position of the frame on the screen
  FontDesign font;
};

// The translation context of the main window's texts.
inline constexpr const char* kTextContext = "pendlo::ui::TMetronome";

inline constexpr WindowDesign kMetronomeWindow{" Pendlo", 456, 324, 73, 42, {Face::PGothic, 14}};

// In creation order: a parent comes before its children.
inline constexpr std::array<ControlDesign, 17> kMetronomeControls{{
    // clang-format off
  // name           kind                parent       left top  w    h    text                                                          own font                tab handler
  {"Panel2",      Kind::LoweredPanel, "",          8,   7,   217, 10,  "",                                                           std::nullopt,             6, Handler::None},
  {"Shape1",      Kind::Shape,        "Panel2",    2,   2,   213, 6,   "",                                                           std::nullopt,            -1, Handler::None},
  {"Panel1",      Kind::LoweredPanel, "",          228, 7,   217, 10,  "",                                                           std::nullopt,             7, Handler::None},
  {"Shape2",      Kind::Shape,        "Panel1",    2,   2,   213, 6,   "",                                                           std::nullopt,            -1, Handler::None},
  {"GroupBox1",   Kind::GroupBox,     "",          8,   20,  437, 63,  QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "テンポ"),        std::nullopt,             0, Handler::None},
  {"scrBarTempo", Kind::ScrollBar,    "GroupBox1", 92,  26,  329, 21,  "",                                                           std::nullopt,             0, Handler::scrBarTempoChange},
  {"Panel3",      Kind::RaisedPanel,  "GroupBox1", 15,  22,  70,  27,  "",                                                           std::nullopt,             1, Handler::None},
  {"lblTempo",    Kind::Label,        "Panel3",    2,   2,   66,  23,  "120",                                                        FontDesign{Face::PGothic, 21}, -1, Handler::None},
  {"rgHyoushi",   Kind::RadioGroup,   "",          8,   88,  347, 69,  QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "拍子"),          std::nullopt,             1, Handler::rgHyoushiClick},
  {"GroupBox2",   Kind::GroupBox,     "",          8,   162, 347, 149, QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "変拍子・連符の定義"), std::nullopt,             2, Handler::None},
  {"memList",     Kind::Memo,         "GroupBox2", 12,  16,  267, 123, "",                                                           FontDesign{Face::PGothic, 13}, 0, Handler::None},
  {"btnOpen",     Kind::Button,       "GroupBox2", 290, 16,  45,  25,  QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "開く"),          std::nullopt,             1, Handler::btnOpenClick},
  {"btnSave",     Kind::Button,       "GroupBox2", 290, 48,  45,  25,  QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "保存"),          std::nullopt,             2, Handler::btnSaveClick},
  {"btnStart",    Kind::Button,       "",          368, 96,  80,  30,  "&Start",                                                     FontDesign{Face::Arial, 19},   3, Handler::btnStartClick},
  {"btnStop",     Kind::Button,       "",          368, 128, 80,  30,  "Sto&p",                                                      FontDesign{Face::Arial, 19},   4, Handler::btnStopClick},
  {"btnHelp",     Kind::Button,       "",          366, 248, 80,  26,  "&Help",                                                      FontDesign{Face::PGothic, 16}, 8, Handler::btnHelpClick},
  {"btnOFF",      Kind::Button,       "",          366, 284, 80,  26,  "E&xit",                                                      FontDesign{Face::Arial, 16},   5, Handler::btnOFFClick},
    // clang-format on
}};

// The meter group's items, index 0 to 10, and the one selected as built.
// The Japanese texts, here and in the table above, are translated in the
// context of kTextContext where the window shows them.
// clang-format off
inline constexpr std::array<std::string_view, 11> kMeterItems{
    "1", "2", "3", "4", "5", "6", "7", "8", "9",
    QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "変拍子"),
    QT_TRANSLATE_NOOP("pendlo::ui::TMetronome", "連符")};
// clang-format on
inline constexpr int kMeterColumns = 4;
inline constexpr int kMeterDefault = 3;

// The tempo scroll bar as built.
inline constexpr int kTempoDefault = 72;
inline constexpr int kTempoSmallChange = 1;
inline constexpr int kTempoLargeChange = 10;

// The one control that is the window's default button (drawn with the
// default frame; Enter presses it).
inline constexpr std::string_view kDefaultButton = "btnStart";

// The row of the control named `name`; kNoRow when there is none.
inline constexpr std::size_t kNoRow = kMetronomeControls.size();
constexpr std::size_t RowOf(std::string_view name) {
  for (std::size_t i = 0; i < kMetronomeControls.size(); ++i) {
    if (kMetronomeControls[i].name == name) return i;
  }
  return kNoRow;
}

// RowOf where a constant is needed: a name that is not there does not
// compile.
consteval std::size_t Row(std::string_view name) {
  const std::size_t row = RowOf(name);
  if (row == kNoRow) throw "no control of that name";
  return row;
}

// Each row's parent row; kNoRow for the window itself.
inline constexpr std::array<std::size_t, kMetronomeControls.size()> kParentRows = [] {
  std::array<std::size_t, kMetronomeControls.size()> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = RowOf(kMetronomeControls[i].parent);
  return rows;
}();

// A control is built after its parent, which must be there (or the window).
static_assert([] {
  for (std::size_t i = 0; i < kMetronomeControls.size(); ++i) {
    const bool ofWindow = kMetronomeControls[i].parent.empty();
    if (ofWindow != (kParentRows[i] == kNoRow) || (!ofWindow && kParentRows[i] >= i)) return false;
  }
  return true;
}());

// The rows of the controls the keyboard reaches, in Tab order: siblings by
// their tab place, a container's children where the container stands. The
// radio group stands for its selected item.
std::vector<std::size_t> TabChain();

// Where item `index` of a radio group lies inside the group, for a group of
// the given size with `count` items in `columns` columns and a font of line
// height `lineHeight`: items fill each column top to bottom.
struct ItemRect {
  int left, top, width, height;
};
ItemRect RadioItemRect(int index, int count, int columns, int groupWidth, int groupHeight,
                       int lineHeight);

}  // namespace pendlo::ui
