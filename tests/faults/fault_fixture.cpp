#include "faults/fault_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace pendlo::faults {

ScratchDir::ScratchDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/pendlo-fault-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = std::string(buf.data()) + "/";
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Tmpfs::~Tmpfs() {
  // A lazy unmount, so that a descriptor a failed test left open cannot
  // keep the mount (and the scratch directory) alive.
  if (mounted_) umount2(dir_.path().c_str(), MNT_DETACH);
}

bool Tmpfs::Mount(std::size_t bytes, std::string* why) {
  if (dir_.path().empty()) {
    *why = "no scratch directory";
    return false;
  }
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
    *why = std::string("mounting a tmpfs is not permitted here: ") + std::strerror(errno);
    return false;
  }
  mounted_ = true;
  return true;
}

bool Tmpfs::RemountReadOnly(std::string* why) {
  if (mount(nullptr, dir_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    *why = std::string("remounting read-only refused: ") + std::strerror(errno);
    return false;
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> ListDir(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
  }
  return names;
}

std::size_t FillDisk(const std::string& dir, const std::string& name) {
  const int fd = open((dir + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  std::size_t total = 0;
  // Big blocks first, then single bytes, so that the last partial page is
  // used up too and any new file needs room that is not there.
  const std::vector<char> block(4096, 'F');
  for (std::size_t chunk : {block.size(), std::size_t{1}}) {
    for (;;) {
      const ssize_t n = write(fd, block.data(), chunk);
      if (n <= 0) break;
      total += static_cast<std::size_t>(n);
    }
  }
  close(fd);
  return total;
}

}  // namespace pendlo::faults
