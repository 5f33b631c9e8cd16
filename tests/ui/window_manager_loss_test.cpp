// The real program on an X server of the test's own loses its window
// manager while minimised: the window is put back where it was placed, help
// comes back with it, and the exit keeps the placed position.
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

TEST(WindowManagerLoss, WindowsComeBackAsPlaced) {
  OwnDisplay display;
  if (!Installed("openbox") || !Installed("xdotool") || !Installed("xwininfo") ||
      display.Name().empty()) {
    GTEST_SKIP() << "openbox, xdotool, xwininfo and Xvfb are needed";
  }
  using State = WindowWatch::MapState;
  WindowWatch& watch = display.Windows();
  const auto patience = std::chrono::seconds(30);  // Qt starts slowly under the sanitizers
  TempDir dir, runtime, logs;
  std::filesystem::copy_file(PENDLO_BINARY, dir.File("pendlo"));
  const std::string settings = "+120\r\n3\r\n73\r\n42\r\n";  // placed at 73,42
  WriteFile(dir.File("init.sav"), settings);
  const auto x = [&](const std::string& args, std::uint32_t window) {
    return Shell("DISPLAY=" + display.Name() + " " + args + std::to_string(window) +
                 " 2>/dev/null");
  };
  // Focus set by the X server itself: once the window manager is gone, none does.
  const auto key = [&](std::uint32_t window, const std::string& name) {
    Shell("DISPLAY=" + display.Name() + " xdotool windowfocus --sync " + std::to_string(window) +
          " key " + name);
  };
  Program program, wm;
  std::string error;
  ASSERT_TRUE(program.Start(dir.File("pendlo"),
                            Environment(NoSoundServer(runtime.path(), display.Platform()))));
  const std::uint32_t box = watch.AwaitWindow(program, "pendlo", patience);  // no sound server
  const std::uint32_t main = watch.AwaitWindow(program, " Pendlo", patience);
  ASSERT_TRUE(box != 0 && main != 0 && watch.Ping(program, box, patience));
  key(box, "Return");
  ASSERT_TRUE(watch.AwaitMapState(program, box, State::kUnmapped, patience));
  key(main, "h");
  const std::uint32_t help = watch.AwaitWindow(program, "手抜きHelp", patience);
  ASSERT_NE(help, 0u);
  ASSERT_TRUE(StartWindowManager(wm, "openbox", logs.path(), &error, display.Name())) << error;
  x("xdotool windowminimize ", main);
  // Hidden with the main window, and let go of by the window manager.
  ASSERT_TRUE(watch.AwaitMapState(program, help, State::kWithdrawn, patience));
  ASSERT_EQ(kill(wm.pid(), SIGKILL), 0);
  EXPECT_TRUE(watch.AwaitMapState(program, help, State::kMapped, patience)) << "help comes back";
  const std::string where = x("xwininfo -id ", main);
  EXPECT_NE(where.find("upper-left X:  73\n  Absolute upper-left Y:  42\n"), std::string::npos)
      << where;
  key(main, "x");
  EXPECT_EQ(program.AwaitExit(patience), 0);
  EXPECT_EQ(ReadFile(dir.File("init.sav")), settings);
}

}  // namespace
}  // namespace pendlo::testing
