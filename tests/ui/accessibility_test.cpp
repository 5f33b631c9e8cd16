// The window as Qt's accessibility interfaces show it to a screen reader:
// named groups and controls, the meter items as radio buttons whose press is
// a click, no indicator bar, and Start and Stop said as they happen.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <vector>

#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

QAccessibleInterface* Of(QObject* object) {
  return QAccessible::queryAccessibleInterface(object);
}

// Every interface under `root`, as a screen reader walks the tree.
void Walk(QAccessibleInterface* root, std::vector<QAccessibleInterface*>& found) {
  found.push_back(root);
  for (int i = 0; i < root->childCount(); ++i) Walk(root->child(i), found);
}

TEST(Accessibility, GroupsAndTheControlTheyLabelAreNamedAndNoBarIsInTheTree) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  const struct {
    QWidget* control;
    QAccessible::Role role;
    const char* name;
  } rows[] = {
      {w->GroupBox1, QAccessible::Grouping, "テンポ"},
      {w->scrBarTempo, QAccessible::ScrollBar, "テンポ"},
      {w->rgHyoushi, QAccessible::Grouping, "拍子"},
      {w->GroupBox2, QAccessible::Grouping, "変拍子・連符の定義"},
      {w->memList, QAccessible::EditableText, "変拍子・連符の定義"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.control->objectName().toStdString());
    EXPECT_EQ(Of(row.control)->role(), row.role);
    EXPECT_EQ(Of(row.control)->text(QAccessible::Name), QString::fromUtf8(row.name));
  }
  std::vector<QAccessibleInterface*> tree;
  Walk(Of(w.get()), tree);
  int radioButtons = 0;
  for (QAccessibleInterface* node : tree) {
    EXPECT_EQ(dynamic_cast<IndicatorBar*>(node->object()), nullptr);
    radioButtons += node->role() == QAccessible::RadioButton;
  }
  EXPECT_EQ(radioButtons, w->rgHyoushi->Count());
  EXPECT_EQ(Of(w->Panel3)->childCount(), 1);  // the readout stays
}

// The items are radio buttons checked as the group's index says; a screen
// reader's press chooses as a click does, so only a change runs the handler.
TEST(Accessibility, MeterItemsAreRadioButtonsAndTheirPressIsAClick) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  MeterRadioGroup* group = w->rgHyoushi;
  QSignalSpy chosen(group, &MeterRadioGroup::itemChosen);
  const struct {
    const char* name;
    int set;    // index the program sets, or -2 to press `press`
    int press;  // the item pressed
    int index, runs;
  } rows[] = {
      {"as built", 3, 0, 3, 0},         {"press another item", -2, 7, 7, 1},
      {"press it again", -2, 7, 7, 1},  {"none chosen", -1, 0, -1, 1},
      {"press tuplets", -2, 10, 10, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.set == -2) {
      QAccessibleActionInterface* actions = Of(group->Item(row.press))->actionInterface();
      ASSERT_NE(actions, nullptr);
      actions->doAction(QAccessibleActionInterface::pressAction());
    } else {
      group->SetItemIndex(row.set);
    }
    EXPECT_EQ(group->ItemIndex(), row.index);
    EXPECT_EQ(chosen.count(), row.runs);
    for (int i = 0; i < group->Count(); ++i) {
      QAccessibleInterface* item = Of(group->Item(i));
      EXPECT_EQ(item->text(QAccessible::Name), group->Item(i)->text());
      EXPECT_TRUE(item->state().checkable);
      EXPECT_EQ(item->state().checked, i == row.index) << i;
    }
  }
}

TEST(Accessibility, StartAndStopAreTheDescriptionOfTheWindowAndTheirButtons) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  const struct {
    const char* name;
    void (TMetronome::*press)();
    const char* said;
  } rows[] = {
      {"as built", nullptr, "停止中"},
      {"Start", &TMetronome::btnStartClick, "演奏中"},
      {"Start while running", &TMetronome::btnStartClick, "演奏中"},
      {"Stop", &TMetronome::btnStopClick, "停止中"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.press != nullptr) ((*w).*row.press)();
    for (QObject* o : {static_cast<QObject*>(w.get()), static_cast<QObject*>(w->btnStart),
                       static_cast<QObject*>(w->btnStop)}) {
      EXPECT_EQ(Of(o)->text(QAccessible::Description), QString::fromUtf8(row.said));
    }
  }
}

}  // namespace
}  // namespace pendlo::ui
