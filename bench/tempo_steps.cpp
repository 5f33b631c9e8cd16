// tempo_steps: the real main window (offscreen) with the saved text of many
// short lines, as a user who steps the tempo and changes the meter: prints
// the GUI thread's time for each step, first while the text is as loaded,
// then right after each edit of it.
//
//   QT_QPA_PLATFORM=offscreen tempo_steps [lines=300000] [steps=40]
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/files.h"
#include "ui/dialogs/error_box.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/metronome.h"

namespace {

using Window = pendlo::ui::TMetronome;

// Times act, with the events it leaves (layout, painting) handled.
double Millis(const std::function<void()>& act) {
  QElapsedTimer t;
  t.start();
  act();
  QApplication::processEvents();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void Print(const char* name, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-34s steps %3zu  median %8.3f ms  p90 %8.3f ms  max %8.3f ms\n", name, ms.size(),
              ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
}

void Run(int meter, int lines, int steps) {
  const pendlo::testing::TempDir dir;
  std::string text;
  for (int i = 0; i < lines; ++i) text += i % 3 == 2 ? "/\r\n" : i % 3 == 0 ? "3\r\n" : "5\r\n";
  pendlo::testing::WriteFile(dir.path() + "dtp.sav", text);
  pendlo::testing::WriteFile(dir.path() + "init.sav",
                             "72\r\n" + std::to_string(meter) + "\r\n0\r\n0\r\n");
  pendlo::ui::MetronomeOptions options;
  options.dataDir = dir.path();
  auto w = std::make_unique<Window>(std::move(options));
  w->show();
  if (!QTest::qWaitForWindowExposed(w.get())) std::fprintf(stderr, "window not exposed\n");
  QApplication::processEvents();
  w->btnStartClick();

  std::vector<double> step;
  int tempo = 72;
  for (int i = 0; i < steps; ++i) {
    step.push_back(Millis([&] { w->scrBarTempo->SetPosition(++tempo); }));
  }
  std::vector<double> edited;
  w->memList->setFocus();
  for (int i = 0; i < steps / 4; ++i) {
    // Digits and new lines, as a pattern is typed.
    QTest::keyClick(w->memList, i % 2 == 0 ? Qt::Key_3 : Qt::Key_Return);
    QApplication::processEvents();
    edited.push_back(Millis([&] { w->scrBarTempo->SetPosition(++tempo); }));
  }
  std::vector<double> meters;
  for (int i = 0; i < steps / 4; ++i) {
    meters.push_back(Millis([&] { w->rgHyoushi->SetItemIndex(i % 2 == 0 ? 9 : 10); }));
  }
  w->btnStopClick();
  const std::string title = "meter " + std::to_string(meter) + ", ";
  Print((title + "tempo step").c_str(), step);
  Print((title + "tempo step after a key").c_str(), edited);
  Print((title + "meter change 9 <-> 10").c_str(), meters);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A box would wait for a click nobody gives.
  pendlo::ui::SetErrorBoxPresenter([](const QString&, const QString& text) {
    std::fprintf(stderr, "box: %s\n", text.toUtf8().constData());
  });
  const int lines = argc > 1 ? std::atoi(argv[1]) : 300000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 40;
  std::printf("%d lines of the saved text (%d bytes)\n", lines, lines * 3);
  for (const int meter : {3, 10}) Run(meter, lines, steps);
  return 0;
}
