// Calls posted from another thread run on the GUI thread, each once, in order,
// while the posting thread never waits for the GUI.
#include "ui/threads/gui_handoff.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

namespace pendlo::ui {
namespace {

TEST(GuiHandoff, CallsFromAnotherThreadRunOnTheGuiThreadOnceEachInOrder) {
  constexpr int kCalls = 20000;
  GuiHandoff handoff;
  std::vector<int> ran;  // touched by the GUI thread only
  bool offThread = false;
  const std::thread::id gui = std::this_thread::get_id();
  std::atomic<bool> posted{false};
  std::thread poster([&] {
    for (int i = 0; i < kCalls; ++i) {
      handoff.Post([&, i] {
        if (std::this_thread::get_id() != gui) offThread = true;
        ran.push_back(i);
      });
    }
    posted = true;
  });
  // The GUI is busy elsewhere for a while: the poster must not wait for it.
  QTest::qWait(0);
  poster.join();
  EXPECT_TRUE(posted);
  QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(ran.size()), kCalls, 10000);
  QTest::qWait(20);
  ASSERT_EQ(ran.size(), static_cast<std::size_t>(kCalls)) << "none twice";
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(ran[i], i);
  EXPECT_FALSE(offThread);
}

}  // namespace
}  // namespace pendlo::ui
