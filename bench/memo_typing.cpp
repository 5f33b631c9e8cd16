// memo_typing: the real main window (offscreen), its memo filled with a long
// text, then keys typed into it as a user would. Prints the time and CPU per
// key, and how late the beat's ticks came on the timer thread meanwhile.
//
//   QT_QPA_PLATFORM=offscreen memo_typing [keys=200]
//
// Texts: 100,000 digits on one line; short lines, and one line, up to the
// memo's limit of 1 MiB in the file form less room for the keys.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
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

void Run(const char* name, const std::string& text, int keys) {
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
  QApplication::processEvents();
  w->btnStartClick();

  std::vector<double> ms;
  const double cpu0 = CpuSeconds();
  QElapsedTimer all;
  all.start();
  for (int i = 0; i < keys; ++i) {
    QElapsedTimer t;
    t.start();
    QTest::keyClick(w->memList, static_cast<char>('1' + i % 9));
    QApplication::processEvents();  // the layout and painting the key causes
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  const double wall = static_cast<double>(all.nsecsElapsed()) / 1e9;
  const double cpu = CpuSeconds() - cpu0;
  w->btnStopClick();
  std::sort(ms.begin(), ms.end());
  std::printf("%-28s keys %4d  per key: median %8.3f ms  p90 %8.3f ms  max %8.3f ms  CPU %.1f %%\n",
              name, keys, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), 100.0 * cpu / wall);
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
  const std::size_t room = pendlo::kMemoLimitBytes - static_cast<std::size_t>(keys);
  const std::string pair = "/ comment line of a pattern\n3579\n";  // 35 bytes with CR LF
  std::string lines;
  while ((lines.size() / pair.size() + 1) * 35 <= room) lines += pair;
  Run("100,000 digits on one line", std::string(100000, '3'), keys);
  Run("1 MiB less the keys, short lines", lines, keys);
  Run("1 MiB less the keys, one line", std::string(room, '7'), keys / 4 + 1);
  return 0;
}
