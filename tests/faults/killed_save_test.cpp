// A process killed with SIGKILL while it saves, again and again: every data
// file is afterwards exactly the old content or the new one, never a mix or
// a piece, and whatever a killed save leaves behind is never taken for a
// data file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "faults/fault_fixture.h"
#include "files/formats/definition_text.h"
#include "files/formats/settings.h"

namespace pendlo::faults {
namespace {

// About 200 KB of pattern lines, so that one save takes many write calls'
// worth of time and a kill can land in its middle.
std::string BigText(char mark) {
  std::string text = std::string("/ content ") + mark + "\n";
  const std::string line =
      mark == 'A' ? "3232 / irregular, content A\n" : "35 / tuplets, content B\n";
  while (text.size() < 200 * 1000) text += line;
  return text;
}

const Settings kSettingsA{72, 3, 100, 200};
const Settings kSettingsB{240, 9, 1000, 2000};

void SaveAll(const std::string& dir, bool b, const std::string& textA, const std::string& textB) {
  SaveSettings(dir, b ? kSettingsB : kSettingsA);
  SaveDefinitionText(dir + "dtp.sav", b ? textB : textA);
  SaveDefinitionText(dir + "rhythm.dtp", b ? textB : textA);
}

bool IsTempName(const std::string& name) {
  return name.rfind(".pendlo-", 0) == 0 && name.size() > 4 &&
         name.compare(name.size() - 4, 4, ".tmp") == 0;
}

TEST(KilledSave, EveryFileIsWhollyOldOrNewAfterSigkill) {
  const std::string textA = BigText('A');
  const std::string textB = BigText('B');
  // The file forms of both contents, as the real files layer writes them.
  // Timing them gives the length of one A-and-B round of the child below.
  TempDir reference;
  const auto start = std::chrono::steady_clock::now();
  SaveAll(reference.path(), false, textA, textB);
  const std::string settingsA = ReadFile(reference.path() + "init.sav");
  const std::string dtpA = ReadFile(reference.path() + "dtp.sav");
  SaveAll(reference.path(), true, textA, textB);
  const auto round = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const std::string settingsB = ReadFile(reference.path() + "init.sav");
  const std::string dtpB = ReadFile(reference.path() + "dtp.sav");
  ASSERT_NE(dtpA, dtpB);
  ASSERT_GT(dtpA.size(), 200000u);

  TempDir data;
  const std::string dir = data.path();
  SaveAll(dir, false, textA, textB);

  constexpr int kKills = 50;
  // The kills fall anywhere in a round: each save is synced to the disk, so
  // a round takes some tens of milliseconds, and delays of at most 20 ms
  // would mostly hit the first save. The cap keeps a slow disk from making
  // the test slow.
  const long longest = std::clamp<long>(static_cast<long>(round.count()), 20000, 200000);
  std::mt19937 random(20261208);  // fixed seed: the same delays every run
  std::uniform_int_distribution<long> delayMicros(0, longest);
  int seenB = 0;
  int settingsSeenB = 0;
  std::size_t leftovers = 0;
  for (int kill_ = 0; kill_ < kKills; ++kill_) {
    SCOPED_TRACE("kill " + std::to_string(kill_));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The child saves A and B in turn until it is killed; it never
      // returns into the test framework.
      try {
        for (unsigned n = 1;; ++n) SaveAll(dir, n % 2 == 1, textA, textB);
      } catch (...) {
      }
      _exit(3);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the saving child ended by itself (a save threw), status " << status;

    const std::string settings = ReadFile(dir + "init.sav");
    EXPECT_TRUE(settings == settingsA || settings == settingsB) << settings;
    if (settings == settingsB) ++settingsSeenB;
    for (const char* name : {"dtp.sav", "rhythm.dtp"}) {
      const std::string bytes = ReadFile(dir + name);
      EXPECT_TRUE(bytes == dtpA || bytes == dtpB)
          << name << " is partial: " << bytes.size() << " bytes";
      if (bytes == dtpB) ++seenB;
    }
    // A killed save can leave its temporary file; it has a name of its own
    // that no data file has, so the program never reads it.
    leftovers = 0;
    for (const std::string& name : ListDir(dir)) {
      if (name == "init.sav" || name == "dtp.sav" || name == "rhythm.dtp") continue;
      EXPECT_TRUE(IsTempName(name)) << "unexpected file " << name;
      ++leftovers;
    }
  }
  RecordProperty("kills", kKills);
  RecordProperty("settings_seen_with_b", settingsSeenB);
  RecordProperty("texts_seen_with_b", seenB);
  RecordProperty("temporary_files_left", static_cast<int>(leftovers));
  std::printf(
      "%d kills over rounds of %ld us: settings B seen %d times, texts B %d of %d, "
      "%zu temporary files left\n",
      kKills, static_cast<long>(round.count()), settingsSeenB, seenB, 2 * kKills, leftovers);

  // The leftovers do not get in the way of the next save.
  SaveAll(dir, true, textA, textB);
  EXPECT_EQ(ReadFile(dir + "init.sav"), settingsB);
  EXPECT_EQ(ReadFile(dir + "dtp.sav"), dtpB);
}

}  // namespace
}  // namespace pendlo::faults
