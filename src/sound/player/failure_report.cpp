#include "sound/player/failure_report.h"

#include <utility>

namespace pendlo::sound::player {
namespace {

// A reopened output that plays this long without failing has come back.
constexpr Micros kSettleMicros = 2'000'000;

}  // namespace

void FailureReport::SetOnFailure(std::function<void()> onFailure) {
  std::lock_guard lock(mutex_);
  onFailure_ = std::move(onFailure);
}

void FailureReport::SetOnRecovered(std::function<void()> onRecovered) {
  std::lock_guard lock(mutex_);
  onRecovered_ = std::move(onRecovered);
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

std::function<void()> FailureReport::Recovered() {
  return std::exchange(failing_, false) ? onRecovered_ : nullptr;
}

void FailureReport::Opened(const std::string& output, bool reconnecting) {
  std::function<void()> recovered;
  {
    std::lock_guard lock(mutex_);
    if (reconnecting) {
      settleUntil_ = steady_() + kSettleMicros;
    } else {
      recovered = Recovered();
      pending_.clear();
    }
    output_ = output;
  }
  if (recovered) recovered();
}

void FailureReport::Closed() {
  std::lock_guard lock(mutex_);
  output_.clear();
}

void FailureReport::Playing() {
  std::function<void()> recovered;
  {
    std::lock_guard lock(mutex_);
    if (failing_ && steady_() > settleUntil_) recovered = Recovered();
  }
  if (recovered) recovered();
}

std::string FailureReport::Output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

}  // namespace pendlo::sound::player
