#include "files/formats/definition_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/faulty_file_system.h"
#include "files/store/errors.h"

namespace pendlo {
namespace {

constexpr const char* kWriteError = "ｽﾄﾘｰﾑへの書き込みｴﾗｰ";
constexpr const char* kMemoLimit = "文字列の大きさが ﾒﾓ の制限を越えました";

TEST(ForceDtpExtensionTest, ReplacesTheExtensionOfTheLastPathElement) {
  const struct {
    const char* name;
    const char* forced;
  } rows[] = {
      {"rhythm", "rhythm.dtp"},
      {"rhythm.txt", "rhythm.dtp"},
      {"rhythm.dtp", "rhythm.dtp"},
      {"a.b/rhythm", "a.b/rhythm.dtp"},
      {"/home/u/a.b/rhythm.old.txt", "/home/u/a.b/rhythm.old.dtp"},
      {"rhythm.", "rhythm.dtp"},
      {"/tmp/リズム.テキスト", "/tmp/リズム.dtp"},
  };
  for (const auto& row : rows) EXPECT_EQ(ForceDtpExtension(row.name), row.forced) << row.name;
}

TEST(DefinitionFileTest, SaveAndLoadKeepEveryByte) {
  const char* files[] = {
      "/ comment only\r\n/ 3+2+2\r\n",
      "/ 変拍子\r\n322\r\n\x81\x80\xFF\xED\x40\r\n",
      "1\r\n2",
      "",
  };
  TempDir dir;
  for (const std::string file : files) {
    WriteFile(dir / "a.dtp", file);
    const std::string text = LoadDefinitionText(dir / "a.dtp");
    SaveDefinitionText(dir / "b.dtp", text);
    EXPECT_EQ(ReadFile(dir / "b.dtp"), file);
  }
  SaveDefinitionText(dir / "c.dtp", "1\n2\n");
  EXPECT_EQ(ReadFile(dir / "c.dtp"), "1\r\n2\r\n");
  EXPECT_EQ(LoadDefinitionText(dir / "c.dtp"), "1\n2\n");
}

TEST(DefinitionFileTest, RefusesAFileOverTheMemoLimitWithoutReadingIt) {
  TempDir dir;
  WriteFile(dir / "max.dtp", std::string(kMemoLimitBytes, '1'));
  EXPECT_EQ(LoadDefinitionText(dir / "max.dtp").size(), kMemoLimitBytes);

  WriteFile(dir / "big.dtp", std::string(kMemoLimitBytes + 1, '1'));
  FaultyFileSystem fs;
  EXPECT_EQ(Thrown<EMemoLimitError>([&] { LoadDefinitionText(dir / "big.dtp", fs); }), kMemoLimit);
  EXPECT_EQ(fs.reads, 0);
}

TEST(DefinitionFileTest, LoadErrorsNameTheFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.dtp");
  for (const std::string& path : {dir / "missing.dtp", dir / "folder.dtp", dir / "no/such.dtp"}) {
    EXPECT_EQ(Thrown<EFOpenError>([&] { LoadDefinitionText(path); }),
              "ﾌｧｲﾙ " + path + " は開けません");
  }
}

TEST(DefinitionFileTest, FailedSaveLeavesTheOldFileWhole) {
  const struct {
    const char* name;
    long writeBudget;
    int writeErr, syncErr, closeErr, renameErr;
    bool createError;  // else the write error
  } rows[] = {
      {"write makes no progress", 5, 0, 0, 0, 0, false},
      {"I/O error on write", 0, EIO, 0, 0, 0, false},
      {"sync fails", -1, 0, EIO, 0, 0, false},
      {"close reports a lost write", -1, 0, 0, EDQUOT, 0, false},
      {"rename refused", -1, 0, 0, 0, EACCES, true},
  };
  const std::string old = "/ old\r\n322\r\n";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    WriteFile(dir / "r.dtp", old);
    FaultyFileSystem fs;
    fs.writeBudget = row.writeBudget;
    fs.writeErr = row.writeErr;
    fs.syncErr = row.syncErr;
    fs.closeErr = row.closeErr;
    fs.renameErr = row.renameErr;
    EXPECT_EQ(Thrown<EFileError>(
                  [&] { SaveDefinitionText(dir / "r.dtp", "/ new and longer\n35\n", fs); }),
              row.createError ? "ﾌｧｲﾙ " + (dir / "r.dtp") + " を作成できません"
                              : std::string(kWriteError));
    EXPECT_EQ(ReadFile(dir / "r.dtp"), old);
    EXPECT_EQ(testing::ListDir(dir.path()), std::set<std::string>{"r.dtp"});
  }
}

TEST(DefinitionFileTest, SaveErrorsForPathsThatCannotBeFiles) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.dtp");
  WriteFile(dir / "plain", "");
  for (const std::string& path : {dir / "folder.dtp", dir / "no/such.dtp", dir / "plain/x.dtp"}) {
    EXPECT_EQ(Thrown<EFCreateError>([&] { SaveDefinitionText(path, "1"); }),
              "ﾌｧｲﾙ " + path + " を作成できません");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.dtp"));
}

TEST(DefinitionFileTest, HowAFileIsReplaced) {
  const uid_t other = 4321;  // some other user's file, made only as root
  const struct {
    const char* name;
    mode_t mode;
    bool otherOwner;
    int openTempErr, chownErr;
    const char* text;
    bool sameInode;  // written in place (or not at all)
    mode_t modeAfter;
  } rows[] = {
      {"beside and renamed, mode kept", 0640, false, 0, 0, "2", false, 0640},
      {"directory not writable: in place", 0640, false, EACCES, 0, "2", true, 0640},
      {"owner cannot be kept: in place", 0666, true, 0, EPERM, "2", true, 0666},
      {"nobody could read it: its owner can now", 0, false, 0, 0, "2", false, 0600},
      {"the same bytes: left as it is", 0640, false, 0, 0, "1", true, 0640},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.otherOwner && ::geteuid() != 0) continue;
    TempDir dir;
    const std::string path = dir / "r.dtp";
    WriteFile(path, "1");
    ::chmod(path.c_str(), row.mode);
    if (row.otherOwner) {
      ASSERT_EQ(::chown(path.c_str(), other, other), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    FaultyFileSystem fs;
    fs.openTempErr = row.openTempErr;
    fs.chownErr = row.chownErr;
    SaveDefinitionText(path, row.text, fs);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, row.sameInode);
    EXPECT_EQ(after.st_mode & 07777, row.modeAfter);
    EXPECT_EQ(after.st_uid, before.st_uid);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(ReadFile(path), row.text);
    EXPECT_EQ(testing::ListDir(dir.path()), std::set<std::string>{"r.dtp"});
  }
}

TEST(DefinitionFileTest, ReadOnlyDirectory) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
  TempDir dir;
  WriteFile(dir / "r.dtp", "1");
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  // The writable file is overwritten in place; a new one cannot be made.
  SaveDefinitionText(dir / "r.dtp", "2");
  EXPECT_EQ(ReadFile(dir / "r.dtp"), "2");
  EXPECT_THROW(SaveDefinitionText(dir / "new.dtp", "2"), EFCreateError);
}

TEST(DefinitionFileTest, SaveReplacesThroughLinksAndKeepsPermissions) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteFile(dir / "real/r.dtp", "1");
  ::chmod((dir / "real/r.dtp").c_str(), 0640);
  std::filesystem::create_symlink("real/r.dtp", dir / "link.dtp");  // relative
  std::filesystem::create_symlink(dir / "link.dtp", dir / "chain.dtp");
  std::filesystem::create_symlink("real/new.dtp", dir / "dangling.dtp");

  SaveDefinitionText(dir / "chain.dtp", "2\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "chain.dtp"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.dtp"));
  EXPECT_EQ(ReadFile(dir / "real/r.dtp"), "2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "real/r.dtp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  SaveDefinitionText(dir / "dangling.dtp", "3");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.dtp"));
  EXPECT_EQ(ReadFile(dir / "real/new.dtp"), "3");

  std::filesystem::create_symlink("loop2.dtp", dir / "loop1.dtp");
  std::filesystem::create_symlink("loop1.dtp", dir / "loop2.dtp");
  EXPECT_THROW(SaveDefinitionText(dir / "loop1.dtp", "4"), EFCreateError);
}

TEST(DefinitionFileTest, LongPathsAreNotCut) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 600) deep += std::string(60, 'd') + "/";
  std::filesystem::create_directories(deep);
  const std::string path = deep + std::string(250, 'n') + ".dtp";  // near the element limit
  SaveDefinitionText(path, "322");
  EXPECT_EQ(LoadDefinitionText(path), "322");
}

}  // namespace
}  // namespace pendlo
