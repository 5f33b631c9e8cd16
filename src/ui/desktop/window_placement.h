// Where the main window may go: whether the platform lets a program place
// its windows at all, and a stored position brought back within reach.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace pendlo::ui {

// The title bar's height assumed before the window manager's frame is known.
inline constexpr int kTitleBarEstimate = 24;

// False where the platform decides where windows go (Wayland): a position is
// then neither applied nor learnt, and the stored one is kept as it was.
bool PlatformPlacesWindows();

// The frame position for a window stored at `stored` (its frame's top-left
// corner) with a frame of `frame` size on `screens` (their available areas,
// in desktop coordinates). A title bar (the frame's top titleHeight pixels)
// that shows at least 32 × 8 pixels on some screen keeps the stored
// position; otherwise the window moves onto the screen nearest to its title
// bar, as little as it takes to lie wholly on it (its top-left corner first
// when it is larger than the screen). No screens: `stored`.
QPoint ReachablePosition(QPoint stored, QSize frame, int titleHeight, const QList<QRect>& screens);

}  // namespace pendlo::ui
