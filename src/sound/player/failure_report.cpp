#include "sound/player/failure_report.h"

#include <utility>

namespace pendlo::sound::player {
namespace {

// A reopened output that plays this long without failing has come back.
constexpr auto kSettle = std::chrono::seconds(2);

}  // namespace

void FailureReport::SetOnFailure(std::function<void()> onFailure) {
  std::lock_guard lock(mutex_);
  onFailure_ = std::move(onFailure);
}

bool FailureReport::Report(std::string message) {
  std::lock_guard lock(mutex_);
  if (failing_) return false;
  failing_ = true;
  pending_ = std::move(message);
  return true;
}

std::string FailureReport::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(pending_, {});
}

void FailureReport::NotifyIfPending() {
  std::function<void()> notify;
  {
    std::lock_guard lock(mutex_);
    if (!pending_.empty()) notify = onFailure_;
  }
  if (notify) notify();
}

void FailureReport::Opened(const std::string& output, bool reconnecting) {
  std::lock_guard lock(mutex_);
  if (reconnecting) {
    settleUntil_ = std::chrono::steady_clock::now() + kSettle;
  } else {
    failing_ = false;
    pending_.clear();
  }
  output_ = output;
}

void FailureReport::Closed() {
  std::lock_guard lock(mutex_);
  output_.clear();
}

void FailureReport::Playing() {
  std::lock_guard lock(mutex_);
  if (failing_ && std::chrono::steady_clock::now() > settleUntil_) failing_ = false;
}

std::string FailureReport::Output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

}  // namespace pendlo::sound::player
