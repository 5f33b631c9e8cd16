// FormCreate: the main window's start-up, step by step, and what follows
// once the window shows (FinishStartup).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "files/session.h"
#include "transport/transport.h"

class QWidget;

namespace pendlo::ui {

struct MetronomeControls;
class WindowErrors;
class WindowPosition;

// What start-up reads into and shows its errors through.
struct StartupTargets {
  QWidget& window;
  const MetronomeControls& controls;
  Transport& transport;
  WindowPosition& position;
  WindowErrors& errors;
  // Set as soon as the data directory is known: a signal may ask for the
  // save while a start-up error box is open.
  std::unique_ptr<Session>& session;
};

// The window's frame, the bars black, the data directory (`dataDir`, or the
// program's own when empty) with its session and click files, the files
// prepared, the settings restored through the controls, the saved text in
// the memo. Each step runs even when an earlier one failed (shown once per
// message); `stopRequested` true between steps ends start-up there, so that
// only what was read is saved. `changeTempo` (ChangeTempo) then always runs,
// and the settings as shown are what a close compares with. Without a data
// directory (shown) there is no session, and nothing is saved.
void FormCreate(const StartupTargets& targets, const std::string& dataDir,
                const std::function<bool()>& stopRequested,
                const std::function<void()>& changeTempo);

// Once the event loop has the window up: the sound output opened, once and
// kept open (a failure is shown once and the beat then runs silently), and
// the clicks prepared.
void FinishStartup(Transport& transport, WindowErrors& errors);

}  // namespace pendlo::ui
