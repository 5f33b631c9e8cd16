#include "timer/mmtimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

#include "support/fake_clock.h"

namespace pendlo {
namespace {

using testing::FakeClock;
constexpr Micros kMs = 1000;

// A timer on a fake clock that records the due time and the clock's time of
// every call.
struct Rig {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  TMMTimer timer{clock};
  std::mutex mutex;
  std::vector<Micros> dues;
  std::function<void(TMMTimer&)> extra;

  Rig() {
    timer.SetOnTimer([this](TMMTimer& t) {
      {
        std::lock_guard lock(mutex);
        dues.push_back(t.DueTime());
      }
      if (extra) extra(t);
    });
  }
  std::vector<Micros> Dues() {
    std::lock_guard lock(mutex);
    return dues;
  }
};

TEST(TMMTimerTest, NewTimerIsEnabledAtOneSecondAndTicksOnlyOnceLoaded) {
  Rig rig;
  EXPECT_TRUE(rig.timer.Enabled());
  EXPECT_EQ(rig.timer.Interval(), 1000u);
  EXPECT_FALSE(rig.timer.Armed()) << "assigning the handler alone arms nothing";
  const Micros t0 = rig.clock->now();
  rig.timer.Loaded();
  EXPECT_TRUE(rig.timer.Armed());
  EXPECT_EQ(rig.clock->step(), t0 + 1000 * kMs);
  EXPECT_EQ(rig.Dues(), std::vector<Micros>{t0 + 1000 * kMs});
}

TEST(TMMTimerTest, SameValueKeepsThePhaseAndAChangeRearmsFromNow) {
  Rig rig;
  rig.timer.SetInterval(500);
  rig.timer.Loaded();
  const Micros t0 = rig.clock->now();
  rig.clock->advance(200 * kMs);
  rig.timer.SetInterval(500);  // no change
  rig.timer.SetEnabled(true);  // no change
  EXPECT_EQ(rig.clock->awaitWaiter(), t0 + 500 * kMs);
  rig.timer.SetInterval(499);  // re-arm from this moment
  EXPECT_EQ(rig.clock->awaitWaiter(), t0 + 200 * kMs + 499 * kMs);
  rig.timer.SetEnabled(false);
  rig.clock->advance(300 * kMs);
  rig.timer.SetEnabled(true);
  EXPECT_EQ(rig.clock->awaitWaiter(), t0 + 500 * kMs + 499 * kMs);
}

TEST(TMMTimerTest, ZeroIntervalOrNoHandlerLeavesItDisarmedWithoutError) {
  Rig rig;
  rig.timer.Loaded();
  EXPECT_NO_THROW(rig.timer.SetInterval(0));
  EXPECT_FALSE(rig.timer.Armed());
  EXPECT_TRUE(rig.timer.Enabled());
  rig.timer.SetInterval(20);
  EXPECT_TRUE(rig.timer.Armed());

  TMMTimer bare(std::make_shared<FakeClock>());
  bare.Loaded();
  bare.SetInterval(10);
  EXPECT_FALSE(bare.Armed());
}

TEST(TMMTimerTest, PeriodsMissedDuringALongCallFollowAtOnceInOrder) {
  Rig rig;
  rig.timer.SetInterval(10);
  rig.timer.Loaded();
  const Micros t0 = rig.clock->now();
  bool slow = true;
  rig.extra = [&](TMMTimer&) {
    if (slow) rig.clock->advance(35 * kMs);
    slow = false;
  };
  ASSERT_TRUE(rig.clock->step());  // due t0+10, returns at t0+45
  // Each grid point that passed gets its call, so the handler counts it.
  EXPECT_EQ(rig.clock->awaitWaiter(), t0 + 50 * kMs);
  EXPECT_EQ(rig.Dues(),
            (std::vector<Micros>{t0 + 10 * kMs, t0 + 20 * kMs, t0 + 30 * kMs, t0 + 40 * kMs}));
}

TEST(TMMTimerTest, LookaheadHoldAndRewind) {
  Rig rig;
  rig.timer.SetEnabled(false);
  rig.timer.SetLookahead(30 * kMs);
  rig.timer.SetInterval(100);
  rig.timer.Loaded();
  const Micros t0 = rig.clock->now();
  rig.timer.SetEnabled(true);
  // Called 30 ms ahead, with the due time one full period after arming.
  EXPECT_EQ(rig.clock->step(), t0 + 70 * kMs);
  EXPECT_EQ(rig.Dues(), std::vector<Micros>{t0 + 100 * kMs});
  // Held: the deadline passes without a call; a rewind moves the next call
  // back to a due time already called, with its period.
  rig.timer.Hold();
  rig.clock->set(t0 + 180 * kMs);
  rig.timer.Rewind(t0 + 100 * kMs, 50);
  EXPECT_EQ(rig.Dues().size(), 1u);
  rig.timer.Release();
  EXPECT_EQ(rig.clock->awaitWaiter(), t0 + 220 * kMs);
  EXPECT_EQ(rig.Dues(),
            (std::vector<Micros>{t0 + 100 * kMs, t0 + 100 * kMs, t0 + 150 * kMs, t0 + 200 * kMs}));
  EXPECT_EQ(rig.timer.Interval(), 50u);
}

TEST(TMMTimerTest, NoCallFollowsDisablingAndDisablingWaitsForARunningCall) {
  auto clock = std::make_shared<FakeClock>();
  TMMTimer timer(clock);
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  timer.SetOnTimer([&](TMMTimer&) {
    if (calls++ == 0) {
      entered.set_value();
      released.wait();
    }
  });
  timer.SetInterval(10);
  timer.Loaded();
  clock->set(*clock->awaitWaiter());
  entered.get_future().wait();

  auto disabling = std::async(std::launch::async, [&] { timer.SetEnabled(false); });
  EXPECT_EQ(disabling.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "disabling returned while a call was still running";
  release.set_value();
  disabling.get();
  clock->advance(1000 * kMs);
  EXPECT_FALSE(clock->awaitWaiter(std::chrono::milliseconds(50)));
  EXPECT_EQ(calls.load(), 1);
}

TEST(TMMTimerTest, DisablingAndDestroyingFromInsideTheCallNeverWaitForItself) {
  Rig rig;
  rig.timer.SetInterval(10);
  rig.timer.Loaded();
  rig.extra = [](TMMTimer& t) { t.SetEnabled(false); };
  rig.clock->set(*rig.clock->awaitWaiter());
  // The call disables the timer and returns; nothing waits any more.
  EXPECT_FALSE(rig.clock->awaitWaiter(std::chrono::milliseconds(100)));
  EXPECT_EQ(rig.Dues().size(), 1u);
  EXPECT_FALSE(rig.timer.Armed());
}

TEST(TMMTimerTest, ATimerDestroyedInsideItsOwnCallEndsItsThreadSafely) {
  // The clock tells when the last holder lets go of it.
  auto released = std::make_shared<std::promise<void>>();
  std::shared_ptr<FakeClock> clock(new FakeClock, [released](FakeClock* c) {
    delete c;
    released->set_value();
  });
  auto* timer = new TMMTimer(clock);
  std::promise<void> destroyed;
  timer->SetOnTimer([&](TMMTimer& t) {
    delete &t;
    destroyed.set_value();
  });
  timer->SetInterval(10);
  timer->Loaded();
  clock->set(*clock->awaitWaiter());
  destroyed.get_future().wait();
  // The thread lets go of the clock as it ends, and then nothing can wait on
  // it; under AddressSanitizer any use of the freed timer on its way out is
  // reported.
  clock.reset();
  EXPECT_EQ(released->get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "the timer thread did not end";
}

TEST(TMMTimerTest, AnExceptionFromTheHandlerIsReportedAndTheBeatGoesOn) {
  Rig rig;
  std::atomic<int> errors{0};
  rig.timer.SetOnError([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const EMMTimerError& error) {
      EXPECT_STREQ(error.what(), "No timer available");
      ++errors;
    }
  });
  rig.extra = [](TMMTimer&) { throw EMMTimerError(); };
  rig.timer.SetInterval(10);
  rig.timer.Loaded();
  ASSERT_TRUE(rig.clock->step());
  ASSERT_TRUE(rig.clock->step());
  EXPECT_EQ(errors.load(), 2);
}

TEST(TMMTimerTest, RealClockSmoke) {
  // Generous bounds: this proves the real clock path works, not its accuracy
  // (bench/timer_jitter measures that).
  TMMTimer timer;
  std::mutex mutex;
  std::vector<std::pair<Micros, Micros>> calls;  // due, actual
  timer.SetOnTimer([&](TMMTimer& t) {
    std::lock_guard lock(mutex);
    calls.emplace_back(t.DueTime(), steadyNowMicros());
  });
  timer.SetInterval(20);
  timer.Loaded();
  std::this_thread::sleep_for(std::chrono::milliseconds(230));
  timer.SetEnabled(false);
  std::lock_guard lock(mutex);
  ASSERT_GE(calls.size(), 5u);
  ASSERT_LE(calls.size(), 12u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_GE(calls[i].second, calls[i].first) << "called before its due time";
    if (i > 0) {
      EXPECT_EQ(calls[i].first - calls[i - 1].first, 20 * kMs);
    }
  }
}

}  // namespace
}  // namespace pendlo
