// The window as a user meets it: where each control is, its text and font,
// the Tab order, the meter items' placement, the window's own properties.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "ui/desktop/display_scale.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/look.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = dynamic_cast<GroupFrame*>(w)) return g->Caption();
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
  return {};
}

// Where each control appears in the window, what it says and in which font,
// as designed (window coordinates, so a control moved to another parent
// shows here too).
TEST(Layout, EveryControlWhereItWasDesigned) {
  constexpr const char* kGothic = "IPAPGothic";
  constexpr const char* kArial = "Liberation Sans";
  const struct {
    const char* name;
    QRect rect;
    const char* text;
    const char* family;
    int pixels;
  } rows[] = {
      {"Panel2", {8, 7, 217, 10}, "", kGothic, 14},
      {"Shape1", {10, 9, 213, 6}, "", kGothic, 14},
      {"Panel1", {228, 7, 217, 10}, "", kGothic, 14},
      {"Shape2", {230, 9, 213, 6}, "", kGothic, 14},
      {"GroupBox1", {8, 20, 437, 63}, "テンポ", kGothic, 14},
      {"scrBarTempo", {100, 46, 329, 21}, "", kGothic, 14},
      {"Panel3", {23, 42, 70, 27}, "", kGothic, 14},
      {"lblTempo", {25, 44, 66, 23}, "72", kGothic, 21},
      {"rgHyoushi", {8, 88, 347, 69}, "拍子", kGothic, 14},
      {"GroupBox2", {8, 162, 347, 149}, "変拍子・連符の定義", kGothic, 14},
      {"memList", {20, 178, 267, 123}, "", kGothic, 13},
      {"btnOpen", {298, 178, 45, 25}, "開く", kGothic, 14},
      {"btnSave", {298, 210, 45, 25}, "保存", kGothic, 14},
      {"btnStart", {368, 96, 80, 30}, "&Start", kArial, 19},
      {"btnStop", {368, 128, 80, 30}, "Sto&p", kArial, 19},
      {"btnHelp", {366, 248, 80, 26}, "&Help", kGothic, 16},
      {"btnOFF", {366, 284, 80, 26}, "E&xit", kArial, 16},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto* control = w->findChild<QWidget*>(QString::fromUtf8(row.name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(QRect(control->mapTo(w.get(), QPoint(0, 0)), control->size()), row.rect);
    EXPECT_TRUE(control->isVisible());
    EXPECT_EQ(TextOf(control), QString::fromUtf8(row.text));
    EXPECT_EQ(QFontInfo(control->font()).family(), row.family);
    EXPECT_EQ(control->font().pixelSize(), row.pixels);
  }
}

TEST(Layout, WindowProperties) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  EXPECT_EQ(w->windowTitle(), " Pendlo");
  EXPECT_EQ(w->size(), QSize(456, 324));
  EXPECT_EQ(w->minimumSize(), QSize(456, 324));
  EXPECT_EQ(w->maximumSize(), QSize(456, 324));
  EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(w->pos(), QPoint(73, 42));
  EXPECT_EQ(w->palette().color(QPalette::Window), QColor(kSilver));
  EXPECT_EQ(w->lblTempo->palette().color(QPalette::Window), QColor(kAqua));
  EXPECT_EQ(w->lblTempo->alignment(), Qt::AlignHCenter | Qt::AlignTop);
  EXPECT_EQ(w->Shape1->Fill(), QColor(kBlack));
  EXPECT_EQ(w->Shape2->Fill(), QColor(kBlack));
  EXPECT_TRUE(w->btnStart->isDefault());
  EXPECT_EQ(w->scrBarTempo->minimum(), 20);
  EXPECT_EQ(w->scrBarTempo->maximum(), 600);
  EXPECT_EQ(w->scrBarTempo->singleStep(), 1);
  EXPECT_EQ(w->scrBarTempo->pageStep(), 10);
  EXPECT_EQ(w->rgHyoushi->ItemIndex(), 3);
  EXPECT_EQ(w->memList->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(w->memList->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_TRUE(w->memList->tabChangesFocus());
  EXPECT_FALSE(w->Beat().Running());
}

TEST(Layout, MeterItemsFollowThePlacementRule) {
  // 4 columns of 3; items 84 x 16, the first row at top 16.
  const struct {
    int index;
    QRect rect;
    const char* text;
  } rows[] = {
      {0, {8, 16, 84, 16}, "1"},        {1, {8, 32, 84, 16}, "2"},
      {2, {8, 48, 84, 16}, "3"},        {3, {92, 16, 84, 16}, "4"},
      {5, {92, 48, 84, 16}, "6"},       {8, {176, 48, 84, 16}, "9"},
      {9, {260, 16, 84, 16}, "変拍子"}, {10, {260, 32, 84, 16}, "連符"},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  ASSERT_EQ(w->rgHyoushi->Count(), 11);
  for (const auto& row : rows) {
    EXPECT_EQ(w->rgHyoushi->Item(row.index)->geometry(), row.rect) << row.index;
    EXPECT_EQ(w->rgHyoushi->Item(row.index)->text(), QString::fromUtf8(row.text));
  }
  // Placed again by the same rule when the group changes size.
  w->rgHyoushi->resize(347, 99);
  EXPECT_EQ(w->rgHyoushi->Item(4)->geometry(), QRect(92, 16 + 26, 84, 26));
}

TEST(Layout, TabVisitsTheControlsInOrderStartingAtTheScrollBar) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  ASSERT_EQ(QApplication::focusWidget(), w->scrBarTempo);
  const std::vector<QWidget*> expected = {
      w->rgHyoushi->Item(3), w->memList, w->btnOpen, w->btnSave,
      w->btnStart,           w->btnStop, w->btnOFF,  w->btnHelp,
      w->scrBarTempo,
  };
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  // The tab stop of the meter group follows its selected item.
  w->rgHyoushi->SetItemIndex(9);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w->rgHyoushi->Item(9));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), w->scrBarTempo);
}

TEST(Layout, TheDesktopsScaleRoundsToAWholeFactor) {
  const struct {
    const char* given;
    const char* whole;
  } factors[] = {
      {"1", "1"}, {"1.25", "1"}, {"1.5", "2"},  {"2", "2"},     {"2.75", "3"}, {"0.5", "1"},
      {"0", "1"}, {"-2", "1"},   {"1e9", "16"}, {"1e999", "1"}, {"nan", "1"},  {"two", "two"},
  };
  for (const auto& row : factors) EXPECT_EQ(WholeFactor(row.given), row.whole) << row.given;
  const struct {
    const char* given;
    const char* whole;
  } screens[] = {
      {"1.5", "2"},
      {"2.5;1", "3;1"},
      {"DP-1=1.5;HDMI-1=1.25", "DP-1=2;HDMI-1=1"},
      {"DP-1=1.5;", "DP-1=2;"},
  };
  for (const auto& row : screens) EXPECT_EQ(WholeScreenFactors(row.given), row.whole) << row.given;
}

}  // namespace
}  // namespace pendlo::ui
