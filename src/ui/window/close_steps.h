// FormClose: the main window's close and save, also run at a signal, an
// ending session or a lost display.
#pragma once

#include <functional>
#include <string>

#include "files/session.h"
#include "transport/transport.h"

namespace pendlo::ui {

struct MetronomeControls;
class FlashScheduler;
class WindowErrors;
class WindowPosition;

// The tempo, the meter and the window position as "init.sav" holds them.
Settings CurrentSettings(const MetronomeControls& controls, const WindowPosition& position);

// What a close stops and saves.
struct CloseSources {
  const MetronomeControls& controls;
  const WindowPosition& position;
  Transport& transport;
  FlashScheduler& flashes;
  Session* session;  // null without a data directory, as start-up said
};

// Timer off, then the settings and the memo's text saved as Session::Save
// does: each only if start-up read it and it changed; a "dtp.sav" that did
// not load exactly or changed on disk meanwhile is kept beside before the
// edited text replaces it. Returns what was kept where ("" for nothing).
// Throws one error naming each file that failed, one per line.
std::string FormClose(const CloseSources& from);

// FormClose that never throws: returns the error's message, or on success
// where a file was kept beside "dtp.sav"; empty otherwise.
std::string SaveBeforeExit(const CloseSources& from);

// FormClose for the window's close event, shown through `errors`: where the
// other version went, or what failed, asking then what to do
// (FailedSaveAnswer). Save elsewhere runs `saveTextElsewhere` (the Save
// dialog: false when cancelled, throws when the write fails, which is shown
// as the question is asked again). True when the window may close: saved,
// the text saved elsewhere (the settings alone do not keep the window), or
// closing without saving chosen. False, and the window stays open, when
// the question or the Save dialog is cancelled; the next close saves again.
bool CloseAndSave(const CloseSources& from, WindowErrors& errors,
                  const std::function<bool()>& saveTextElsewhere);

}  // namespace pendlo::ui
