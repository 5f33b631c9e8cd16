#include "ui/dialogs/window_errors.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ui/dialogs/error_box.h"
#include "ui/dialogs/message_translation.h"
#include "ui/threads/gui_handoff.h"

namespace pendlo::ui {

WindowErrors::WindowErrors(QWidget& window, GuiHandoff& handoff)
    : window_(window), handoff_(handoff) {}

void WindowErrors::Show(const std::string& message) {
  if (starting_ && !shownWhileStarting_.insert(message).second) return;
  ShowErrorBox(TranslateMessage(message), Parent());
}

FailedSaveAnswer WindowErrors::AskAfterFailedSave(const std::string& message) {
  // In the order of FailedSaveAnswer after kStay, which Cancel answers.
  const QStringList choices{
      QCoreApplication::translate("pendlo::ui::WindowErrors", "再試行"),
      QCoreApplication::translate("pendlo::ui::WindowErrors", "別名で保存..."),
      QCoreApplication::translate("pendlo::ui::WindowErrors", "保存せずに終了")};
  const int chosen = AskErrorBox(TranslateMessage(message), choices, Parent());
  return chosen < 0 ? FailedSaveAnswer::kStay : static_cast<FailedSaveAnswer>(chosen + 1);
}

void WindowErrors::ShowLasting(const std::string& message) {
  CloseLasting();
  lasting_ = OpenErrorBox(TranslateMessage(message), &window_);
}

void WindowErrors::CloseLasting() {
  if (lasting_) lasting_->close();
}

void WindowErrors::ShowFromTick(const std::string& message) {
  if (tickErrorPending_.exchange(true)) return;
  handoff_.Post([this, message] {
    Show(message);
    tickErrorPending_ = false;
  });
}

QWidget* WindowErrors::Parent() const {
  return window_.isVisible() ? &window_ : nullptr;
}

void WindowErrors::StartupBegins() {
  starting_ = true;
  shownWhileStarting_.clear();
}

}  // namespace pendlo::ui
