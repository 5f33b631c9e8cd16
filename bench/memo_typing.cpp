// memo_typing: the real main window (offscreen), its memo filled with a long
// text, then keys typed into it as a user would. Prints the time and CPU per
// key, from the key to its repaint done. Then, as the window system hands
// over what came while the window was busy, six keys and Stop queued at once
// (and again with Start): how long after it was queued Stop (Start) acted,
// and when the keys were in and painted.
//
//   QT_QPA_PLATFORM=offscreen memo_typing [keys=200]
//
// Texts: 100,000 digits on one line; short lines, and one line, up to the
// memo's limit of 1 MiB in the file form less room for the keys; the keys go
// at the end of the text, and also in the middle of the long line.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cpu_seconds.h"
#include "files/formats/definition_text.h"
#include "support/files.h"
#include "ui/dialogs/error_box.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/window/metronome.h"

namespace {

using pendlo::bench::CpuSeconds;

double MillisSince(const QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Counts the memo's repaints.
class Paints : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// Six keys, then `press` (Start or Stop), queued together; prints when the
// button acted and when everything queued was done.
void QueuedBehindKeys(pendlo::ui::TMetronome& w, const char* button,
                      void (pendlo::ui::TMetronome::*press)()) {
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 6; ++i) {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QCoreApplication::postEvent(
          w.memList, new QKeyEvent(type, Qt::Key_5, Qt::NoModifier, QStringLiteral("5")));
    }
  }
  double acted = -1;
  QMetaObject::invokeMethod(
      &w,
      [&] {
        (w.*press)();
        acted = MillisSince(t);
      },
      Qt::QueuedConnection);
  QApplication::processEvents();  // what was queued, then the held-back keys
  QApplication::processEvents();  // their repaint
  std::printf("%28s six keys then %s: %s after %8.3f ms, all done %8.3f ms\n", "", button, button,
              acted, MillisSince(t));
}

// Types `keys` keys at the end of `text`, or in its middle when `middle`.
void Run(const char* name, const std::string& text, int keys, bool middle = false) {
  const pendlo::testing::TempDir dir;
  pendlo::ui::MetronomeOptions options;
  options.dataDir = dir.path();
  auto w = std::make_unique<pendlo::ui::TMetronome>(std::move(options));
  w->show();
  if (!QTest::qWaitForWindowExposed(w.get())) std::fprintf(stderr, "window not exposed\n");
  QTest::qWait(0);
  w->memList->SetTextUtf8(text);
  w->rgHyoushi->SetItemIndex(10);  // tuplets: the memo's text is the pattern
  w->memList->setFocus();
  w->memList->moveCursor(QTextCursor::End);
  if (middle) {
    QTextCursor at = w->memList->textCursor();
    at.setPosition(at.position() / 2);
    w->memList->setTextCursor(at);
  }
  QApplication::processEvents();
  w->btnStartClick();
  Paints paints;
  w->memList->viewport()->installEventFilter(&paints);

  std::vector<double> ms;
  const double cpu0 = CpuSeconds();
  QElapsedTimer all;
  all.start();
  for (int i = 0; i < keys; ++i) {
    QElapsedTimer t;
    t.start();
    const int painted = paints.count;
    QTest::keyClick(w->memList, static_cast<char>('1' + i % 9));
    // The layout and painting the key causes, however many turns it takes.
    while (paints.count == painted) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  const double wall = static_cast<double>(all.nsecsElapsed()) / 1e9;
  const double cpu = CpuSeconds() - cpu0;
  std::sort(ms.begin(), ms.end());
  std::printf(
      "%-28s keys %4d  key to repaint: median %8.3f ms  p90 %8.3f ms  max %8.3f ms  CPU %.1f %%  "
      "%d repaints\n",
      name, keys, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), 100.0 * cpu / wall,
      paints.count);
  QueuedBehindKeys(*w, "Stop", &pendlo::ui::TMetronome::btnStopClick);
  QueuedBehindKeys(*w, "Start", &pendlo::ui::TMetronome::btnStartClick);
  w->btnStopClick();
  w.reset();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The texts leave room for the keys under the memo's limit; a refused key
  // would be said here.
  pendlo::ui::SetErrorBoxPresenter([](const QString&, const QString& text) {
    std::fprintf(stderr, "box: %s\n", text.toUtf8().constData());
  });
  const int keys = argc > 1 ? std::atoi(argv[1]) : 200;
  const std::size_t room = pendlo::kMemoLimitBytes - static_cast<std::size_t>(keys) - 12;
  const std::string pair = "/ comment line of a pattern\n3579\n";  // 35 bytes with CR LF
  std::string lines;
  while ((lines.size() / pair.size() + 1) * 35 <= room) lines += pair;
  Run("100,000 digits on one line", std::string(100000, '3'), keys);
  Run("1 MiB less the keys, short lines", lines, keys);
  Run("1 MiB less the keys, one line", std::string(room, '7'), keys / 4 + 1);
  Run("the same, typed in its middle", std::string(room, '7'), keys / 4 + 1, true);
  return 0;
}
