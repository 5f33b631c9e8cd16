// A real full disk: a 64 KiB tmpfs filled to the last byte. Every save must
// fail with the program's own message, leave the old file whole and leave
// no temporary file behind; once there is room again, it succeeds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "faults/fault_fixture.h"
#include "faults/save_cases.h"
#include "files/store/errors.h"

namespace pendlo::faults {
namespace {

TEST(FullDisk, EverySaveFailsWithItsMessageAndKeepsTheOldFile) {
  // What each save says when the disk is full: the close's two files alike,
  // code 101 named "<dir><file>: ..."; a ".dtp" file saved through the Save
  // button the write error (its temporary file could be created, its bytes
  // could not be written).
  const struct {
    const char* file;
    const char* message;
  } expected[] = {
      {"init.sav", "init.sav: ﾃﾞｨｽｸがいっぱいです"},
      {"dtp.sav", "dtp.sav: ﾃﾞｨｽｸがいっぱいです"},
      {"rhythm.dtp", "ｽﾄﾘｰﾑへの書き込みｴﾗｰ"},
  };
  Tmpfs disk;
  std::string why;
  if (!disk.Mount(64 * 1024, &why)) GTEST_SKIP() << why;
  const std::string dir = disk.path();

  const auto cases = SaveCases();
  for (const auto& c : cases) WriteFile(dir + c.file, OldBytes(c));
  ASSERT_GT(FillDisk(dir, "filler"), 0u);
  const std::set<std::string> before = ListDir(dir);

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const SaveCase& c = cases[i];
    SCOPED_TRACE(c.name);
    ASSERT_STREQ(c.file, expected[i].file);
    const SaveReport report = ReportSave<EWriteError>(c, dir);
    if (report.code) {
      EXPECT_EQ(*report.code, kInOutDiskFull);
    }
    const bool named = std::string(c.file).ends_with(".sav");
    EXPECT_EQ(report.message, named ? dir + expected[i].message : std::string(expected[i].message));
    EXPECT_EQ(ReadFile(dir + c.file), OldBytes(c));
    EXPECT_EQ(ListDir(dir), before) << "a temporary file was left behind";
  }

  // With room again the same saves go through.
  ASSERT_EQ(unlink((dir + "filler").c_str()), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NO_THROW(c.save(dir));
    EXPECT_NE(ReadFile(dir + c.file), OldBytes(c));
  }
}

}  // namespace
}  // namespace pendlo::faults
