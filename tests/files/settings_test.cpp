#include "files/formats/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <set>
#include <vector>

#include "files/faulty_file_system.h"
#include "files/prepare_files.h"
#include "files/store/errors.h"

namespace pendlo {
namespace {

using namespace std::string_literals;

constexpr const char* kNotANumber = "入力値が数値ではありません";

// Reads four values; a row names the first read that must fail, if any.
struct ReaderRow {
  const char* name;
  std::string bytes;
  std::vector<int> values;    // values delivered before the failure (or all four)
  std::optional<int> failAt;  // index of the read that throws 106
};

TEST(SettingsReaderTest, ReadsIntegersByTheLineRules) {
  const std::vector<ReaderRow> rows = {
      {"four CR LF lines", "120\r\n9\r\n100\r\n50\r\n", {120, 9, 100, 50}, {}},
      {"no settings mark", "-10000\r\n", {-10000, 0, 0, 0}, {}},
      {"plus sign", "+72\r\n", {72, 0, 0, 0}, {}},
      {"hexadecimal", "$48\r\n$a\r\n$Ff\r\n", {72, 10, 255, 0}, {}},
      {"hex is 32-bit two's complement",
       "$FFFFFFFF\r\n$80000000\r\n$7fffffff\r\n",
       {-1, INT_MIN, INT_MAX, 0},
       {}},
      {"text after the number on the line", "72 beats\r\n4 four\r\n", {72, 4, 0, 0}, {}},
      {"blank lines, tabs and control bytes skipped",
       "\r\n\r\n \t72\r\n\x01\x02\x1f 4\r\n\x00 5\r\n"s,
       {72, 4, 5, 0},
       {}},
      {"LF-only lines give the first value and zeros", "120\n9\n100\n50\n", {120, 0, 0, 0}, {}},
      {"cut short gives zeros", "120\r\n9", {120, 9, 0, 0}, {}},
      {"empty file gives zeros", "", {0, 0, 0, 0}, {}},
      {"0x1A ends the file",
       "120\r\n\x1a"
       "9\r\n",
       {120, 0, 0, 0},
       {}},
      {"0x1A ends a token",
       "120\x1a"
       "9\r\n",
       {120, 0, 0, 0},
       {}},
      {"CR alone ends a line", "1\r2\r3\r\n4\r\n", {1, 2, 3, 4}, {}},
      {"line skip looks past further numbers", "1 2\r\n3\r\n", {1, 3, 0, 0}, {}},
      {"decimal limits",
       "2147483647\r\n-2147483647\r\n-0\r\n007\r\n",
       {INT_MAX, -INT_MAX, 0, 7},
       {}},
      {"32-character token", std::string(30, '0') + "72\r\n", {72, 0, 0, 0}, {}},
      {"33-character token refused", std::string(31, '0') + "72\r\n", {}, 0},
      {"below the decimal range", "-2147483648\r\n", {}, 0},
      {"above the decimal range", "2147483648\r\n", {}, 0},
      {"huge decimal", "99999999999999999999\r\n", {}, 0},
      {"nine hex digits", "$000000001\r\n", {}, 0},
      {"dollar alone", "$\r\n", {}, 0},
      {"bad hex digit", "$4G\r\n", {}, 0},
      {"sign before dollar", "-$1\r\n", {}, 0},
      {"sign alone", "-\r\n", {}, 0},
      {"plus alone", "+\r\n", {}, 0},
      {"double sign", "--1\r\n", {}, 0},
      {"decimal point", "1.5\r\n", {}, 0},
      {"letters", "abc\r\n", {}, 0},
      {"full-width digits", "７２\r\n", {}, 0},
      {"second value bad after first delivered", "72\r\nfour\r\n", {72}, 1},
      {"fourth value bad", "1\r\n2\r\n3\r\n4x\r\n", {1, 2, 3}, 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SettingsReader reader(row.bytes);
    for (int i = 0; i < 4; ++i) {
      if (row.failAt == i) {
        try {
          reader.ReadLine();
          ADD_FAILURE() << "read " << i << " did not fail";
        } catch (const EInOutError& e) {
          EXPECT_EQ(e.Code(), 106);
          EXPECT_STREQ(e.what(), kNotANumber);
        }
        break;
      }
      EXPECT_EQ(reader.ReadLine(), row.values.at(i)) << "read " << i;
    }
  }
}

TEST(SettingsReaderTest, GoesOnAfterTheLineOfABadValue) {
  SettingsReader reader("72\r\nfour\r\n3\r\n");
  EXPECT_EQ(reader.ReadLine(), 72);
  EXPECT_THROW(reader.ReadLine(), EInOutError);
  EXPECT_EQ(reader.ReadLine(), 3);
  EXPECT_EQ(reader.ReadLine(), 0);
}

TEST(SettingsFileTest, WritesFourCrLfLinesThatReadBack) {
  const struct {
    Settings settings;
    const char* bytes;
  } rows[] = {
      {{120, 9, 100, 50}, "120\r\n9\r\n100\r\n50\r\n"},
      {{72, 3, -1920, -5}, "72\r\n3\r\n-1920\r\n-5\r\n"},
      {{20, -1, 0, INT_MAX}, "20\r\n-1\r\n0\r\n2147483647\r\n"},
      // The reader refuses INT_MIN in decimal, so it is written one higher.
      {{600, 10, INT_MIN, 7}, "600\r\n10\r\n-2147483647\r\n7\r\n"},
  };
  TempDir dir;
  for (const auto& row : rows) {
    SaveSettings(dir.path(), row.settings);
    EXPECT_EQ(ReadFile(dir / "init.sav"), row.bytes);
    SettingsReader reader = OpenSettings(dir.path());
    EXPECT_EQ(reader.ReadLine(), row.settings.tempo);
    EXPECT_EQ(reader.ReadLine(), row.settings.meter);
    EXPECT_EQ(reader.ReadLine(), std::max(row.settings.left, INT_MIN + 1));
    EXPECT_EQ(reader.ReadLine(), row.settings.top);
  }
  EXPECT_EQ(testing::ListDir(dir.path()), std::set<std::string>{"init.sav"});
}

TEST(SettingsFileTest, OpenFailuresCarryTheirCode) {
  TempDir dir;
  const auto codeOf = [](const std::string& d) { return ThrownInOut([&] { OpenSettings(d); }); };
  // Each message names the file.
  EXPECT_EQ(codeOf(dir.path()), std::make_pair(2, dir / "init.sav: ﾌｧｲﾙが見つかりません"));
  std::filesystem::create_directory(dir / "init.sav");
  EXPECT_EQ(codeOf(dir.path()), std::make_pair(5, dir / "init.sav: ﾌｧｲﾙへのｱｸｾｽが拒否されました"));
  WriteFile(dir / "plain", "");
  EXPECT_EQ(codeOf(dir / "plain/"), std::make_pair(3, dir / "plain/init.sav: 不正なﾌｧｲﾙ名です"));
}

TEST(SettingsFileTest, FailedSaveKeepsTheOldSettings) {
  const struct {
    const char* name;
    int syncErr, renameErr;
    int code;
    const char* message;
  } rows[] = {
      {"sync fails", EIO, 0, EIO, "I/O ｴﾗｰ (5)"},
      {"rename refused", 0, EPERM, 5, "ﾌｧｲﾙへのｱｸｾｽが拒否されました"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    WriteFile(dir / "init.sav", "72\r\n3\r\n73\r\n42\r\n");
    FaultyFileSystem fs;
    fs.syncErr = row.syncErr;
    fs.renameErr = row.renameErr;
    EXPECT_EQ(ThrownInOut([&] {
                SaveSettings(dir.path(), {120, 9, 100, 50}, fs);
              }),
              std::make_pair(row.code, dir / "init.sav: " + row.message));
    EXPECT_EQ(ReadFile(dir / "init.sav"), "72\r\n3\r\n73\r\n42\r\n");
    EXPECT_EQ(testing::ListDir(dir.path()), std::set<std::string>{"init.sav"});
  }
}

}  // namespace
}  // namespace pendlo
