#include "ui/desktop/window_placement.h"

#include <QGuiApplication>
#include <algorithm>
#include <limits>

namespace pendlo::ui {

namespace {

constexpr int kGripWidth = 32;
constexpr int kGripHeight = 8;

// The squared distance between two rectangles; 0 when they touch or overlap.
long long Distance(const QRect& a, const QRect& b) {
  const long long dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
  const long long dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
  return dx * dx + dy * dy;
}

}  // namespace

bool PlatformPlacesWindows() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QPoint ReachablePosition(QPoint stored, QSize frame, int titleHeight, const QList<QRect>& screens) {
  // Far beyond any desktop, yet clear of int's ends in the sums below.
  constexpr int kFar = 1 << 24;
  const QPoint at(std::clamp(stored.x(), -kFar, kFar), std::clamp(stored.y(), -kFar, kFar));
  const QRect title(at, QSize(frame.width(), titleHeight));
  const QRect* nearest = nullptr;
  long long best = std::numeric_limits<long long>::max();
  for (const QRect& screen : screens) {
    const QRect shown = title.intersected(screen);
    if (shown.width() >= std::min(kGripWidth, title.width()) &&
        shown.height() >= std::min(kGripHeight, titleHeight)) {
      return stored;
    }
    if (const long long d = Distance(title, screen); d < best) {
      best = d;
      nearest = &screen;
    }
  }
  if (nearest == nullptr) return stored;
  const QRect& s = *nearest;
  return {std::clamp(at.x(), s.left(), std::max(s.left(), s.right() + 1 - frame.width())),
          std::clamp(at.y(), s.top(), std::max(s.top(), s.bottom() + 1 - frame.height()))};
}

}  // namespace pendlo::ui
