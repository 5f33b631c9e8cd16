// Hostile data files met by the window: a link to a device, a FIFO, a
// directory, a read-only file, one nobody may read, a huge one, one holding
// NUL bytes and an empty one, in the place of "init.sav" and "dtp.sav" (at
// start-up and at close) and of a ".dtp" file (through Open and Save). Each
// case ends within its time limit, shows the program's message naming the
// file, and leaves the file as the user would want it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <optional>
#include <string>

#include "faults/fault_fixture.h"
#include "faults/save_cases.h"
#include "files/formats/definition_text.h"
#include "files/formats/text_codec.h"
#include "files/store/keep_beside.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window_fixture.h"

namespace pendlo::faults {
namespace {

using namespace std::string_literals;
using ui::testing::CaughtBoxes;
using ui::testing::Choose;
using ui::testing::MakeWindow;
using ui::testing::WithDialog;

constexpr auto kCaseLimit = std::chrono::seconds(20);

// The good files every case starts from, in the program's own form.
const std::string kSettings = "120\r\n9\r\n10\r\n20\r\n";
const std::string kText = "/ 7/8\r\n322\r\n";

// The boxes, with %s for the file's full name.
const std::string kDenied = "%s: ﾌｧｲﾙへのｱｸｾｽが拒否されました.";
const std::string kNoOpen = "ﾌｧｲﾙ %s は開けません.";
const std::string kNoCreate = "ﾌｧｲﾙ %s を作成できません.";
const std::string kMemoLimit = "文字列の大きさが ﾒﾓ の制限を越えました.";
// %k: the name the old file was kept under.
const std::string kKeptUnloaded = "ﾌｧｲﾙ %s はﾒﾓに読み込めなかったので %k に残しました.";
const std::string kKeptChanged = "ﾌｧｲﾙ %s は他で変更されていたので %k に残しました.";

enum class Who { kAnyone, kRoot, kUser };  // root reads files of mode 000

struct Row {
  const char* name;
  Hostile kind;
  const char* file;  // "init.sav" or "dtp.sav": start-up, then close; a ".dtp": Open, then Save
  std::string bytes;
  bool edit;  // "dtp.sav": the text is edited before the close
  Who who;
  std::string firstBox;              // at start-up or Open; "" for none
  std::string secondBox;             // at close or Save
  std::optional<std::string> after;  // Describe() of the file afterwards; none: untouched
};

std::string Named(std::string box, const std::string& path) {
  if (const auto at = box.find("%s"); at != std::string::npos) box.replace(at, 2, path);
  if (const auto at = box.find("%k"); at != std::string::npos)
    box.replace(at, 2, KeptName(path, 1));
  return box;
}

QStringList Boxes(const std::string& box, const std::string& path) {
  return box.empty() ? QStringList() : QStringList{QString::fromStdString(Named(box, path))};
}

// Selects the memo's text and types over it, as a user edits.
void TypeText(ui::DefinitionMemo* memo, const char* text) {
  memo->setFocus();
  QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(memo, text);
}

const std::string kWritten35 = "file 0644 35";

std::vector<Row> Rows() {
  const std::string nul =
      "/ 7/8\r\n3\0"s
      "22\r\n";  // the memo keeps "/ 7/8\n3"
  const std::string settingsNul =
      "120\r\n\0"s
      "9\r\n10\r\n20\r\n";
  const std::string tempo150 = "150\r\n9\r\n10\r\n20\r\n";  // the settings after the close
  // LF line ends at the limit: CR LF would take it past, so it is refused.
  std::string lfAtLimit;
  while (lfAtLimit.size() < kMemoLimitBytes) lfAtLimit += "3\n";
  constexpr auto any = Who::kAnyone, root = Who::kRoot, user = Who::kUser;
  // clang-format off
  return {
    // name                                 kind                  file          bytes        edit   who   first box   second box  after
    {"init.sav: link to a device",          Hostile::kDeviceLink, "init.sav",   "",          false, root, kDenied,    kDenied,    {}},
    {"init.sav: FIFO",                      Hostile::kFifo,       "init.sav",   "",          false, any,  kDenied,    kDenied,    {}},
    {"init.sav: directory",                 Hostile::kDirectory,  "init.sav",   "",          false, any,  kDenied,    kDenied,    {}},
    {"init.sav: read-only",                 Hostile::kReadOnly,   "init.sav",   kSettings,   false, any,  "",         kDenied,    {}},
    {"init.sav: mode 000, root reads it",   Hostile::kNoAccess,   "init.sav",   kSettings,   false, root, "",         "",         "file 0600 " + tempo150},
    {"init.sav: mode 000",                  Hostile::kNoAccess,   "init.sav",   kSettings,   false, user, kDenied,    "",         "file 0600 150\r\n3\r\n73\r\n42\r\n"},
    {"init.sav: huge, its head is read",    Hostile::kHuge,       "init.sav",   kSettings,   false, any,  "",         "",         "file 0644 " + tempo150},
    {"init.sav: NUL bytes are blanks",      Hostile::kBytes,      "init.sav",   settingsNul, false, any,  "",         "",         "file 0644 " + tempo150},
    {"init.sav: empty",                     Hostile::kBytes,      "init.sav",   "",          false, any,  "",         "",         "file 0644 150\r\n0\r\n0\r\n0\r\n"},

    {"dtp.sav: link to a device",           Hostile::kDeviceLink, "dtp.sav",    "",          false, root, kNoOpen,    "",         {}},
    {"dtp.sav: link to a device, edited",   Hostile::kDeviceLink, "dtp.sav",    "",          true,  root, kNoOpen,    kNoCreate,  {}},
    {"dtp.sav: FIFO",                       Hostile::kFifo,       "dtp.sav",    "",          false, any,  kNoOpen,    "",         {}},
    {"dtp.sav: FIFO, edited",               Hostile::kFifo,       "dtp.sav",    "",          true,  any,  kNoOpen,    kNoCreate,  {}},
    {"dtp.sav: directory, unchanged",       Hostile::kDirectory,  "dtp.sav",    "",          false, any,  "",         "",         {}},
    {"dtp.sav: directory, edited",          Hostile::kDirectory,  "dtp.sav",    "",          true,  any,  "",         kNoCreate,  {}},
    {"dtp.sav: read-only, unchanged",       Hostile::kReadOnly,   "dtp.sav",    kText,       false, any,  "",         "",         {}},
    {"dtp.sav: read-only, edited",          Hostile::kReadOnly,   "dtp.sav",    kText,       true,  any,  "",         kNoCreate,  {}},
    {"dtp.sav: mode 000, root reads it",    Hostile::kNoAccess,   "dtp.sav",    kText,       false, root, "",         "",         {}},
    {"dtp.sav: mode 000, root, edited",     Hostile::kNoAccess,   "dtp.sav",    kText,       true,  root, "",         "",         "file 0600 35"},
    {"dtp.sav: mode 000",                   Hostile::kNoAccess,   "dtp.sav",    kText,       false, user, kNoOpen,    "",         {}},
    {"dtp.sav: mode 000, edited",           Hostile::kNoAccess,   "dtp.sav",    kText,       true,  user, kNoOpen,    kKeptUnloaded, "file 0600 35"},
    {"dtp.sav: huge",                       Hostile::kHuge,       "dtp.sav",    kText,       false, any,  kMemoLimit, "",         {}},
    {"dtp.sav: NUL byte, kept whole",       Hostile::kBytes,      "dtp.sav",    nul,         false, any,  "",         "",         {}},
    {"dtp.sav: NUL byte, edited",           Hostile::kBytes,      "dtp.sav",    nul,         true,  any,  "",         kKeptUnloaded, kWritten35},
    {"dtp.sav: LF lines at the limit",      Hostile::kBytes,      "dtp.sav",    lfAtLimit,   false, any,  kMemoLimit, "",         {}},
    {"dtp.sav: LF at the limit, edited",    Hostile::kBytes,      "dtp.sav",    lfAtLimit,   true,  any,  kMemoLimit, kKeptUnloaded, kWritten35},
    {"dtp.sav: empty",                      Hostile::kBytes,      "dtp.sav",    "",          false, any,  "",         "",         {}},

    // Open, then Save over the same file after typing "35".
    {"rhythm.dtp: link to a device",        Hostile::kDeviceLink, "rhythm.dtp", "",          false, root, kNoOpen,    kNoCreate,  {}},
    {"rhythm.dtp: FIFO",                    Hostile::kFifo,       "rhythm.dtp", "",          false, any,  kNoOpen,    kNoCreate,  {}},
    {"rhythm.dtp: directory, not opened",   Hostile::kDirectory,  "rhythm.dtp", "",          false, any,  "",         kNoCreate,  {}},
    {"rhythm.dtp: read-only",               Hostile::kReadOnly,   "rhythm.dtp", kText,       false, any,  "",         kNoCreate,  {}},
    {"rhythm.dtp: mode 000, root",          Hostile::kNoAccess,   "rhythm.dtp", kText,       false, root, "",         "",         "file 0600 35"},
    {"rhythm.dtp: mode 000",                Hostile::kNoAccess,   "rhythm.dtp", kText,       false, user, kNoOpen,    "",         "file 0600 35"},
    {"rhythm.dtp: huge",                    Hostile::kHuge,       "rhythm.dtp", kText,       false, any,  kMemoLimit, "",         kWritten35},
    {"rhythm.dtp: NUL byte",                Hostile::kBytes,      "rhythm.dtp", nul,         false, any,  "",         "",         kWritten35},
    {"rhythm.dtp: empty",                   Hostile::kBytes,      "rhythm.dtp", "",          false, any,  "",         "",         kWritten35},
    {"rhythm.dtp: LF lines at the limit",   Hostile::kBytes,      "rhythm.dtp", lfAtLimit,   false, any,  kMemoLimit, "",         kWritten35},
  };
  // clang-format on
}

TEST(HostileFiles, StartupCloseOpenAndSave) {
  const bool root = geteuid() == 0;
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    if ((row.who == Who::kRoot && !root) || (row.who == Who::kUser && root)) continue;
    const HangGuard guard(row.name, kCaseLimit);
    TempDir scratch;
    const std::string dir = scratch.path();
    const std::string path = dir + row.file;
    WriteFile(dir + "init.sav", kSettings);
    WriteFile(dir + "dtp.sav", kText);
    std::string why;
    if (!MakeHostile(row.kind, path, row.bytes, &why)) {
      ADD_FAILURE() << why;
      continue;
    }
    const std::string before = Describe(path);

    CaughtBoxes boxes;
    auto w = MakeWindow(dir);
    if (std::string(row.file).ends_with(".sav")) {
      EXPECT_EQ(boxes.texts, Boxes(row.firstBox, path)) << "at start-up";
      boxes.texts.clear();
      w->scrBarTempo->SetPosition(150);
      // Editing the text of a row on "init.sav" shows that "dtp.sav" is
      // saved although "init.sav" cannot be.
      const bool onSettings = std::string(row.file) == "init.sav";
      if (row.edit || onSettings) TypeText(w->memList, "35");
      const bool kept = row.secondBox.find("%k") != std::string::npos;
      EXPECT_EQ(w->close(), row.secondBox.empty() || kept);
      EXPECT_EQ(boxes.texts, Boxes(row.secondBox, path)) << "at close";
      if (row.secondBox.find("%k") != std::string::npos) {
        EXPECT_EQ(Describe(KeptName(path, 1)), before) << "the file that did not load, kept";
      }
      if (onSettings) {
        EXPECT_EQ(Describe(dir + "dtp.sav"), kWritten35);
      }
    } else {
      const std::string memo = w->memList->TextUtf8();
      WithDialog([&](QFileDialog* d) { Choose(d, path); });
      QTest::mouseClick(w->btnOpen, Qt::LeftButton);
      EXPECT_EQ(boxes.texts, Boxes(row.firstBox, path)) << "at Open";
      if (!row.firstBox.empty()) {
        EXPECT_EQ(w->memList->TextUtf8(), memo) << "a failed Open keeps the memo";
      }
      boxes.texts.clear();
      TypeText(w->memList, "35");
      WithDialog([&](QFileDialog* d) { Choose(d, dir + "rhythm"); });  // Save adds ".dtp"
      QTest::mouseClick(w->btnSave, Qt::LeftButton);
      EXPECT_EQ(boxes.texts, Boxes(row.secondBox, path)) << "at Save";
    }
    EXPECT_EQ(Describe(path), row.after.value_or(before));
    // Nothing else was made, left or touched beside the file.
    for (const std::string& name : ListDir(dir)) {
      EXPECT_TRUE(name == "init.sav" || name == "dtp.sav" || name == "pi.wav" || name == "po.wav" ||
                  name == row.file || name == std::string(row.file) + ".zero-device" ||
                  (name == "dtp-1.dtp" && row.secondBox.find("%k") != std::string::npos))
          << name;
    }
  }
}

// The memo never holds more than "dtp.sav" can hold and be read back from:
// whatever would take its file form past the limit is refused, with the
// limit's message, and the text stays as it was.
TEST(HostileFiles, TextPastTheLimitIsRefused) {
  const auto typeKey = [](ui::DefinitionMemo* m) { QTest::keyClick(m, Qt::Key_6); };
  const struct {
    const char* name;
    std::function<void(ui::DefinitionMemo*)> act;  // one byte below the limit
    bool fits;
    std::size_t bytesAfter;
  } rows[] = {
      {"a key reaching the limit", typeKey, true, kMemoLimitBytes},
      {"a key past it", [&](ui::DefinitionMemo* m) { typeKey(m), typeKey(m); }, false,
       kMemoLimitBytes},
      {"Enter (CR LF, two bytes)",
       [](ui::DefinitionMemo* m) { QTest::keyClick(m, Qt::Key_Return); }, false,
       kMemoLimitBytes - 1},
      {"a paste",
       [](ui::DefinitionMemo* m) {
         QApplication::clipboard()->setText("56");
         m->paste();
       },
       false, kMemoLimitBytes - 1},
      {"an input method's text",
       [](ui::DefinitionMemo* m) {
         QInputMethodEvent commit;
         commit.setCommitString("56");
         QApplication::sendEvent(m, &commit);
       },
       false, kMemoLimitBytes - 1},
  };
  TempDir scratch;
  CaughtBoxes boxes;
  auto w = MakeWindow(scratch.path());
  // Lines of 60 digits, 62 bytes each with CR LF, then digits up to one
  // byte below the limit.
  const std::string line(60, '3');
  std::string text;
  for (std::size_t bytes = 62; bytes < kMemoLimitBytes - 1; bytes += 62) text += line + "\n";
  text += std::string(kMemoLimitBytes - 1 - EncodeDefinitionText(text).size(), '3');
  ASSERT_EQ(EncodeDefinitionText(text).size(), kMemoLimitBytes - 1);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    boxes.texts.clear();
    w->memList->SetTextUtf8(text);
    w->memList->setFocus();
    w->memList->moveCursor(QTextCursor::End);
    row.act(w->memList);
    const std::size_t after = EncodeDefinitionText(w->memList->TextUtf8()).size();
    EXPECT_EQ(after, row.bytesAfter);
    EXPECT_EQ(boxes.texts,
              row.fits ? QStringList() : QStringList{QString::fromStdString(kMemoLimit)});
  }
}

// Files changed on disk while the window runs: by a second window on the
// same directory that closes first, or by an editor. What this window did
// not change is not written; a text edited here does not destroy theirs.
TEST(HostileFiles, FilesChangedOnDiskMeanwhile) {
  const std::string theirs = "/ theirs\r\n9\r\n";
  const struct {
    const char* name;
    bool byEditor;      // else another window saves
    const char* typed;  // over this window's text; null: not edited
    bool tempo;
    std::string box;
    std::string settingsAfter, textAfter;
  } rows[] = {
      {"another window saved, this one untouched", false, nullptr, false, "",
       "150\r\n9\r\n10\r\n20\r\n", "35"},
      {"another window saved, tempo changed here", false, nullptr, true, "",
       "99\r\n9\r\n10\r\n20\r\n", "35"},
      {"another window saved, text edited here", false, "9", false, kKeptChanged,
       "150\r\n9\r\n10\r\n20\r\n", "9"},
      {"both windows typed the same text", false, "35", false, "", "150\r\n9\r\n10\r\n20\r\n",
       "35"},
      {"an editor saved, untouched", true, nullptr, false, "", kSettings, theirs},
      {"an editor saved, text edited here", true, "9", false, kKeptChanged, kSettings, "9"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir scratch;
    const std::string dir = scratch.path();
    WriteFile(dir + "init.sav", kSettings);
    WriteFile(dir + "dtp.sav", kText);
    CaughtBoxes boxes;
    auto mine = MakeWindow(dir);
    if (row.byEditor) {
      WriteFile(dir + "dtp.sav", theirs);
    } else {
      auto other = MakeWindow(dir);
      other->scrBarTempo->SetPosition(150);
      TypeText(other->memList, "35");
      ASSERT_TRUE(other->close());
    }
    const std::string other = ReadFile(dir + "dtp.sav");
    if (row.tempo) mine->scrBarTempo->SetPosition(99);
    if (row.typed != nullptr) TypeText(mine->memList, row.typed);
    EXPECT_TRUE(mine->close());
    EXPECT_EQ(boxes.texts, Boxes(row.box, dir + "dtp.sav"));
    EXPECT_EQ(ReadFile(dir + "init.sav"), row.settingsAfter);
    EXPECT_EQ(Describe(dir + "dtp.sav"), "file 0644 " + row.textAfter);
    if (!row.box.empty()) {
      EXPECT_EQ(ReadFile(dir + "dtp-1.dtp"), other);
    } else {
      EXPECT_FALSE(std::filesystem::exists(dir + "dtp-1.dtp"));
    }
  }
}

}  // namespace
}  // namespace pendlo::faults
