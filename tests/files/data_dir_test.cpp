#include "files/store/data_dir.h"

#include <gtest/gtest.h>

#include "files/faulty_file_system.h"
#include "files/store/errors.h"

namespace pendlo {
namespace {

TEST(DataDirTest, UserDataDirFollowsXdgRules) {
  const struct {
    const char* xdg;
    const char* home;
    const char* dir;
  } rows[] = {
      {"/data", "/home/u", "/data/pendlo/"},
      {"/data/", "/home/u", "/data/pendlo/"},
      {nullptr, "/home/u", "/home/u/.local/share/pendlo/"},
      {"", "/home/u/", "/home/u/.local/share/pendlo/"},
      {"relative/data", "/home/u", "/home/u/.local/share/pendlo/"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(UserDataDir(row.xdg, row.home), row.dir) << (row.xdg ? row.xdg : "(unset)");
  }
}

TEST(DataDirTest, UsesTheExecutableDirectoryOnlyWhenWritable) {
  TempDir dir;
  const std::string exeDir = dir / "bin/";
  const std::string userDir = dir / "home/.local/share/pendlo/";
  std::filesystem::create_directory(exeDir);

  EXPECT_EQ(ChooseDataDir(exeDir, userDir), exeDir);
  EXPECT_FALSE(std::filesystem::exists(userDir));

  FaultyFileSystem readOnly;
  readOnly.accessErr = EACCES;
  readOnly.accessPath = exeDir;
  EXPECT_EQ(ChooseDataDir(exeDir, userDir, readOnly), userDir);
  EXPECT_TRUE(std::filesystem::is_directory(userDir));
  EXPECT_EQ(ChooseDataDir("", userDir), userDir);  // /proc/self/exe unreadable

  // Root may write to /usr/bin, but a system-wide install keeps its data
  // with the user.
  for (const char* system : {"/usr/bin/", "/usr/local/bin", "/bin/", "/opt/pendlo/bin/"}) {
    EXPECT_EQ(ChooseDataDir(system, userDir), userDir) << system;
  }
  EXPECT_FALSE(IsSystemDir("/usrdata/bin/"));
  EXPECT_FALSE(IsSystemDir("/home/u/usr/bin/"));

  // Neither usable: an error naming the user's directory, never a fall back
  // to the working directory.
  WriteFile(dir / "file", "");
  FaultyFileSystem nowhere;
  nowhere.accessErr = EACCES;
  const struct {
    std::string exeDir, userDir;
    FileSystem& fs;
    std::string message;
  } rows[] = {
      {"", dir / "file/pendlo/", RealFileSystem(), dir / "file/pendlo/: 不正なﾌｧｲﾙ名です"},
      {exeDir, userDir, nowhere, userDir + ": ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Thrown<EInOutError>([&] { ChooseDataDir(row.exeDir, row.userDir, row.fs); }),
              row.message);
  }
  EXPECT_EQ(DataFile("", "init.sav"), "") << "no data directory, no data file";
}

TEST(DataDirTest, ExecutableDirIsTheTestProgramsDirectory) {
  const std::string dir = ExecutableDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(dir + "files_tests"));
  EXPECT_EQ(DataFile(dir, "init.sav"), dir + "init.sav");
  EXPECT_EQ(DataFile("/d", "init.sav"), "/d/init.sav");
}

}  // namespace
}  // namespace pendlo
