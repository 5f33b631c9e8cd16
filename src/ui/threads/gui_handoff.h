// Calls from other threads (the timer's) to be run on the GUI thread, in the
// order they were posted.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

namespace pendlo::ui {

class GuiHandoff final : public QObject {
 public:
  // Created on the GUI thread, which runs the calls.
  explicit GuiHandoff(QObject* parent = nullptr);
  ~GuiHandoff() override;

  // Any thread. Never blocks on the GUI thread: the call is queued under a
  // short lock, and the GUI thread is woken once for however many wait.
  void Post(std::function<void()> call);

 private:
  void RunPending();

  // The calls wait in a queue of our own rather than in Qt's event queue, so
  // each hand-off is a plain mutex and an eventfd, which ThreadSanitizer sees.
  std::mutex mutex_;
  std::vector<std::function<void()>> pending_;
  bool woken_ = false;
  int wakeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace pendlo::ui
