// A data directory on a file system remounted read-only: every save fails
// with the program's message and nothing on the disk changes; the program
// itself there, with no other data directory to use, writes nowhere.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "faults/fault_fixture.h"
#include "faults/save_cases.h"
#include "files/store/errors.h"

namespace pendlo::faults {
namespace {

TEST(ReadOnlyDirectory, EverySaveFailsWithItsMessageAndChangesNothing) {
  Tmpfs disk;
  std::string why;
  if (!disk.Mount(64 * 1024, &why)) GTEST_SKIP() << why;
  const std::string dir = disk.path();
  // Nothing can be created there, not even the temporary file, so the
  // definition texts fail at creation and name the file.
  const std::map<std::string, std::string> expected = {
      {"init.sav", dir + "init.sav: ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
      {"dtp.sav", "ﾌｧｲﾙ " + dir + "dtp.sav を作成できません"},
      {"rhythm.dtp", "ﾌｧｲﾙ " + dir + "rhythm.dtp を作成できません"},
  };

  const auto cases = SaveCases();
  for (const auto& c : cases) WriteFile(dir + c.file, OldBytes(c));
  if (!disk.RemountReadOnly(&why)) GTEST_SKIP() << why;
  const std::set<std::string> before = ListDir(dir);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat old {};
    ASSERT_EQ(stat((dir + c.file).c_str(), &old), 0);
    const SaveReport report = ReportSave<EFCreateError>(c, dir);
    if (report.code) {
      EXPECT_EQ(*report.code, kInOutAccessDenied);
    }
    EXPECT_EQ(report.message, expected.at(c.file));
    EXPECT_EQ(ReadFile(dir + c.file), OldBytes(c));
    struct stat now {};
    ASSERT_EQ(stat((dir + c.file).c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, old.st_ino);
    EXPECT_EQ(now.st_mtim.tv_sec, old.st_mtim.tv_sec);
    EXPECT_EQ(now.st_mtim.tv_nsec, old.st_mtim.tv_nsec);
    EXPECT_EQ(now.st_mode, old.st_mode);
    EXPECT_EQ(ListDir(dir), before);
  }
}

TEST(ReadOnlyDirectory, WithNoDataDirectoryTheProgramWritesNowhere) {
  // The program on a read-only disk, its per-user directory impossible to
  // make there, started in a writable working directory.
  Tmpfs disk;
  std::string why;
  if (!disk.Mount(16 << 20, &why)) GTEST_SKIP() << why;
  const std::string dir = disk.path();
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  if (!disk.RemountReadOnly(&why)) GTEST_SKIP() << why;
  OwnDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "no Xvfb";
  TempDir cwd, runtime;
  auto overrides = NoSoundServer(runtime.path(), display.Platform());
  overrides.push_back("XDG_DATA_HOME=" + dir + "data");
  Program program;
  ASSERT_TRUE(program.Start(dir + "pendlo", Environment(overrides), {}, cwd.path()));
  // The box that says there is no data directory.
  ASSERT_NE(display.Windows().AwaitWindow(program, "pendlo", std::chrono::seconds(30)), 0u);
  ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
  const int status = program.AwaitExit(std::chrono::seconds(30));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ListDir(cwd.path()), std::set<std::string>{}) << "data files in the working directory";
  EXPECT_EQ(ListDir(dir), std::set<std::string>{"pendlo"});
}

}  // namespace
}  // namespace pendlo::faults
