// Shows the indicator flashes on the GUI thread: each flash is lit from the
// moment its click is heard for kFlashMicros, drawn in at least one frame,
// then the bar returns to black.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <vector>

#include "ui/window/controls.h"

namespace pendlo::ui {

inline constexpr std::int64_t kFlashMicros = 16000;

class FlashScheduler : public QObject {
 public:
  // bars[0] lights fuchsia (accent), bars[1] aqua (plain).
  FlashScheduler(IndicatorBar* accentBar, IndicatorBar* plainBar, QObject* parent);

  // Lights bar 0 or 1 at steady-clock time showAt (microseconds of
  // std::chrono::steady_clock); a time already past lights it at once. GUI
  // thread.
  void Schedule(int bar, std::int64_t showAt);

  // Forgets every flash not yet shown that would light at or after
  // steady-clock time from: its click was taken back. GUI thread.
  void Drop(std::int64_t from);

  // Both bars black, nothing pending.
  void Clear();

 private:
  void Run();

  struct Pending {
    int bar;
    std::int64_t showAt;
  };
  std::array<IndicatorBar*, 2> bars_;
  std::array<std::int64_t, 2> litUntil_{0, 0};
  std::vector<Pending> pending_;
  QTimer timer_;
};

}  // namespace pendlo::ui
