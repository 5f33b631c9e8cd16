// Two copies of the real program on one data directory, on the offscreen
// platform and with no sound server: both start, both end on SIGTERM and
// save, and each data file is afterwards whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "faults/fault_fixture.h"

namespace pendlo::faults {
namespace {

// Generous: a loaded CI machine under the address sanitizer starts Qt slowly.
constexpr auto kPatience = std::chrono::seconds(30);

TEST(TwoCopies, BothStartAndEndOnSigtermLeavingWholeFiles) {
  TempDir scratch;
  const std::string dir = scratch.path();
  ASSERT_FALSE(dir.empty());
  // In a directory of its own the program keeps its data files there.
  std::filesystem::copy_file(PENDLO_BINARY, dir + "pendlo");
  // Files in a form the program reads but writes differently ('+144',
  // '$9', trailing words; LF-only lines), so that a save shows in them.
  WriteFile(dir + "init.sav", "+144\r\n$9 = irregular\r\n30 px\r\n40\r\n");
  std::string lfText = "/ 7/8 and tuplets\n";
  while (lfText.size() < 20000) lfText += "322\n35\n";
  WriteFile(dir + "dtp.sav", lfText);
  const std::string settings = "144\r\n9\r\n30\r\n40\r\n";
  std::string text;
  for (char c : lfText) text += c == '\n' ? std::string("\r\n") : std::string(1, c);

  TempDir runtime;
  const auto env = Environment(NoSoundServer(runtime.path()));
  Program first, second;
  ASSERT_TRUE(first.Start(dir + "pendlo", env));
  ASSERT_TRUE(second.Start(dir + "pendlo", env));

  // Both are up at the same time: start-up is through (each waits in an
  // event loop, its own or its sound error box's) and neither has ended.
  ASSERT_TRUE(WaitFor([&] { return first.WaitsForEvents() && second.WaitsForEvents(); }, kPatience))
      << "the copies did not start";

  // Both at once, so that their saves overlap as far as they can.
  ASSERT_EQ(kill(first.pid(), SIGTERM), 0);
  ASSERT_EQ(kill(second.pid(), SIGTERM), 0);
  EXPECT_EQ(first.AwaitExit(kPatience), 0);
  EXPECT_EQ(second.AwaitExit(kPatience), 0);

  // Each copy saved what it had loaded, in the program's own form, so each
  // file is that content whole (whichever copy wrote last), and nothing
  // else is in the directory.
  EXPECT_EQ(ReadFile(dir + "init.sav"), settings);
  const std::string saved = ReadFile(dir + "dtp.sav");
  EXPECT_TRUE(saved == text) << "dtp.sav: " << saved.size() << " bytes, " << text.size()
                             << " expected";
  const std::set<std::string> names = {"dtp.sav", "init.sav", "pendlo", "pi.wav", "po.wav"};
  EXPECT_EQ(ListDir(dir), names);
}

}  // namespace
}  // namespace pendlo::faults
