// The controls' event rules: the tempo scroll bar and the meter group run
// their handler once per actual change, for user actions (the wheel too) and
// program sets alike; the focused bar's mark; Enter and the access keys; the
// memo's display lines and the characters it keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <vector>

#include "files/store/errors.h"
#include "ui/dialogs/help_window.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::CaughtBoxes;
using testing::MakeWindow;
using testing::TempDir;

QRect ScrollPart(QScrollBar* bar, QStyle::SubControl part) {
  QStyleOptionSlider opt;
  opt.initFrom(bar);
  opt.orientation = bar->orientation();
  opt.minimum = bar->minimum();
  opt.maximum = bar->maximum();
  opt.sliderPosition = bar->sliderPosition();
  opt.sliderValue = bar->value();
  opt.singleStep = bar->singleStep();
  opt.pageStep = bar->pageStep();
  opt.upsideDown = false;
  opt.subControls = QStyle::SC_All;
  return bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, bar);
}

TEST(ScrollBarRules, UserActionsRunTheHandlerOncePerChange) {
  enum Action { RightArrow, LeftArrow, RightTrough, LeftTrough, Key };
  const struct {
    const char* name;
    int from;
    Action action;
    Qt::Key key;
    int to;
    int handlerRuns;
  } rows[] = {
      {"right arrow", 72, RightArrow, Qt::Key_unknown, 73, 1},
      {"left arrow", 72, LeftArrow, Qt::Key_unknown, 71, 1},
      {"right trough", 72, RightTrough, Qt::Key_unknown, 82, 1},
      {"left trough", 72, LeftTrough, Qt::Key_unknown, 62, 1},
      {"right trough near the end", 595, RightTrough, Qt::Key_unknown, 600, 1},
      {"right arrow at the end", 600, RightArrow, Qt::Key_unknown, 600, 0},
      {"right trough at the end", 600, RightTrough, Qt::Key_unknown, 600, 0},
      {"left arrow at the start", 20, LeftArrow, Qt::Key_unknown, 20, 0},
      {"Right key", 72, Key, Qt::Key_Right, 73, 1},
      {"Left key", 72, Key, Qt::Key_Left, 71, 1},
      {"Page Down", 72, Key, Qt::Key_PageDown, 82, 1},
      {"Page Up", 72, Key, Qt::Key_PageUp, 62, 1},
      {"Home", 72, Key, Qt::Key_Home, 20, 1},
      {"End", 72, Key, Qt::Key_End, 600, 1},
      {"Home at the start", 20, Key, Qt::Key_Home, 20, 0},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  TempoScrollBar* bar = w->scrBarTempo;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bar->SetPosition(row.from);
    QSignalSpy spy(bar, &QScrollBar::valueChanged);
    switch (row.action) {
      case RightArrow:
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          ScrollPart(bar, QStyle::SC_ScrollBarAddLine).center());
        break;
      case LeftArrow:
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          ScrollPart(bar, QStyle::SC_ScrollBarSubLine).center());
        break;
      case RightTrough:
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          ScrollPart(bar, QStyle::SC_ScrollBarAddPage).center());
        break;
      case LeftTrough:
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          ScrollPart(bar, QStyle::SC_ScrollBarSubPage).center());
        break;
      case Key:
        bar->setFocus();
        QTest::keyClick(bar, row.key);
        break;
    }
    EXPECT_EQ(bar->Position(), row.to);
    EXPECT_EQ(spy.count(), row.handlerRuns);
    EXPECT_EQ(w->lblTempo->text(), QString::number(row.to));
  }
}

TEST(ScrollBarRules, DragRunsTheHandlerForEachDistinctPosition) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  TempoScrollBar* bar = w->scrBarTempo;
  QSignalSpy spy(bar, &QScrollBar::valueChanged);
  const QPoint start = ScrollPart(bar, QStyle::SC_ScrollBarSlider).center();
  QTest::mousePress(bar, Qt::LeftButton, {}, start);
  for (int dx = 1; dx <= 30; ++dx) QTest::mouseMove(bar, start + QPoint(dx, 0));
  QTest::mouseMove(bar, start + QPoint(30, 0));  // no movement: no event
  QTest::mouseRelease(bar, Qt::LeftButton, {}, start + QPoint(30, 0));
  ASSERT_GT(spy.count(), 10);
  int last = 72;
  for (const QList<QVariant>& call : spy) {
    EXPECT_NE(call.at(0).toInt(), last);
    last = call.at(0).toInt();
  }
  EXPECT_EQ(bar->Position(), last);
  EXPECT_EQ(w->lblTempo->text(), QString::number(last));
  EXPECT_EQ(w->Beat().Engine().Snapshot().Tempo, last);
}

TEST(ScrollBarRules, ProgramSetValuesAreClamped) {
  const struct {
    int set, position, handlerRuns;
  } rows[] = {{5, 20, 1}, {20, 20, 0}, {9999, 600, 1}, {600, 600, 0}, {120, 120, 1}};
  TempDir dir;
  auto w = MakeWindow(dir.path());
  for (const auto& row : rows) {
    QSignalSpy spy(w->scrBarTempo, &QScrollBar::valueChanged);
    w->scrBarTempo->SetPosition(row.set);
    EXPECT_EQ(w->scrBarTempo->Position(), row.position) << row.set;
    EXPECT_EQ(spy.count(), row.handlerRuns) << row.set;
    EXPECT_EQ(w->Beat().Timer().Interval(), static_cast<unsigned>(IntervalForTempo(row.position)));
  }
}

TEST(ScrollBarRules, TheWheelMovesBySmallChangePerNotch) {
  // Rows run in order on one bar: a fraction of a notch is kept for the next
  // turn.
  const struct {
    const char* name;
    int from;
    std::vector<QPoint> turns;  // angle deltas, 120 a notch
    bool inverted;
    int to;
    int handlerRuns;
  } rows[] = {
      {"one notch away", 72, {{0, 120}}, false, 71, 1},
      {"one notch towards", 72, {{0, -120}}, false, 73, 1},
      {"two notches at once", 72, {{0, 240}}, false, 70, 2},
      {"four quarter notches", 72, {{0, 30}, {0, 30}, {0, 30}, {0, 30}}, false, 71, 1},
      {"fifths towards", 72, {{0, -24}, {0, -24}, {0, -24}, {0, -24}, {0, -24}}, false, 73, 1},
      {"half a notch", 72, {{0, 60}}, false, 72, 0},
      {"the other half", 72, {{0, 60}}, false, 71, 1},
      {"tilted left", 72, {{120, 0}}, false, 71, 1},
      {"natural scrolling", 72, {{0, 120}}, true, 73, 1},
      {"away at the start", 20, {{0, 120}}, false, 20, 0},
      {"towards at the end", 600, {{0, -120}}, false, 600, 0},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  TempoScrollBar* bar = w->scrBarTempo;
  const QPointF at = QRectF(bar->rect()).center();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bar->SetPosition(row.from);
    QSignalSpy spy(bar, &QScrollBar::valueChanged);
    for (const QPoint& turn : row.turns) {
      QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), turn, Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, row.inverted);
      QApplication::sendEvent(bar, &wheel);
    }
    EXPECT_EQ(bar->Position(), row.to);
    EXPECT_EQ(spy.count(), row.handlerRuns);
    EXPECT_EQ(w->lblTempo->text(), QString::number(row.to));
  }
}

TEST(ScrollBarRules, TheFocusedBarMarksItsThumb) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  TempoScrollBar* bar = w->scrBarTempo;
  bar->setFocus();
  ASSERT_TRUE(bar->hasFocus());
  const QImage focused = bar->grab().toImage();
  w->btnStart->setFocus();
  ASSERT_FALSE(bar->hasFocus());
  const QImage unfocused = bar->grab().toImage();
  ASSERT_EQ(focused.size(), unfocused.size());
  const QRect thumb = ScrollPart(bar, QStyle::SC_ScrollBarSlider);
  int inside = 0, outside = 0;
  for (int y = 0; y < focused.height(); ++y) {
    for (int x = 0; x < focused.width(); ++x) {
      if (focused.pixel(x, y) == unfocused.pixel(x, y)) continue;
      ++(thumb.contains(x, y) ? inside : outside);
    }
  }
  EXPECT_GT(inside, 10) << "no mark on the thumb";
  EXPECT_EQ(outside, 0) << "the mark spills off the thumb";
}

TEST(MeterRules, UserChoicesRunTheHandlerOnlyOnChange) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  MeterRadioGroup* group = w->rgHyoushi;
  QSignalSpy chosen(group, &MeterRadioGroup::itemChosen);
  const struct {
    const char* name;
    int click;  // item clicked with the mouse, or -1 for the Down key
    int index;
    int runs;
  } rows[] = {
      {"the selected item again", 3, 3, 0},
      {"another item", 2, 2, 1},
      {"it again", 2, 2, 1},
      {"Down key moves to the next item", -1, 3, 2},
      {"tuplets", 10, 10, 3},
      {"Down key wraps to the first", -1, 0, 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.click >= 0) {
      QTest::mouseClick(group->Item(row.click), Qt::LeftButton, {}, QPoint(6, 8));
    } else {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    }
    EXPECT_EQ(group->ItemIndex(), row.index);
    EXPECT_EQ(chosen.count(), row.runs);
    for (int i = 0; i < group->Count(); ++i) {
      EXPECT_EQ(group->Item(i)->isChecked(), i == row.index) << i;
    }
    EXPECT_EQ(w->Beat().Engine().MeterSelection(), row.index);
  }
}

TEST(MeterRules, ProgramSetIndicesAreClampedAndMinusOneRunsNothing) {
  const struct {
    int set, index, chosenRuns, changes;
  } rows[] = {
      {3, 3, 0, 0}, {15, 10, 1, 1}, {10, 10, 0, 0}, {-5, -1, 0, 1}, {-1, -1, 0, 0}, {0, 0, 1, 1},
  };
  TempDir dir;
  auto w = MakeWindow(dir.path());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.set);
    QSignalSpy chosen(w->rgHyoushi, &MeterRadioGroup::itemChosen);
    QSignalSpy changed(w->rgHyoushi, &MeterRadioGroup::indexChanged);
    w->rgHyoushi->SetItemIndex(row.set);
    EXPECT_EQ(w->rgHyoushi->ItemIndex(), row.index);
    EXPECT_EQ(chosen.count(), row.chosenRuns);
    EXPECT_EQ(changed.count(), row.changes);
    EXPECT_EQ(w->Beat().Engine().MeterSelection(), row.index);
    for (int i = 0; i < w->rgHyoushi->Count(); ++i) {
      EXPECT_EQ(w->rgHyoushi->Item(i)->isChecked(), i == row.index) << i;
    }
  }
}

TEST(Keys, EnterPressesTheDefaultButtonUnlessAButtonOrTheMemoHasTheFocus) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  w->scrBarTempo->setFocus();
  QTest::keyClick(w->scrBarTempo, Qt::Key_Return);
  EXPECT_TRUE(w->Beat().Running()) << "Enter on the scroll bar presses Start";

  w->btnStop->setFocus();
  EXPECT_FALSE(w->btnStart->isDefault());
  QTest::keyClick(w->btnStop, Qt::Key_Return);
  EXPECT_FALSE(w->Beat().Running()) << "Enter on Stop presses Stop";

  w->rgHyoushi->Item(3)->setFocus();
  EXPECT_TRUE(w->btnStart->isDefault());
  QTest::keyClick(w->rgHyoushi->Item(3), Qt::Key_Enter);
  EXPECT_TRUE(w->Beat().Running()) << "Enter on a meter item presses Start";
  w->btnStopClick();

  w->memList->setFocus();
  QTest::keyClicks(w->memList, "32");
  QTest::keyClick(w->memList, Qt::Key_Return);
  QTest::keyClick(w->memList, Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClicks(w->memList, "2");
  EXPECT_EQ(w->memList->TextUtf8(), "32\n\n2");
  EXPECT_FALSE(w->Beat().Running()) << "Enter in the memo is a line break";
}

TEST(Keys, AccessKeysWithAltEverywhereAndWithoutAltOutsideTheMemo) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  w->memList->setFocus();
  // An access key presses its button at once, not after showing it down.
  QTest::keyClick(w->memList, Qt::Key_S, Qt::AltModifier);
  EXPECT_TRUE(w->Beat().Running()) << "Alt+S in the memo";
  QTest::keyClick(w->memList, Qt::Key_P, Qt::AltModifier);
  EXPECT_FALSE(w->Beat().Running()) << "Alt+P in the memo";
  QTest::keyClicks(w->memList, "sphx");
  EXPECT_EQ(w->memList->TextUtf8(), "sphx") << "letters in the memo are text";
  EXPECT_FALSE(w->Beat().Running());

  w->scrBarTempo->setFocus();
  QTest::keyClick(w->scrBarTempo, Qt::Key_S);
  EXPECT_TRUE(w->Beat().Running()) << "S on the scroll bar";
  w->btnOpen->setFocus();
  QTest::keyClick(w->btnOpen, Qt::Key_P, Qt::ShiftModifier);
  EXPECT_FALSE(w->Beat().Running()) << "P on a button, either case";
  QTest::keyClick(w->rgHyoushi->Item(3), Qt::Key_H);
  EXPECT_TRUE(w->formHelp->isVisible()) << "H on a meter item";
  EXPECT_EQ(w->rgHyoushi->ItemIndex(), 3);
}

TEST(Keys, MediaKeysStartAndStopWhereverTheFocusIs) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  const struct {
    QWidget* focus;
    Qt::Key key;
    bool running;  // after the key
  } presses[] = {
      {w->memList, Qt::Key_MediaPlay, true},
      {w->memList, Qt::Key_MediaPause, false},
      {w->scrBarTempo, Qt::Key_MediaTogglePlayPause, true},
      {w->scrBarTempo, Qt::Key_MediaPlay, false},
      {w->rgHyoushi->Item(3), Qt::Key_MediaPause, true},
      {w->btnOpen, Qt::Key_MediaStop, false},
      {w->btnOpen, Qt::Key_MediaStop, false},  // no toggle
  };
  for (const auto& p : presses) {
    p.focus->setFocus();
    // As the keyboard sends them: key codes with no text.
    QKeyEvent press(QEvent::KeyPress, p.key, Qt::NoModifier);
    QApplication::sendEvent(p.focus, &press);
    EXPECT_EQ(w->Beat().Running(), p.running)
        << p.focus->objectName().toStdString() << " " << p.key;
  }
}

TEST(Memo, DisplayLinesCountEachWrappedContinuation) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  // A comment wider than the memo: its continuation lines are not comments.
  const std::string comment = "/" + std::string(120, 'x') + "3";
  w->memList->SetTextUtf8(comment + "\n2\n\n/ 9");
  const std::vector<std::string> lines = w->memList->DisplayLines();
  ASSERT_GT(lines.size(), 4u);
  EXPECT_EQ(lines.front().front(), '/');
  std::string joined;
  for (std::size_t i = 0; i + 3 < lines.size(); ++i) joined += lines[i];
  EXPECT_EQ(joined, comment);
  EXPECT_EQ(lines[lines.size() - 3], "2");
  EXPECT_EQ(lines[lines.size() - 2], "");
  EXPECT_EQ(lines.back(), "/ 9");

  w->rgHyoushi->SetItemIndex(9);  // irregular: the pattern is built now
  BeatState s = w->Beat().Engine().Snapshot();
  ASSERT_EQ(s.GroupCount, 2);
  EXPECT_EQ(s.Groups[1], 3);
  EXPECT_EQ(s.Groups[2], 2);

  // Lines far below the visible part are read in their display form too.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "1\n";
  w->memList->SetTextUtf8(many + comment);
  EXPECT_GT(w->memList->DisplayLines().size(), 203u);
  w->rgHyoushi->SetItemIndex(10);
  s = w->Beat().Engine().Snapshot();
  EXPECT_EQ(s.GroupCount, 201);
  EXPECT_EQ(s.Groups[201], 3);
}

TEST(Memo, TypingIntoAHugeLineStaysCheapAndItsDisplayLinesCoverTheText) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  const std::string digits(100000, '3');
  w->memList->SetTextUtf8(digits);
  w->rgHyoushi->SetItemIndex(10);
  w->btnStartClick();
  w->memList->setFocus();
  w->memList->moveCursor(QTextCursor::End);
  // Each key used to lay the line out again in time growing with the square
  // of its length: 0.6 to 1.2 s a key. The bound is generous.
  QElapsedTimer typing;
  typing.start();
  const std::string typed(30, '5');
  QTest::keyClicks(w->memList, QString::fromStdString(typed));
  QApplication::processEvents();
  EXPECT_LT(typing.elapsed(), 10000) << "ms for 30 keys";

  // The display lines still cover the text exactly.
  const std::vector<std::string> lines = w->memList->DisplayLines();
  EXPECT_GT(lines.size(), 1000u);
  std::string joined;
  for (const std::string& line : lines) joined += line;
  EXPECT_EQ(joined, digits + typed);
  w->btnStopClick();

  // Laid out without shaping, left to right, also after a font change; the
  // defaults come back with the words below.
  const auto longLineLayout = [&] {
    const QTextDocument& doc = *w->memList->document();
    return doc.defaultFont().styleStrategy() == QFont::PreferNoShaping &&
           doc.defaultTextOption().textDirection() == Qt::LeftToRight;
  };
  EXPECT_TRUE(longLineLayout());
  QFont other = w->memList->font();
  other.setBold(!other.bold());
  w->memList->setFont(other);
  EXPECT_TRUE(longLineLayout());

  // Words wrap at their boundaries again once the long line is gone.
  std::string words = "/";
  while (words.size() < 300) words += " ab";
  w->memList->SetTextUtf8(words);
  const std::vector<std::string> wrapped = w->memList->DisplayLines();
  ASSERT_GT(wrapped.size(), 2u);
  for (std::size_t i = 0; i + 1 < wrapped.size(); ++i) EXPECT_EQ(wrapped[i].back(), ' ') << i;
  EXPECT_EQ(w->memList->document()->defaultFont().styleStrategy(), QFont::PreferDefault);
  EXPECT_EQ(w->memList->document()->defaultTextOption().textDirection(), Qt::LayoutDirectionAuto);
}

// Keys into a long line come in one layout on the event loop's next turn:
// Stop queued after them does not wait for it; Start reads them.
TEST(Memo, StartAndStopQueuedBehindKeysIntoALongLine) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  DefinitionMemo* memo = w->memList;
  memo->SetTextUtf8(std::string(DefinitionMemo::kHeldBackLine + 1, ' '));
  w->rgHyoushi->SetItemIndex(10);
  memo->setFocus();
  memo->moveCursor(QTextCursor::Start);
  const auto queue = [&](const char* keys, void (TMetronome::*press)()) {
    for (const char* k = keys; *k != '\0'; ++k) {
      QCoreApplication::postEvent(memo, new QKeyEvent(QEvent::KeyPress, Qt::Key_5 + (*k - '5'),
                                                      Qt::NoModifier, QString(QChar(*k))));
    }
    int charactersWhenPressed = 0;
    const auto pressed = [&] {
      (w.get()->*press)();
      charactersWhenPressed = memo->document()->characterCount();
    };
    QMetaObject::invokeMethod(w.get(), pressed, Qt::QueuedConnection);
    QApplication::processEvents();
    return charactersWhenPressed - (DefinitionMemo::kHeldBackLine + 2);
  };
  EXPECT_EQ(queue("57", &TMetronome::btnStartClick), 2) << "Start reads the keys before it";
  const BeatState s = w->Beat().Engine().Snapshot();
  ASSERT_EQ(s.GroupCount, 2);
  EXPECT_EQ(s.Groups[1], 5);
  EXPECT_EQ(s.Groups[2], 7);
  EXPECT_TRUE(w->Beat().Running());
  EXPECT_EQ(queue("9", &TMetronome::btnStopClick), 2) << "Stop comes before the key's layout";
  EXPECT_FALSE(w->Beat().Running());
  EXPECT_EQ(memo->TextUtf8().substr(0, 4), "579 ");
}

TEST(Memo, DisplayLinesKeptAcrossEditsAreThoseOfTheText) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  DefinitionMemo* memo = w->memList;
  const auto typeAt = [memo](int position, auto... keys) {
    QTextCursor at(memo->document());
    at.setPosition(position);
    memo->setTextCursor(at);
    (QTest::keyClick(memo, keys), ...);
  };
  const struct {
    const char* name;
    std::function<void()> edit;
  } rows[] = {
      {"a digit inside a line", [&] { typeAt(3, Qt::Key_7); }},
      {"a line broken in two", [&] { typeAt(2, Qt::Key_Return); }},
      {"two lines joined", [&] { typeAt(3, Qt::Key_Backspace); }},
      {"a line grown until it wraps", [&] { QTest::keyClicks(memo, QString(200, '5')); }},
      {"undone", [&] { memo->undo(); }},
      {"lines pasted", [&] { memo->insertPlainText("1\n/ 2\n3"); }},
      {"a selection across lines deleted",
       [&] {
         QTextCursor across(memo->document());
         across.setPosition(1);
         across.setPosition(9, QTextCursor::KeepAnchor);
         memo->setTextCursor(across);
         QTest::keyClick(memo, Qt::Key_Delete);
       }},
  };
  memo->SetTextUtf8("/ c\n35\n9");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    (void)memo->DisplayLines();  // kept from before the edit
    row.edit();
    const std::vector<std::string> kept = memo->DisplayLines();
    memo->SetTextUtf8(memo->TextUtf8());  // read afresh
    EXPECT_EQ(kept, memo->DisplayLines());
  }
}

TEST(Memo, CharactersTheFilesCannotHoldBecomeQuestionMarksAndAreNamedOnce) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  CaughtBoxes boxes;
  w->memList->setFocus();
  const auto type = [&](const char* typed) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(typed));
    QApplication::sendEvent(w->memList, &press);
  };
  for (const char* typed : {"3", "한", "2"}) type(typed);
  EXPECT_EQ(w->memList->TextUtf8(), "3?2");
  QCoreApplication::processEvents();
  EXPECT_EQ(boxes.texts, QStringList{QString::fromStdString(UnstorableMessage("한") + ".")});
  w->memList->clear();
  QGuiApplication::clipboard()->setText(
      QString::fromUtf8("a\u2028b\r\n\u301c\xf0\x9f\x98\x80表한?\xc3\xa9"));
  w->memList->paste();
  EXPECT_EQ(w->memList->TextUtf8(), "a\nb\n\uff5e?表???");
  type("한");
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes.texts.size(), 2) << "a character already named is not named again";
  EXPECT_EQ(boxes.texts[1],
            QString::fromStdString(UnstorableMessage("\xf0\x9f\x98\x80 \xc3\xa9") + "."));
}

}  // namespace
}  // namespace pendlo::ui
