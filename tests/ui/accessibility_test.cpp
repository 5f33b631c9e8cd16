// The window's details as Qt's accessibility interfaces give them to a
// screen reader (tests/ui/accessibility_test.py reads the real program over
// AT-SPI): the meter items are radio buttons checked as the group's index
// says, a press chooses as a click does, and no indicator bar is in the tree.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QRadioButton>
#include <QSignalSpy>

#include "ui/widgets/meter_radio_group.h"
#include "ui/window/controls.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

// Whether an indicator bar is at `node` or under it.
bool HoldsABar(QAccessibleInterface* node) {
  if (dynamic_cast<IndicatorBar*>(node->object()) != nullptr) return true;
  for (int i = 0; i < node->childCount(); ++i) {
    if (HoldsABar(node->child(i))) return true;
  }
  return false;
}

TEST(Accessibility, MeterItemsAreRadioButtonsPressedAsClickedAndNoBarIsInTheTree) {
  testing::TempDir dir;
  auto w = testing::MakeWindow(dir.path());
  EXPECT_FALSE(HoldsABar(QAccessible::queryAccessibleInterface(w.get())));
  MeterRadioGroup* group = w->rgHyoushi;
  QSignalSpy chosen(group, &MeterRadioGroup::itemChosen);
  const struct {
    int press;  // the item pressed; -1: none left chosen by the program
    int index, runs;
  } rows[] = {{7, 7, 1}, {7, 7, 1}, {-1, -1, 1}, {10, 10, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.press);
    if (row.press >= 0) {
      QAccessible::queryAccessibleInterface(group->Item(row.press))
          ->actionInterface()
          ->doAction(QAccessibleActionInterface::pressAction());
    } else {
      group->SetItemIndex(-1);
    }
    EXPECT_EQ(chosen.count(), row.runs);
    for (int i = 0; i < group->Count(); ++i) {
      QAccessibleInterface* item = QAccessible::queryAccessibleInterface(group->Item(i));
      EXPECT_EQ(item->role(), QAccessible::RadioButton);
      EXPECT_EQ(item->state().checked, i == row.index) << i;
    }
  }
}

}  // namespace
}  // namespace pendlo::ui
