#include "ui/dialogs/window_errors.h"

#include <QString>
#include <QWidget>

#include "ui/dialogs/error_box.h"
#include "ui/threads/gui_handoff.h"

namespace pendlo::ui {

WindowErrors::WindowErrors(QWidget& window, GuiHandoff& handoff)
    : window_(window), handoff_(handoff) {}

void WindowErrors::Show(const std::string& message) {
  if (starting_ && !shownWhileStarting_.insert(message).second) return;
  ShowErrorBox(QString::fromStdString(message), window_.isVisible() ? &window_ : nullptr);
}

void WindowErrors::ShowFromTick(const std::string& message) {
  if (tickErrorPending_.exchange(true)) return;
  handoff_.Post([this, message] {
    Show(message);
    tickErrorPending_ = false;
  });
}

void WindowErrors::StartupBegins() {
  starting_ = true;
  shownWhileStarting_.clear();
}

}  // namespace pendlo::ui
