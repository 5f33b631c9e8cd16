// Open and Save through the real (non-native) file dialogs: placement, the
// filter, the forced extension, the remembered names, cancelling, and the
// beat going on while a dialog is open; Qt's Japanese buttons.
#include "ui/dialogs/file_dialogs.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "app/translations.h"
#include "support/fake_clock.h"
#include "ui/widgets/definition_memo.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::CaughtBoxes;
using testing::Choose;
using testing::MakeWindow;
using testing::TempDir;
using testing::WithDialog;

TEST(FileDialogs, PlacementRule) {
  const struct {
    QRect screen;
    QSize dialog;
    QPoint at;
  } rows[] = {
      {{0, 0, 1024, 768}, {600, 400}, {212, 122}},
      {{0, 0, 1920, 1080}, {601, 401}, {659, 226}},
      {{1920, 0, 1280, 1024}, {500, 300}, {1920 + 390, 241}},
  };
  for (const auto& row : rows) EXPECT_EQ(DialogPosition(row.screen, row.dialog), row.at);
}

TEST(FileDialogs, SaveForcesTheExtensionOverwritesAndIsOfferedNextTime) {
  TempDir dir;
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  dir.Write("beat.dtp", "old");
  w->memList->SetTextUtf8("/ 7/8\n322");
  QStringList filters;
  QPoint placed;
  WithDialog([&](QFileDialog* d) {
    filters = d->nameFilters();
    EXPECT_TRUE(d->testOption(QFileDialog::DontUseNativeDialog));
    const QRect screen = d->screen()->geometry();
    placed = d->pos();
    EXPECT_EQ(placed, DialogPosition(screen, d->frameGeometry().size()));
    Choose(d, dir.File("beat.txt"));
  });
  QTest::mouseClick(w->btnSave, Qt::LeftButton);
  EXPECT_EQ(filters, QStringList{"*.dtp"});
  EXPECT_EQ(dir.Read("beat.dtp"), "/ 7/8\r\n322") << "replaced without asking";
  EXPECT_EQ(w->dlgFiles->SaveName(), QString::fromStdString(dir.File("beat.dtp")));

  QStringList offered;
  WithDialog([&](QFileDialog* d) {
    offered = d->selectedFiles();
    QMetaObject::invokeMethod(d, "reject");
  });
  w->memList->SetTextUtf8("changed");
  w->btnSaveClick();
  EXPECT_EQ(offered, QStringList{QString::fromStdString(dir.File("beat.dtp"))});
  EXPECT_EQ(dir.Read("beat.dtp"), "/ 7/8\r\n322") << "cancel writes nothing";
  EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(FileDialogs, OpenReplacesTheMemoAndCancelChangesNothing) {
  TempDir dir;
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  dir.Write("r.dtp", "3\r\n/ x\r5\n");
  WithDialog([&](QFileDialog* d) { Choose(d, dir.File("r.dtp")); });
  w->btnOpenClick();
  EXPECT_EQ(w->memList->TextUtf8(), "3\n/ x\n5\n");
  EXPECT_EQ(w->dlgFiles->OpenName(), QString::fromStdString(dir.File("r.dtp")));
  WithDialog([&](QFileDialog* d) { QMetaObject::invokeMethod(d, "reject"); });
  w->memList->SetTextUtf8("kept");
  w->btnOpenClick();
  EXPECT_EQ(w->memList->TextUtf8(), "kept");
  EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(FileDialogs, JapaneseButtonsFromQtsTranslationEnglishWithoutIt) {
  TempDir dir;
  dir.Write("qtbase_ja.qm", "not a translation");
  const struct {
    const char* name;
    QString translations;
    bool japanese;
  } rows[] = {
      {"no file", QString::fromStdString(dir.File("missing")), false},
      {"a broken file", QString::fromStdString(dir.path()), false},
      {"Qt's translations", app::QtTranslationsDir(), true},
  };
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTranslator* ja = app::InstallQtJapanese(*QCoreApplication::instance(), row.translations);
    ASSERT_EQ(ja != nullptr, row.japanese) << "Qt's Japanese comes with qt6-translations-l10n";
    QString save, cancel;
    WithDialog([&](QFileDialog* d) {
      auto* buttons = d->findChild<QDialogButtonBox*>();
      ASSERT_NE(buttons, nullptr);
      for (QAbstractButton* b : buttons->buttons()) {
        if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) save = b->text();
      }
      cancel = buttons->button(QDialogButtonBox::Cancel)->text();
      QMetaObject::invokeMethod(d, "reject");
    });
    w->btnSaveClick();
    if (row.japanese) {
      EXPECT_TRUE(save.contains(QStringLiteral("保存"))) << save.toStdString();
      EXPECT_TRUE(cancel.contains(QStringLiteral("キャンセル"))) << cancel.toStdString();
    } else {
      EXPECT_TRUE(save.contains(QStringLiteral("Save"))) << save.toStdString();
      EXPECT_TRUE(cancel.contains(QStringLiteral("Cancel"))) << cancel.toStdString();
    }
    if (ja != nullptr) {
      QCoreApplication::removeTranslator(ja);
      delete ja;
    }
  }
  EXPECT_TRUE(boxes.texts.isEmpty());
}

// Records only that clicks were played.
class CountingLink final : public sound::link::SoundLink {
 public:
  explicit CountingLink(std::shared_ptr<pendlo::testing::FakeClock> clock)
      : clock_(std::move(clock)) {}
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  bool Play(const std::string&, Micros) override {
    ++plays;
    return true;
  }
  Micros HeardAt(Micros) override { return steadyNowMicros(); }
  void EnsureOpen() override {}
  std::atomic<int> plays{0};

 private:
  std::shared_ptr<pendlo::testing::FakeClock> clock_;
};

TEST(FileDialogs, TheBeatGoesOnWhileADialogIsOpen) {
  TempDir dir;
  auto clock = std::make_shared<pendlo::testing::FakeClock>();
  auto link = std::make_unique<CountingLink>(clock);
  CountingLink* counting = link.get();
  auto w = MakeWindow(dir.path(), std::move(link));
  w->btnStartClick();
  int during = 0;
  WithDialog([&](QFileDialog* d) {
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(clock->step().has_value());
    during = counting->plays;
    QMetaObject::invokeMethod(d, "reject");
  });
  w->btnOpenClick();
  EXPECT_EQ(during, 3);
  EXPECT_TRUE(w->Beat().Running());
}

}  // namespace
}  // namespace pendlo::ui
