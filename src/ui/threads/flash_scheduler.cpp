#include "ui/threads/flash_scheduler.h"

#include <algorithm>
#include <limits>

#include "timer/clock.h"
#include "ui/widgets/look.h"

namespace pendlo::ui {

FlashScheduler::FlashScheduler(IndicatorBar* accentBar, IndicatorBar* plainBar, QObject* parent)
    : QObject(parent), bars_{accentBar, plainBar} {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { Run(); });
}

void FlashScheduler::Schedule(int bar, std::int64_t showAt) {
  pending_.push_back({std::clamp(bar, 0, 1), showAt});
  Run();
}

void FlashScheduler::Drop(std::int64_t from) {
  std::erase_if(pending_, [&](const Pending& p) { return p.showAt >= from; });
  Run();
}

void FlashScheduler::Clear() {
  pending_.clear();
  timer_.stop();
  for (int i = 0; i < 2; ++i) {
    litUntil_[i] = 0;
    bars_[i]->SetFill(QColor(kBlack));
  }
}

void FlashScheduler::Run() {
  const std::int64_t now = steadyNowMicros();
  static constexpr std::array<QRgb, 2> kLit{kFuchsia, kAqua};
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->showAt > now) {
      ++it;
      continue;
    }
    // A flash that comes late still stays lit for its whole length.
    litUntil_[it->bar] = std::max(litUntil_[it->bar], now + kFlashMicros);
    bars_[it->bar]->SetFill(QColor(kLit[it->bar]));
    // Painted now, so the flash reaches at least one frame even if the
    // return to black follows before the next regular repaint.
    bars_[it->bar]->repaint();
    it = pending_.erase(it);
  }
  std::int64_t next = std::numeric_limits<std::int64_t>::max();
  for (int i = 0; i < 2; ++i) {
    if (litUntil_[i] == 0) continue;
    if (litUntil_[i] <= now) {
      litUntil_[i] = 0;
      bars_[i]->SetFill(QColor(kBlack));
    } else {
      next = std::min(next, litUntil_[i]);
    }
  }
  for (const Pending& p : pending_) next = std::min(next, p.showAt);
  if (next == std::numeric_limits<std::int64_t>::max()) {
    timer_.stop();
    return;
  }
  // Round up, so the timer never fires just before its moment.
  const std::int64_t waitMs = std::max<std::int64_t>(0, (next - now + 999) / 1000);
  timer_.start(static_cast<int>(waitMs));
}

}  // namespace pendlo::ui
