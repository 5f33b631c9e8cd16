// Runs TMMTimer on the monotonic clock at 500, 100 and 11 ms and prints how
// late each call came against its due time, and the process's CPU use.
//
//   timer_jitter [seconds-per-run=10]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "cpu_seconds.h"
#include "timer/mmtimer.h"

namespace {

using pendlo::bench::CpuSeconds;

void Run(std::uint32_t interval, double seconds) {
  pendlo::TMMTimer timer;
  std::mutex mutex;
  std::vector<double> lateMs;
  lateMs.reserve(static_cast<size_t>(seconds * 1000 / interval) + 16);
  timer.SetOnTimer([&](pendlo::TMMTimer& t) {
    const double late = static_cast<double>(pendlo::steadyNowMicros() - t.DueTime()) / 1000.0;
    {
      std::lock_guard lock(mutex);
      lateMs.push_back(late);
    }
  });
  timer.SetEnabled(false);
  timer.SetInterval(interval);
  timer.Loaded();
  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  timer.SetEnabled(true);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  timer.SetEnabled(false);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;

  std::lock_guard lock(mutex);
  std::sort(lateMs.begin(), lateMs.end());
  const auto at = [&](double q) {
    return lateMs.empty() ? 0.0 : lateMs[static_cast<size_t>(q * (lateMs.size() - 1))];
  };
  std::printf("%6u ms  calls %6zu  late median %.3f ms  p99 %.3f ms  max %.3f ms  CPU %.3f %%\n",
              interval, lateMs.size(), at(0.5), at(0.99), lateMs.empty() ? 0.0 : lateMs.back(),
              100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  Run(500, seconds);
  Run(100, seconds);
  Run(11, seconds);
  return 0;
}
