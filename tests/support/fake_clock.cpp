#include "support/fake_clock.h"

namespace pendlo::testing {

Micros FakeClock::now() {
  std::lock_guard lock(mutex_);
  return now_;
}

bool FakeClock::waitUntil(Micros deadline) {
  std::unique_lock lock(mutex_);
  if (interrupted_) {
    interrupted_ = false;
    return false;
  }
  if (now_ >= deadline) return true;
  waiting_ = true;
  deadline_ = deadline;
  cv_.notify_all();
  cv_.wait(lock, [&] { return interrupted_ || now_ >= deadline; });
  waiting_ = false;
  cv_.notify_all();
  if (interrupted_) {
    interrupted_ = false;
    return false;
  }
  return true;
}

void FakeClock::interrupt() {
  std::lock_guard lock(mutex_);
  interrupted_ = true;
  waiting_ = false;  // the deadline being waited for is stale from now on
  cv_.notify_all();
}

void FakeClock::set(Micros t) {
  std::lock_guard lock(mutex_);
  if (t > now_) now_ = t;
  if (waiting_ && now_ >= deadline_) waiting_ = false;
  cv_.notify_all();
}

void FakeClock::advance(Micros d) {
  std::lock_guard lock(mutex_);
  now_ += d;
  if (waiting_ && now_ >= deadline_) waiting_ = false;
  cv_.notify_all();
}

std::optional<Micros> FakeClock::awaitWaiter(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [&] { return waiting_; })) return std::nullopt;
  return deadline_;
}

std::optional<Micros> FakeClock::step() {
  const auto deadline = awaitWaiter();
  if (!deadline) return std::nullopt;
  set(*deadline);
  if (!awaitWaiter()) return std::nullopt;
  return deadline;
}

std::vector<Micros> FakeClock::steps(int n) {
  std::vector<Micros> deadlines;
  for (int i = 0; i < n; ++i) {
    const auto deadline = step();
    if (!deadline) break;
    deadlines.push_back(*deadline);
  }
  return deadlines;
}

bool FakeClock::awaitDeadline(Micros deadline) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::seconds(2),
                      [&] { return waiting_ && deadline_ == deadline; });
}

std::vector<Micros> Gaps(const std::vector<Micros>& times) {
  std::vector<Micros> gaps;
  for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
  return gaps;
}

}  // namespace pendlo::testing
