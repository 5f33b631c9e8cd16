// What a screen reader is told about the main window, through Qt's
// accessibility interfaces (AT-SPI on Linux): the main window as a window,
// the group boxes as named groupings, the meter items as the radio buttons
// of their group, the indicator bars left out, the scroll bar and the memo
// named after the group box that labels them, and whether the beat runs.
// Nothing here changes how a control looks or behaves.
#pragma once

#include <QWidget>
#include <initializer_list>

namespace pendlo::ui {

struct MetronomeControls;

// Installs, once per process, the interfaces of the window's own controls
// (the main window, group boxes, meter items, bevelled panels). Call before
// the first of them is built: Qt keeps the interface it made first for each
// object.
void InstallAccessibleControls();

// Gives the tempo scroll bar and the memo the caption of their group box as
// their accessible name.
void NameLabelledControls(const MetronomeControls& controls);

// Says whether the beat runs as the accessible description of each of
// `widgets` ("演奏中" or "停止中"). Each one whose description changes
// sends a DescriptionChanged event, which a screen reader speaks when that
// widget has the focus; an unchanged state sends nothing.
void SayRunning(std::initializer_list<QWidget*> widgets, bool running);

}  // namespace pendlo::ui
