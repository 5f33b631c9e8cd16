// How the main window shows its errors: in an error box, over the window once
// it is visible; while start-up runs, each message once; from the timer
// thread, one box at a time however many ticks fail; a state that ends by
// itself (the sound output lost) in a box that does not block the window
// and goes when the state ends.
#pragma once

#include <QPointer>
#include <atomic>
#include <exception>
#include <set>
#include <string>

class QMessageBox;
class QWidget;

namespace pendlo::ui {

class GuiHandoff;

// What the user chose when the save at close failed: keep the window open
// (Cancel: the close is abandoned, the next one saves again), try the save
// again, save the text elsewhere, or close without saving.
enum class FailedSaveAnswer { kStay, kRetry, kSaveElsewhere, kExitWithoutSaving };

class WindowErrors {
 public:
  // Boxes go over `window`; the timer thread's reach the GUI thread through
  // `handoff`.
  WindowErrors(QWidget& window, GuiHandoff& handoff);

  // GUI thread: shows `message`, unless start-up runs and showed it already.
  void Show(const std::string& message);

  // GUI thread: runs f, showing what it throws.
  template <typename F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      Show(e.what());
    }
  }

  // GUI thread: shows what the close's save said failed (`message`, which
  // names each file and why) and asks what to do; waits for the answer.
  FailedSaveAnswer AskAfterFailedSave(const std::string& message);

  // GUI thread: shows `message` without waiting, in a box that leaves the
  // window usable, until CloseLasting (one such box: a new one replaces it).
  void ShowLasting(const std::string& message);
  // GUI thread: the lasting box goes, if it is up.
  void CloseLasting();

  // Timer thread: shows `message` on the GUI thread, unless a box it asked
  // for has not been shown yet.
  void ShowFromTick(const std::string& message);

  // Start-up begins or ends: in between, each message is shown once.
  void StartupBegins();
  void StartupEnds() { starting_ = false; }

 private:
  // Over the window once it is visible.
  QWidget* Parent() const;

  QWidget& window_;
  GuiHandoff& handoff_;
  bool starting_ = false;
  std::set<std::string> shownWhileStarting_;
  std::atomic<bool> tickErrorPending_{false};
  QPointer<QMessageBox> lasting_;  // null once closed, by us or the user
};

}  // namespace pendlo::ui
