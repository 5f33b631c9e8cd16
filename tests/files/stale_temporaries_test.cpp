#include "files/store/stale_temporaries.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/files.h"

namespace pendlo {
namespace {

namespace fs = std::filesystem;

std::string Hex(pid_t pid) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(pid));
  return buffer;
}

TEST(RemoveStaleTemporariesTest, RemovesOnlyTheTemporariesOfProcessesThatAreGone) {
  const testing::TempDir scratch;
  const fs::path dir = scratch.path();
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);  // reaped: its pid names no process now

  const std::string dead = ".pendlo-" + Hex(gone) + "-1a2b-0.tmp";
  const std::string mine = ".pendlo-" + Hex(getpid()) + "-1a2b-1.tmp";
  const std::string parent = ".pendlo-" + Hex(getppid()) + "-1a2b-2.tmp";
  const char* others[] = {"init.sav", ".pendlo-zz-1-0.tmp", ".pendlo-.tmp", "x.tmp"};
  for (const std::string& name : {dead, mine, parent}) std::ofstream(dir / name) << "partial";
  for (const char* name : others) std::ofstream(dir / name) << "keep";

  EXPECT_EQ(RemoveStaleTemporaries(scratch.path()), 1);
  EXPECT_FALSE(fs::exists(dir / dead));
  EXPECT_TRUE(fs::exists(dir / mine)) << "this process may be saving";
  EXPECT_TRUE(fs::exists(dir / parent)) << "a running process may be saving";
  for (const char* name : others) EXPECT_TRUE(fs::exists(dir / name)) << name;
}

}  // namespace
}  // namespace pendlo
