// A second copy of the real program on one data directory, on an X server
// of the test's own and with no sound server: it hands over to the running
// copy and ends at once, reading and writing nothing; a copy on another
// directory runs beside them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "faults/fault_fixture.h"

namespace pendlo::faults {
namespace {

// Generous: a loaded CI machine under the address sanitizer starts Qt slowly.
constexpr auto kPatience = std::chrono::seconds(30);
// The title of the program's error boxes: the sound one is up once start-up
// is through.
constexpr const char* kBox = "pendlo";

TEST(TwoCopies, ASecondCopyOnOneDirectoryEndsAndLeavesTheFirstRunning) {
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  TempDir scratch, elsewhere, runtime;
  const std::string dir = scratch.path();
  // In a directory of its own the program keeps its data files there.
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  std::filesystem::copy_file(PENDLO_BINARY, elsewhere.path() + "pendlo");
  const std::string settings = "+144\r\n9\r\n30\r\n40\r\n";
  const std::string text = "/ 7/8\n322\n";
  WriteFile(dir + "init.sav", settings);
  WriteFile(dir + "dtp.sav", text);

  const auto env = Environment(NoSoundServer(runtime.path(), display.Platform()));
  Program first, second, other;
  ASSERT_TRUE(first.Start(dir + "pendlo", env));
  ASSERT_NE(display.Windows().AwaitWindow(first, kBox, kPatience), 0u) << "did not start";
  ASSERT_TRUE(other.Start(elsewhere.path() + "pendlo", env));

  ASSERT_TRUE(second.Start(dir + "pendlo", env));
  EXPECT_EQ(second.AwaitExit(kPatience), 0) << "the second copy ran on";
  ASSERT_NE(display.Windows().AwaitWindow(other, kBox, kPatience), 0u) << "a copy elsewhere";
  EXPECT_EQ(waitpid(first.pid(), nullptr, WNOHANG), 0) << "the first copy ended";

  ASSERT_EQ(kill(first.pid(), SIGTERM), 0);
  ASSERT_EQ(kill(other.pid(), SIGTERM), 0);
  EXPECT_EQ(first.AwaitExit(kPatience), 0);
  EXPECT_EQ(other.AwaitExit(kPatience), 0);
  // Nothing was changed, so nothing was written back.
  EXPECT_EQ(ReadFile(dir + "init.sav"), settings);
  EXPECT_EQ(ReadFile(dir + "dtp.sav"), text);
  const std::set<std::string> names = {"dtp.sav", "init.sav", "pendlo", "pi.wav", "po.wav"};
  EXPECT_EQ(ListDir(dir), names);
}

}  // namespace
}  // namespace pendlo::faults
