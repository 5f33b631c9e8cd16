// Start-up restores tempo, meter, position and memo from the data directory;
// closing writes them back; failures show one box per cause and start-up
// goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <climits>
#include <filesystem>

#include "files/formats/settings.h"
#include "ui/desktop/window_placement.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using pendlo::testing::ReadFile;
using testing::CaughtBoxes;
using testing::MakeWindow;
using testing::TempDir;

TEST(Startup, FirstStartInAnEmptyDirectory) {
  TempDir dir;
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();
  EXPECT_EQ(dir.Read("init.sav"), "-10000\r\n");
  EXPECT_EQ(dir.Read("pi.wav").size(), 219u);
  EXPECT_EQ(dir.Read("po.wav").size(), 219u);
  EXPECT_EQ(w->lblTempo->text(), "72");
  EXPECT_EQ(w->rgHyoushi->ItemIndex(), 3);
  EXPECT_EQ(w->pos(), QPoint(73, 42));
  EXPECT_EQ(w->memList->TextUtf8(), "");
  EXPECT_EQ(w->Beat().Timer().Interval(), 833u);
  EXPECT_FALSE(w->Beat().Running());
  EXPECT_EQ(QApplication::focusWidget(), w->scrBarTempo);
}

TEST(Startup, RestoresThroughTheControlsAndClosingWritesBackWhatChanged) {
  // Values the window cannot show as read are written back as it shows
  // them; values it shows as read are on disk already.
  const struct {
    const char* name;
    const char* settings;
    int tempo, meter;
    QPoint pos;
    bool written;
  } rows[] = {
      {"saved values", "120\r\n9\r\n100\r\n50\r\n", 120, 9, {100, 50}, false},
      {"out of range", "9999\r\n15\r\n-20\r\n300\r\n", 600, 10, {-20, 300}, true},
      {"no meter", "5\r\n-5\r\n1\r\n2\r\n", 20, -1, {1, 2}, true},
      {"hex and signs", "+72\r\n$3\r\n$10\r\n-0\r\n", 72, 3, {16, 0}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    dir.Write("init.sav", row.settings);
    dir.Write("dtp.sav", "/ comment\r\n3 2\xe5\xef\r\n2");  // "3 2" then invalid Shift-JIS
    CaughtBoxes boxes;
    auto w = MakeWindow(dir.path());
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();
    EXPECT_EQ(w->scrBarTempo->Position(), row.tempo);
    EXPECT_EQ(w->lblTempo->text(), QString::number(row.tempo));
    EXPECT_EQ(w->Beat().Timer().Interval(), static_cast<unsigned>(IntervalForTempo(row.tempo)));
    EXPECT_EQ(w->rgHyoushi->ItemIndex(), row.meter);
    EXPECT_EQ(w->Beat().Engine().MeterSelection(), row.meter);
    EXPECT_EQ(w->pos(), row.pos);
    EXPECT_EQ(w->memList->DisplayLines().size(), 3u);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(dir.Read("init.sav"),
              row.written ? FormatSettings({row.tempo, row.meter, row.pos.x(), row.pos.y()})
                          : std::string(row.settings));
    EXPECT_EQ(dir.Read("dtp.sav"), "/ comment\r\n3 2\xe5\xef\r\n2") << "every byte comes back";
  }
}

TEST(Startup, AStoredPositionOutsideEveryScreenComesBackWithinReach) {
  const QList<QRect> two{{0, 0, 1024, 768}, {1024, 0, 800, 600}};
  const QSize frame(456, 348);
  const struct {
    const char* name;
    QPoint stored;
    QList<QRect> screens;
    QPoint placed;
  } rows[] = {
      {"on the screen", {73, 42}, two, {73, 42}},
      {"partly off, 40 pixels of title bar left", {-416, 700}, two, {-416, 700}},
      {"title bar above the screen", {100, -30}, two, {100, 0}},
      {"far right and below", {5000, 5000}, two, {1824 - 456, 600 - 348}},
      {"far left and above", {-5000, -5000}, two, {0, 0}},
      {"below the smaller screen, beside the larger", {1200, 700}, two, {1200, 600 - 348}},
      {"only 20 pixels of title bar shown", {1004, 100}, {{0, 0, 1024, 768}}, {1024 - 456, 100}},
      {"at the ends of the integers", {INT_MAX, INT_MIN}, two, {1824 - 456, 0}},
      {"no screens", {5000, 5000}, {}, {5000, 5000}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ReachablePosition(row.stored, frame, kTitleBarEstimate, row.screens), row.placed)
        << row.name;
  }
  // The window itself: moved at start-up, and that position is what close
  // writes.
  TempDir dir;
  dir.Write("init.sav", "72\r\n3\r\n5000\r\n5000\r\n");
  auto w = MakeWindow(dir.path());
  const QRect screen = w->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(w->frameGeometry().topLeft())) << w->pos().x() << "," << w->pos().y();
  EXPECT_TRUE(w->close());
  EXPECT_EQ(dir.Read("init.sav"), FormatSettings({72, 3, w->pos().x(), w->pos().y()}));
}

TEST(Startup, AFailedStepIsShownOnceAndTheRestStillRuns) {
  const struct {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    QStringList boxes;
    int tempo;
    bool mended;  // an unchanged close repairs the file: the next start is quiet
  } rows[] = {
      {"non-numeric meter: tempo kept, readout agrees",
       [](const TempDir& d) { d.Write("init.sav", "96\r\nfour\r\n1\r\n2\r\n"); },
       {"%s: 入力値が数値ではありません."},
       96,
       true},
      {"a directory named init.sav: one box for both steps",
       [](const TempDir& d) { std::filesystem::create_directory(d.File("init.sav")); },
       {"%s: ﾌｧｲﾙへのｱｸｾｽが拒否されました."},
       72,
       false},
      {"dtp.sav too large for the memo",
       [](const TempDir& d) {
         d.Write("init.sav", "150\r\n3\r\n0\r\n0\r\n");
         d.Write("dtp.sav", std::string(1024 * 1024 + 1, '1'));
       },
       {"文字列の大きさが ﾒﾓ の制限を越えました."},
       150,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    row.prepare(dir);
    CaughtBoxes boxes;
    auto w = MakeWindow(dir.path());
    QStringList expected = row.boxes;  // %s: the full name of "init.sav"
    expected.replaceInStrings("%s", QString::fromStdString(dir.File("init.sav")));
    EXPECT_EQ(boxes.texts, expected);
    for (const QString& caption : boxes.captions) EXPECT_EQ(caption, "pendlo");
    EXPECT_EQ(w->scrBarTempo->Position(), row.tempo);
    EXPECT_EQ(w->lblTempo->text(), QString::number(row.tempo));
    EXPECT_EQ(w->Beat().Timer().Interval(), static_cast<unsigned>(IntervalForTempo(row.tempo)));
    w->close();
    w.reset();
    boxes.texts.clear();
    MakeWindow(dir.path());
    EXPECT_EQ(boxes.texts, row.mended ? QStringList{} : expected) << "at the next start";
  }
}

TEST(Startup, AnUnreadableSavedTextIsNotOverwrittenByAnEmptyMemo) {
  TempDir dir;
  const std::string big(1024 * 1024 + 1, '1');
  dir.Write("dtp.sav", big);
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  EXPECT_TRUE(w->close());
  EXPECT_EQ(dir.Read("dtp.sav"), big);
}

TEST(Startup, AskedToEndBetweenStepsItSavesOnlyWhatItRead) {
  // A tempo the window shows as 20 once read, so that a save shows; the
  // text, never edited, is not written at all.
  const std::string settings = "+5\r\n9\r\n10\r\n20\r\n", text = "/ 7/8\n322";
  const struct {
    const char* name;
    int stepsRun;  // the checks between steps that pass before the request
    std::string settingsAfter;
    bool prepared;  // the click files were made
  } rows[] = {
      {"before the data directory is known", 0, settings, false},
      {"before the settings are read", 2, settings, true},
      {"before dtp.sav is read", 3, "20\r\n9\r\n10\r\n20\r\n", true},
      {"not at all", 4, "20\r\n9\r\n10\r\n20\r\n", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    dir.Write("init.sav", settings);
    dir.Write("dtp.sav", text);
    int checks = 0;
    MetronomeOptions options;
    options.dataDir = dir.path();
    options.stopRequested = [&] { return ++checks > row.stepsRun; };
    TMetronome w(std::move(options));
    EXPECT_EQ(w.SaveBeforeExit(), "");
    EXPECT_EQ(dir.Read("init.sav"), row.settingsAfter);
    EXPECT_EQ(dir.Read("dtp.sav"), text);
    EXPECT_EQ(std::filesystem::exists(dir.File("pi.wav")), row.prepared);
  }
}

// The save at close fails (the data directory gone after start-up, or
// read-only where that stops the user): a box names both files and asks.
// The answers in turn; past the last, Cancel: the window stays open, and
// the next close saves again.
TEST(Close, AFailedSaveAsksToRetrySaveElsewhereOrExitWithoutSaving) {
  namespace fs = std::filesystem;
  const QString retry = "再試行", elsewhere = "別名で保存...", discard = "保存せずに終了";
  const struct {
    const char* name;
    bool readOnly;  // else gone
    QStringList answers;
    bool backFirst;      // the directory is back before the last answer
    std::string saveAs;  // the Save dialog's choice; "x" in the data directory
    bool closes;
  } rows[] = {
      {"cancel", false, {}, false, "", false},
      {"retry fails, then succeeds", false, {retry, retry}, true, "", true},
      {"save elsewhere", false, {elsewhere}, false, "rhythm", true},
      {"save elsewhere fails, then exit", false, {elsewhere, discard}, false, "x", true},
      {"exit without saving", false, {discard}, false, "", true},
      {"read-only, exit without saving", true, {discard}, false, "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.readOnly && geteuid() == 0) continue;  // root writes anyway
    TempDir dir, other;
    CaughtBoxes boxes;
    auto w = MakeWindow(dir.path());
    w->scrBarTempo->SetPosition(100);
    QTest::keyClicks(w->memList, "35");
    w->btnStartClick();
    const fs::path data = fs::path(dir.path()).parent_path(), away = other.File("away");
    if (row.readOnly) {
      fs::permissions(data / "init.sav", fs::perms::owner_read);
      fs::permissions(data, fs::perms::owner_read | fs::perms::owner_exec);
    } else {
      fs::rename(data, away);  // gone; TempDir removes it where it is
    }
    qsizetype asked = 0;
    boxes.answer = [&](const QString&) {
      if (++asked == row.answers.size() && row.backFirst) fs::rename(away, data);
      return row.answers.value(asked - 1);
    };
    const std::string target = (row.saveAs == "x" ? dir : other).File(row.saveAs);
    if (!row.saveAs.empty())
      testing::WithDialog([&](QFileDialog* d) { testing::Choose(d, target); });
    EXPECT_EQ(w->close(), row.closes);
    EXPECT_FALSE(w->Beat().Running()) << "the timer is off before anything is written";
    ASSERT_EQ(boxes.texts.size(), std::max<qsizetype>(1, row.answers.size()));
    for (const char* file : {"init.sav", "dtp.sav"})
      EXPECT_TRUE(boxes.texts[0].contains(dir.File(file).c_str()));
    EXPECT_EQ(boxes.choices, (QStringList{retry, elsewhere, discard}));
    EXPECT_TRUE(row.saveAs != "x" ||
                boxes.texts[1].startsWith(("ﾌｧｲﾙ " + target + ".dtp を作成できません\n").c_str()));
    EXPECT_EQ(ReadFile(target + ".dtp"), row.saveAs == "rhythm" ? "35" : "<missing>");
    if (!row.closes) {
      fs::rename(away, data);
      EXPECT_TRUE(w->close());
    }
    const bool saved = row.backFirst || !row.closes;
    EXPECT_EQ(dir.Read("init.sav"), saved          ? "100\r\n3\r\n73\r\n42\r\n"
                                    : row.readOnly ? "-10000\r\n"
                                                   : "");
    EXPECT_EQ(dir.Read("dtp.sav"), saved ? "35" : "");
  }
}

TEST(Close, ExitButtonStopsTheBeatThenSaves) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  w->scrBarTempo->SetPosition(150);
  w->rgHyoushi->SetItemIndex(10);
  w->btnStartClick();
  QTest::mouseClick(w->btnOFF, Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->Beat().Running());
  EXPECT_EQ(dir.Read("init.sav"), "150\r\n10\r\n73\r\n42\r\n");
  EXPECT_EQ(w->SaveBeforeExit(), "");
}

}  // namespace
}  // namespace pendlo::ui
