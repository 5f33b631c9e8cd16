// Helpers for the window tests: the error boxes
// caught instead of shown, and a window built on a data directory.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

class QFileDialog;

#include "support/files.h"
#include "ui/window/metronome.h"

namespace pendlo::ui::testing {

using pendlo::testing::TempDir;

// Collects the error boxes shown while it lives, the boxes that ask among
// them (AskErrorBox), which `answer` answers: the text of the button to
// press, "" (or no `answer`) for Cancel.
class CaughtBoxes {
 public:
  CaughtBoxes();
  ~CaughtBoxes();
  QStringList texts;
  QStringList captions;
  std::function<QString(const QString& text)> answer;
  QStringList choices;  // the buttons the last asking box offered
};

// A main window on dir, shown and exposed, without sound.
std::unique_ptr<TMetronome> MakeWindow(const std::string& dir,
                                       std::unique_ptr<sound::link::SoundLink> sound = nullptr);

// Runs act on the file dialog once it is open (call before the handler that
// opens it).
void WithDialog(std::function<void(QFileDialog*)> act);

// Picks name in the dialog and confirms it. The dialog enters a directory
// instead of taking it; it is then cancelled.
void Choose(QFileDialog* dialog, const std::string& name);

}  // namespace pendlo::ui::testing
