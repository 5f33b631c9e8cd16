#include "ui/threads/gui_handoff.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>

namespace pendlo::ui {

GuiHandoff::GuiHandoff(QObject* parent) : QObject(parent) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
  notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { RunPending(); });
}

GuiHandoff::~GuiHandoff() {
  delete notifier_;
  close(wakeFd_);
}

void GuiHandoff::Post(std::function<void()> call) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(call));
    wake = !woken_;
    woken_ = true;
  }
  if (wake) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

void GuiHandoff::RunPending() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex_);
    calls.swap(pending_);
    woken_ = false;
  }
  // Run without the lock: a call may show a modal box, and the timer thread
  // must be able to post meanwhile.
  for (auto& call : calls) call();
}

}  // namespace pendlo::ui
