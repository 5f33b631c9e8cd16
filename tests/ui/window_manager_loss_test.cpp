// The real program on an X server of the test's own, its window manager
// gone while the main window is minimised: the windows stay where they were
// placed, help comes back with the main window, and Escape closes help.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/desktop.h"
#include "support/files.h"
#include "support/program.h"

namespace pendlo::testing {
namespace {

// Generous: a loaded machine under the sanitizers starts Qt slowly.
constexpr auto kPatience = std::chrono::seconds(30);
// Placed at 73,42; a frame's offset would show in what the exit writes.
const std::string kSettings = "+120\r\n3\r\n73\r\n42\r\n";

std::string Id(std::uint32_t window) {
  return std::to_string(window);
}

TEST(WindowManagerLoss, PlacedPositionKeptAndHelpBackAfterItDiesWhileMinimised) {
  if (!Installed("openbox") || !Installed("xdotool") || !Installed("xwininfo")) {
    GTEST_SKIP() << "openbox, xdotool and xwininfo are needed";
  }
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  WindowWatch& watch = display.Windows();
  TempDir scratch, runtime, logs;
  const std::string dir = scratch.path();
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  WriteFile(dir + "init.sav", kSettings);
  const auto x = [&](const std::string& args) {
    return Shell("DISPLAY=" + display.Name() + " " + args + " 2>/dev/null");
  };
  // Focus by the X server itself: after the window manager, nobody else does.
  const auto key = [&](std::uint32_t window, const char* name) {
    x("xdotool windowfocus --sync " + Id(window) + " key " + name);
  };
  Program program;
  ASSERT_TRUE(program.Start(dir + "pendlo",
                            Environment(NoSoundServer(runtime.path(), display.Platform()))));
  // Without a window manager: the sound box (no server), then the window.
  const std::uint32_t box = watch.AwaitWindow(program, "pendlo", kPatience);
  const std::uint32_t main = watch.AwaitWindow(program, " Pendlo", kPatience);
  ASSERT_NE(box, 0u);
  ASSERT_NE(main, 0u);
  ASSERT_TRUE(watch.Ping(program, box, kPatience));
  key(box, "Return");
  ASSERT_TRUE(watch.AwaitMapped(program, box, false, kPatience)) << "Enter closes the box";
  key(main, "h");
  const std::uint32_t help = watch.AwaitWindow(program, "手抜きHelp", kPatience);
  ASSERT_NE(help, 0u) << "H shows help";

  Program wm;
  std::string error;
  ASSERT_TRUE(StartWindowManager(wm, "openbox", logs.path(), &error, display.Name())) << error;
  x("xdotool windowminimize " + Id(main));
  ASSERT_TRUE(watch.AwaitMapped(program, main, false, kPatience)) << "minimised";
  ASSERT_TRUE(watch.AwaitMapped(program, help, false, kPatience)) << "help goes with it";
  ASSERT_EQ(kill(wm.pid(), SIGKILL), 0);
  // The X server maps the main window itself when its window manager dies.
  EXPECT_TRUE(watch.AwaitMapped(program, main, true, kPatience));
  EXPECT_TRUE(watch.AwaitMapped(program, help, true, kPatience)) << "help comes back";
  ASSERT_TRUE(watch.Ping(program, main, kPatience));
  EXPECT_NE(x("xwininfo -id " + Id(main))
                .find("Absolute upper-left X:  73\n"
                      "  Absolute upper-left Y:  42\n"),
            std::string::npos)
      << "left where it was placed, not where its frame had put it: "
      << x("xwininfo -id " + Id(main));

  key(help, "Escape");
  EXPECT_TRUE(watch.AwaitMapped(program, help, false, kPatience)) << "Escape closes help";
  key(main, "x");
  EXPECT_EQ(program.AwaitExit(kPatience), 0);
  EXPECT_EQ(ReadFile(dir + "init.sav"), kSettings) << "the position saved is the placed one";
}

}  // namespace
}  // namespace pendlo::testing
