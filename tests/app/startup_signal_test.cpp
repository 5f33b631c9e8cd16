// The real program asked to end (SIGTERM, as at log-off) during start-up: it
// saves what it has read, like a close would, also when one of the files
// cannot be written; and a start-up stuck where nothing can answer still
// ends promptly.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "app/termination.h"
#include "support/desktop.h"
#include "support/files.h"
#include "support/processes.h"
#include "support/program.h"

namespace pendlo {
namespace {

using testing::Environment;
using testing::ListDir;
using testing::NoSoundServer;
using testing::OwnDisplay;
using testing::Program;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Generous: a loaded CI machine under the sanitizers starts Qt slowly.
constexpr auto kPatience = std::chrono::seconds(30);
// The title of the program's main window, and of its error boxes.
constexpr const char* kWindow = " Pendlo";
constexpr const char* kBox = "pendlo";

TEST(StartupSignal, TerminationDuringStartupSavesWhatWasRead) {
  const struct {
    const char* name;
    std::function<void(const std::string& dir)> prepare;
    std::string settingsAfter, textAfter;
    std::string logged;  // in the program's error output
  } rows[] = {
      // A tempo below the range shows as 20, a change the close writes; the
      // text, not edited, is already on disk as it is.
      {"while the sound error box is open",
       [](const std::string& dir) {
         WriteFile(dir + "init.sav", "+5\r\n9\r\n10\r\n20\r\n");
         WriteFile(dir + "dtp.sav", "/ 7/8\n322");
       },
       "20\r\n9\r\n10\r\n20\r\n", "/ 7/8\n322", ""},
      {"init.sav read-only",
       [](const std::string& dir) {
         WriteFile(dir + "init.sav", "+5\r\n9\r\n10\r\n20\r\n");
         chmod((dir + "init.sav").c_str(), 0444);
         WriteFile(dir + "dtp.sav", "/ 7/8\n322");
       },
       "+5\r\n9\r\n10\r\n20\r\n", "/ 7/8\n322", "init.sav: ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
  };
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir scratch, runtime;
    const std::string dir = scratch.path();
    std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
    row.prepare(dir);
    Program program;
    ASSERT_TRUE(program.Start(dir + "pendlo",
                              Environment(NoSoundServer(runtime.path(), display.Platform())),
                              runtime.path() + "stderr"));
    // Start-up is through once the sound error box (no server) is up.
    ASSERT_NE(display.Windows().AwaitWindow(program, kBox, kPatience), 0u);
    ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
    const int status = program.AwaitExit(kPatience);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(dir + "init.sav"), row.settingsAfter);
    EXPECT_EQ(ReadFile(dir + "dtp.sav"), row.textAfter);
    const std::string log = ReadFile(runtime.path() + "stderr");
    if (!row.logged.empty()) {
      EXPECT_NE(log.find(dir + row.logged), std::string::npos) << log;
    }
  }
}

// An X display that takes the connection and never answers: the toolkit's
// start-up waits for it forever.
class SilentDisplay {
 public:
  SilentDisplay() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    for (int n = 50; n < 100 && display_ < 0; ++n) {
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      at.sin_port = htons(static_cast<std::uint16_t>(6000 + n));
      if (bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(fd_, 4) == 0) {
        display_ = n;
      }
    }
  }
  ~SilentDisplay() {
    if (client_ >= 0) close(client_);
    close(fd_);
  }
  // "127.0.0.1:<n>", or "" when no port was free.
  std::string Name() const {
    return display_ < 0 ? std::string() : "127.0.0.1:" + std::to_string(display_);
  }
  // Takes a waiting connection, if there is one.
  bool Connected() {
    if (client_ < 0) client_ = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return client_ >= 0;
  }
  // Waits until `program` connects, while it runs and at most kPatience.
  bool AwaitConnection(const Program& program) {
    return testing::AwaitReadable(fd_, {program.pid()},
                                  std::chrono::steady_clock::now() + kPatience) &&
           Connected();
  }

 private:
  int fd_ = -1;
  int client_ = -1;
  int display_ = -1;
};

TEST(StartupSignal, AStartupStuckWhereNothingAnswersEndsPromptly) {
  SilentDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no free display port";
  TempDir scratch, runtime;
  const std::string dir = scratch.path();
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  WriteFile(dir + "init.sav", "+120\r\n9\r\n10\r\n20\r\n");
  const auto env =
      Environment(NoSoundServer(runtime.path(), {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display.Name(),
                                                 "XAUTHORITY=/nonexistent"}));
  Program program;
  ASSERT_TRUE(program.Start(dir + "pendlo", env, runtime.path() + "stderr"));
  // Stuck in the toolkit's start-up, waiting for the display's answer.
  ASSERT_TRUE(display.AwaitConnection(program));
  ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
  const auto sent = std::chrono::steady_clock::now();
  const int status = program.AwaitExit(app::kUnansweredGrace + kPatience);
  const auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_LT(took, app::kUnansweredGrace + std::chrono::seconds(3));
  // Nothing was read, so nothing was written.
  EXPECT_EQ(ReadFile(dir + "init.sav"), "+120\r\n9\r\n10\r\n20\r\n");
}

TEST(StartupSignal, OnWaylandTheStoredPositionIsNeitherAppliedNorOverwritten) {
  if (!testing::Installed("weston")) GTEST_SKIP() << "weston is not installed";
  TempDir scratch, runtime;
  Program weston;
  std::string error;
  ASSERT_TRUE(testing::StartHeadlessWeston(weston, runtime.path(), "weston", &error)) << error;
  const std::string dir = scratch.path();
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  WriteFile(dir + "init.sav", "72\r\n3\r\n300\r\n200\r\n");
  // The client library logs each request as the program makes it: the
  // sound error box's title is set once start-up is through. The widgets
  // draw into shared memory: Qt's EGL integration is left out, so Mesa's
  // software driver is not loaded only to be unloaded again, leaving a block
  // that the leak checker can no longer name (Mesa 22.3.6-1+deb12u2).
  const auto env = Environment(NoSoundServer(
      runtime.path(),
      {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=weston", "DISPLAY=", "PENDLO_AUDIO=sdl",
       "WAYLAND_DEBUG=client", "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none"}));
  const std::string log = runtime.path() + "stderr";
  Program program;
  ASSERT_TRUE(program.Start(dir + "pendlo", env, log, dir));
  const auto boxUp = [&] {
    return ReadFile(log).find(".set_title(\"" + std::string(kBox) + "\")") != std::string::npos;
  };
  ASSERT_TRUE(testing::AwaitFile(log, boxUp, {program.pid()},
                                 std::chrono::steady_clock::now() + kPatience));
  ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
  const int status = program.AwaitExit(kPatience);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << status << ReadFile(runtime.path() + "stderr");
  EXPECT_EQ(ReadFile(dir + "init.sav"), "72\r\n3\r\n300\r\n200\r\n");
}

TEST(CommandLine, AnswersOrRefusesWithoutAFileOrTheDisplay) {
  const struct {
    const char* name;
    const char* args;
    int status;
    const char* out;  // the start of standard output
    const char* err;  // found in standard error
  } rows[] = {
      {"--help", "--help", 0, "使い方: pendlo [オプション]\n", ""},
      {"-h", "-h", 0, "使い方: pendlo [オプション]\n", ""},
      {"--version", "--version", 0, "pendlo " PENDLO_VERSION "\n", ""},
      {"--help after a toolkit option", "-platform xcb --help", 0, "使い方", ""},
      {"an unknown option", "--frob", 2, "", "不明なオプションです: --frob"},
      {"an argument", "song.dtp", 2, "", "引数は取りません: song.dtp"},
      {"a toolkit option without its value", "-platform", 2, "", "-platform には値が必要です"},
  };
  SilentDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no free display port";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir scratch, data, output;
    std::filesystem::copy_file(PENDLO_BINARY, scratch.path() + "pendlo");
    // A display that never answers: a program that touched it would hang
    // until the time-out.
    const std::string command = "cd " + scratch.path() + " && env DISPLAY=" + display.Name() +
                                " QT_QPA_PLATFORM=xcb XDG_DATA_HOME=" + data.path() +
                                " timeout 30 ./pendlo " + row.args + " >" + output.File("out") +
                                " 2>" + output.File("err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), row.status);
    EXPECT_TRUE(ReadFile(output.File("out")).starts_with(row.out)) << ReadFile(output.File("out"));
    EXPECT_NE(ReadFile(output.File("err")).find(row.err), std::string::npos)
        << ReadFile(output.File("err"));
    EXPECT_EQ(testing::ListDir(scratch.path()), std::set<std::string>{"pendlo"});
    EXPECT_TRUE(testing::ListDir(data.path()).empty());
    EXPECT_FALSE(display.Connected());
  }
}

// Fonts: none at all (fontconfig given a configuration without a font
// directory) is said once on standard error; the machine's own fonts are not.
TEST(StartupSignal, NoFontIsSaidOnce) {
  const std::string kSaid = "pendlo: no font";  // none at all, or none with Japanese
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  for (const bool fonts : {false, true}) {
    SCOPED_TRACE(fonts ? "the machine's fonts" : "no font");
    TempDir scratch, runtime;
    const std::string dir = scratch.path();
    std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
    auto overrides = NoSoundServer(runtime.path(), display.Platform());
    if (!fonts) {
      WriteFile(runtime.path() + "fonts.conf",
                "<?xml version=\"1.0\"?><fontconfig></fontconfig>\n");
      overrides.push_back("FONTCONFIG_FILE=" + runtime.path() + "fonts.conf");
    }
    Program program;
    ASSERT_TRUE(program.Start(dir + "pendlo", Environment(overrides), runtime.path() + "stderr"));
    ASSERT_NE(display.Windows().AwaitWindow(program, kBox, kPatience), 0u);
    ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
    EXPECT_EQ(program.AwaitExit(kPatience), 0);
    const std::string log = ReadFile(runtime.path() + "stderr");
    const auto first = log.find(kSaid);
    EXPECT_EQ(first != std::string::npos, !fonts) << log;
    if (first != std::string::npos) {
      EXPECT_EQ(log.find(kSaid, first + 1), std::string::npos) << "said twice";
    }
  }
}

TEST(StartupSignal, TheDisplayKilledSavesAsAClose) {
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  TempDir scratch, runtime;
  const std::string dir = scratch.path();
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  WriteFile(dir + "init.sav", "72\r\n9\r\n10\r\n20\r\n");
  WriteFile(dir + "dtp.sav", "/ 7/8\r\n322\r\n");
  Program program;
  ASSERT_TRUE(program.Start(dir + "pendlo",
                            Environment(NoSoundServer(runtime.path(), display.Platform())),
                            runtime.path() + "stderr"));
  // The window, and over it the sound error box (no server) once the
  // output was tried, where no output opens; then the tempo one step up
  // (the scroll bar has the focus) and "5" typed into the memo. The server
  // takes one client's requests in order: the focus is set before the keys.
  testing::WindowWatch& windows = display.Windows();
  const std::uint32_t window = windows.AwaitWindow(program, kWindow, kPatience);
  ASSERT_NE(window, 0u);
  const auto keys = [&](std::uint32_t to, const std::string& names) {
    testing::Shell("DISPLAY=" + display.Name() + " xdotool windowfocus " + std::to_string(to) +
                   " key " + names + " 2>/dev/null");
  };
  if (const std::uint32_t box = windows.AwaitWindow(program, kBox, std::chrono::seconds(5))) {
    keys(box, "Return");
  }
  keys(window, "Right Tab Tab 5");
  // The program takes the keys before its display goes: the first answer
  // says it read them, the second that the turn of its event loop that
  // handed them to the window is over.
  ASSERT_TRUE(windows.Ping(program, window, kPatience) && windows.Ping(program, window, kPatience));
  display.Kill();
  EXPECT_NE(program.AwaitExit(kPatience), -1) << "still running without a display";
  EXPECT_EQ(ReadFile(dir + "init.sav"), "73\r\n9\r\n10\r\n20\r\n");
  EXPECT_EQ(ReadFile(dir + "dtp.sav"), "5/ 7/8\r\n322\r\n");
  const std::set<std::string> names = {"dtp.sav", "init.sav", "pendlo", "pi.wav", "po.wav"};
  EXPECT_EQ(ListDir(dir), names) << "a temporary was left";
}

}  // namespace
}  // namespace pendlo
