// The real program asked to end (SIGTERM, as at log-off) while its start-up
// error box is still open: it saves what it has read, like a close would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace pendlo {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(StartupSignal, TerminationWhileTheStartupErrorBoxIsOpenStillSaves) {
  const fs::path dir = fs::temp_directory_path() / ("pendlo-sig-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path binary = dir / "pendlo";
  fs::copy_file(PENDLO_BINARY, binary);
  // Values the program rewrites in its own form when it saves them.
  Spit(dir / "init.sav", "+120\r\n9\r\n10\r\n20\r\n");
  Spit(dir / "dtp.sav", "/ 7/8\n322");

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // No sound server: start-up shows its sound error box and waits there.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/pendlo-test/native", 1);
    execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Slurp(dir / "init.sav"), "120\r\n9\r\n10\r\n20\r\n");
  EXPECT_EQ(Slurp(dir / "dtp.sav"), "/ 7/8\r\n322");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pendlo
