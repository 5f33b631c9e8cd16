// A window's state for the taskbar, set on X11 where Qt has no word for it.
#pragma once

class QWidget;

namespace pendlo::ui {

// Before `window` (a top-level widget) is mapped: asks for no taskbar or
// pager entry of its own (_NET_WM_STATE_SKIP_TASKBAR, _SKIP_PAGER). The
// window manager drops the state when the window is withdrawn, so call it
// before each show. Does nothing on another platform.
void SkipTaskbar(QWidget* window);

}  // namespace pendlo::ui
