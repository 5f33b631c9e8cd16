#include "window_fixture.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include "ui/dialogs/error_box.h"

namespace pendlo::ui::testing {

CaughtBoxes::CaughtBoxes() {
  SetErrorBoxPresenter([this](const QString& caption, const QString& text) {
    captions << caption;
    texts << text;
  });
  SetChoiceBoxPresenter(
      [this](const QString& caption, const QString& text, const QStringList& offered) {
        captions << caption;
        texts << text;
        choices = offered;
        return static_cast<int>(offered.indexOf(answer ? answer(text) : QString()));
      });
}

CaughtBoxes::~CaughtBoxes() {
  SetErrorBoxPresenter({});
  SetChoiceBoxPresenter({});
}

std::unique_ptr<TMetronome> MakeWindow(const std::string& dir,
                                       std::unique_ptr<sound::link::SoundLink> sound) {
  MetronomeOptions options;
  options.dataDir = dir;
  options.transport = std::make_unique<Transport>(std::move(sound));
  auto window = std::make_unique<TMetronome>(std::move(options));
  window->show();
  window->activateWindow();
  // A window manager on a busy machine may take a while to map it.
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get(), 20000));
  QTest::qWait(0);  // the rest of start-up, which waits for the event loop
  return window;
}

void WithDialog(std::function<void(QFileDialog*)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}

void Choose(QFileDialog* dialog, const std::string& name) {
  dialog->selectFile(QString::fromStdString(name));
  QMetaObject::invokeMethod(dialog, "accept");
  if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "reject");
}

}  // namespace pendlo::ui::testing
