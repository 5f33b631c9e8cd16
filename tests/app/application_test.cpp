// The application object: exceptions escaping event handlers reach the error
// box and the loop goes on; a termination signal runs the save and ends the
// event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <stdexcept>

#include "app/pendlo_application.h"
#include "ui/dialogs/error_box.h"

namespace pendlo::app {
namespace {

class Throwing : public QObject {
 public:
  int handled = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      ++handled;
      throw std::runtime_error("ﾌｧｲﾙ /tmp/x.dtp を作成できません");
    }
    return QObject::event(e);
  }
};

TEST(Application, AnExceptionFromAHandlerIsShownAndTheLoopGoesOn) {
  QStringList texts, captions;
  ui::SetErrorBoxPresenter([&](const QString& caption, const QString& text) {
    captions << caption;
    texts << text;
  });
  Throwing target;
  for (int i = 0; i < 2; ++i) QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  ui::SetErrorBoxPresenter({});
  EXPECT_EQ(target.handled, 2);
  EXPECT_EQ(texts, QStringList(2, "ﾌｧｲﾙ /tmp/x.dtp を作成できません."));
  EXPECT_EQ(captions, QStringList(2, ui::ApplicationTitleText()));
}

TEST(Application, TerminationSignalsRunTheSaveAndEndTheLoop) {
  auto* app = static_cast<PendloApplication*>(QCoreApplication::instance());
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signo);
    int saves = 0;
    app->SetSaveBeforeExit([&] {
      ++saves;
      return std::string();
    });
    int loopResult = -1;
    QTimer::singleShot(0, [signo] { std::raise(signo); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });  // a guard only
    loopResult = QCoreApplication::exec();
    EXPECT_EQ(loopResult, 0);
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(app->ExitRequested());
  }
  app->SetSaveBeforeExit({});
}

}  // namespace
}  // namespace pendlo::app
