// The window as built against its description table: geometry, texts, fonts,
// tab order, the meter items' placement, and the window's own properties.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "test_support.h"
#include "ui/controls.h"
#include "ui/definition_memo.h"
#include "ui/meter_radio_group.h"
#include "ui/tempo_scroll_bar.h"
#include "ui/window_description.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

QString Qs(std::string_view s) {
  return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = dynamic_cast<GroupFrame*>(w)) return g->Caption();
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
  return {};
}

TEST(Layout, EveryControlMatchesTheDescription) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  for (const ControlDesign& c : kMetronomeControls) {
    SCOPED_TRACE(std::string(c.name));
    QWidget* control = w->Control(c.name);
    ASSERT_NE(control, nullptr);
    const QWidget* parent = c.parent.empty() ? w.get() : w->Control(c.parent);
    EXPECT_EQ(control->parentWidget(), parent);
    EXPECT_EQ(control->geometry(), QRect(c.left, c.top, c.width, c.height));
    EXPECT_TRUE(control->isVisible());
    const FontDesign font = c.font.value_or(kMetronomeWindow.font);
    EXPECT_EQ(control->font().pixelSize(), font.pixels);
    const QString family = QFontInfo(control->font()).family();
    EXPECT_EQ(family, font.face == Face::Arial ? "Liberation Sans" : "IPAPGothic");
    if (c.name == "lblTempo") {
      EXPECT_EQ(TextOf(control), "72");  // start-up replaced the "120" of the description
    } else if (!c.text.empty()) {
      EXPECT_EQ(TextOf(control), Qs(c.text));
    }
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
  EXPECT_FALSE(w->MMTimer->Enabled());
}

TEST(Layout, MeterItemsFollowThePlacementRule) {
  // 4 columns of 3; items 84 x 16, the first row at top 16.
  const struct {
    int index;
    QRect rect;
  } rows[] = {
      {0, {8, 16, 84, 16}},   {1, {8, 32, 84, 16}},    {2, {8, 48, 84, 16}},
      {3, {92, 16, 84, 16}},  {5, {92, 48, 84, 16}},   {8, {176, 48, 84, 16}},
      {9, {260, 16, 84, 16}}, {10, {260, 32, 84, 16}},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  ASSERT_EQ(w->rgHyoushi->Count(), 11);
  for (const auto& row : rows) {
    EXPECT_EQ(w->rgHyoushi->Item(row.index)->geometry(), row.rect) << row.index;
    EXPECT_EQ(w->rgHyoushi->Item(row.index)->text(), Qs(kMeterItems[row.index]));
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

TEST(Layout, TabChainOfTheDescription) {
  const std::vector<std::string_view> expected = {"scrBarTempo", "rgHyoushi", "memList",
                                                  "btnOpen",     "btnSave",   "btnStart",
                                                  "btnStop",     "btnOFF",    "btnHelp"};
  EXPECT_EQ(TabChain(), expected);
}

}  // namespace
}  // namespace pendlo::ui
