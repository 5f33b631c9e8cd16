// A data directory on a file system remounted read-only: every save fails
// with the program's message and nothing on the disk changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <exception>
#include <map>
#include <set>
#include <string>

#include "faults/fault_fixture.h"
#include "faults/save_cases.h"
#include "files/errors.h"

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
    std::string message = "<no error>";
    try {
      c.save(dir);
    } catch (const EInOutError& e) {
      message = e.what();
      EXPECT_EQ(e.Code(), kInOutAccessDenied);
    } catch (const EFCreateError& e) {
      message = e.what();
    } catch (const std::exception& e) {
      message = std::string("unexpected error type: ") + e.what();
    }
    EXPECT_EQ(message, expected.at(c.file));
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

}  // namespace
}  // namespace pendlo::faults
