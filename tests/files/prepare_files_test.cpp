#include "files/prepare_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "files/faulty_file_system.h"
#include "files/formats/settings.h"
#include "files/store/errors.h"

namespace pendlo {
namespace {

constexpr const char* kAccessDenied = "ﾌｧｲﾙへのｱｸｾｽが拒否されました";

// Two stand-in click images of the real size, different in every byte.
struct Images {
  std::array<std::uint8_t, 219> accent{}, plain{};
  Images() {
    for (std::size_t i = 0; i < accent.size(); ++i) {
      accent[i] = static_cast<std::uint8_t>(i);
      plain[i] = static_cast<std::uint8_t>(255 - i);
    }
  }
  std::string AccentBytes() const { return {accent.begin(), accent.end()}; }
  std::string PlainBytes() const { return {plain.begin(), plain.end()}; }
};

TEST(PrepareFilesTest, FirstStartInAnEmptyDirectoryWritesTheThreeFiles) {
  TempDir dir;
  const Images images;
  PrepareFiles(dir.path(), images.accent, images.plain);
  EXPECT_EQ(testing::ListDir(dir.path()), (std::set<std::string>{"init.sav", "pi.wav", "po.wav"}));
  EXPECT_EQ(ReadFile(dir / "pi.wav"), images.AccentBytes());
  EXPECT_EQ(ReadFile(dir / "po.wav"), images.PlainBytes());
  EXPECT_EQ(ReadFile(dir / "init.sav"), "-10000\r\n");
  EXPECT_EQ(OpenSettings(dir.path()).ReadLine(), kNoSettings);
}

TEST(PrepareFilesTest, NeverOpensAFileThatExists) {
  TempDir dir;
  const Images images;
  WriteFile(dir / "pi.wav", "my own click");
  WriteFile(dir / "init.sav", "120\r\n9\r\n100\r\n50\r\n");
  FaultyFileSystem fs;
  PrepareFiles(dir.path(), images.accent, images.plain, fs);
  EXPECT_EQ(ReadFile(dir / "pi.wav"), "my own click");
  EXPECT_EQ(ReadFile(dir / "init.sav"), "120\r\n9\r\n100\r\n50\r\n");
  EXPECT_EQ(ReadFile(dir / "po.wav"), images.PlainBytes());
  for (const auto& path : fs.opened) {
    EXPECT_NE(path, dir / "pi.wav");
    EXPECT_NE(path, dir / "init.sav");
  }
}

TEST(PrepareFilesTest, ADirectoryInTheWayIsRefusedAndTheOtherFilesAreStillMade) {
  for (const char* name : {"pi.wav", "po.wav", "init.sav"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const Images images;
    std::filesystem::create_directory(dir / name);
    EXPECT_EQ(ThrownInOut([&] { PrepareFiles(dir.path(), images.accent, images.plain); }),
              std::make_pair(5, dir / name + ": " + kAccessDenied));
    EXPECT_TRUE(std::filesystem::is_directory(dir / name));
    EXPECT_EQ(testing::ListDir(dir.path()),
              (std::set<std::string>{"init.sav", "pi.wav", "po.wav"}));
  }
}

TEST(PrepareFilesTest, FailuresLeaveNoPartFile) {
  const struct {
    const char* name;
    int openTempErr;
    long writeBudget;
    int code;
    const char* message;
  } rows[] = {
      {"read-only directory", EACCES, -1, 5, kAccessDenied},
      {"read-only file system", EROFS, -1, 5, kAccessDenied},
      {"too many open files", EMFILE, -1, 4, "ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます"},
      {"disk full after 100 bytes", 0, 100, 101, "ﾃﾞｨｽｸがいっぱいです"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const Images images;
    FaultyFileSystem fs;
    fs.openTempErr = row.openTempErr;
    fs.writeBudget = row.writeBudget;
    // The first that failed is named.
    EXPECT_EQ(ThrownInOut([&] { PrepareFiles(dir.path(), images.accent, images.plain, fs); }),
              std::make_pair(row.code, dir / "pi.wav: " + row.message));
    // A cut "pi.wav" would count as present at every later start.
    for (const auto& name : testing::ListDir(dir.path())) {
      if (name == "pi.wav") {
        EXPECT_EQ(ReadFile(dir / name), images.AccentBytes());
      }
      if (name == "po.wav") {
        EXPECT_EQ(ReadFile(dir / name), images.PlainBytes());
      }
      EXPECT_NE(name.rfind(".pendlo-", 0), 0u) << "temporary file left: " << name;
    }
  }
}

TEST(PrepareFilesTest, LongDirectoryPathsAreNotCut) {
  TempDir dir;
  const Images images;
  std::string deep = dir.path();
  while (deep.size() < 600) deep += std::string(60, 'd') + "/";
  std::filesystem::create_directories(deep);
  PrepareFiles(deep, images.accent, images.plain);
  SaveSettings(deep, {100, 4, 1, 2});
  EXPECT_EQ(ReadFile(deep + "pi.wav"), images.AccentBytes());
  EXPECT_EQ(ReadFile(deep + "init.sav"), "100\r\n4\r\n1\r\n2\r\n");
}

}  // namespace
}  // namespace pendlo
