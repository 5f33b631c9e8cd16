// State that a test waits on while another thread changes it: the other
// thread calls Changed after each change, so that no wait polls. Shared by
// the fake sound device, the click loader's waits and the hang guard.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pendlo::testing {

class Watched {
 public:
  // Wakes every waiter to look again (taking the lock first, so that no
  // waiter between its look and its wait misses the change).
  void Changed() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
  }
  // Waits until `ready` holds, looked at after each change, or `limit`
  // passes; whether it holds.
  template <class F>
  bool Await(F ready, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, ready);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace pendlo::testing
