#include "faults/fault_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace pendlo::faults {

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

bool MakeHostile(Hostile kind, const std::string& path, const std::string& bytes,
                 std::string* why) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  switch (kind) {
    case Hostile::kDeviceLink: {
      if (geteuid() != 0) {
        *why = "device nodes are made only as root";
        return false;
      }
      // Beside the link, in the scratch directory: never a node under /dev.
      const std::string node = path + ".zero-device";
      if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0) {
        *why = std::string("mknod refused: ") + std::strerror(errno);
        return false;
      }
      return symlink(node.c_str(), path.c_str()) == 0;
    }
    case Hostile::kFifo:
      return mkfifo(path.c_str(), 0644) == 0;
    case Hostile::kDirectory:
      return mkdir(path.c_str(), 0755) == 0;
    case Hostile::kReadOnly:
    case Hostile::kNoAccess:
      WriteFile(path, bytes);
      return chmod(path.c_str(), kind == Hostile::kReadOnly ? 0444 : 0) == 0;
    case Hostile::kHuge: {
      WriteFile(path, bytes);
      // Sparse: 64 MiB of NUL bytes after the content cost no disk.
      return truncate(path.c_str(), static_cast<off_t>(bytes.size() + (64 << 20))) == 0;
    }
    case Hostile::kBytes:
      WriteFile(path, bytes);
      return true;
  }
  return false;
}

std::string Describe(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return "<missing>";
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (S_ISDIR(st.st_mode)) return "dir";
  if (S_ISCHR(st.st_mode)) {
    return "chardev " + std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev));
  }
  if (S_ISLNK(st.st_mode)) {
    const std::string target = std::filesystem::read_symlink(path).string();
    return "link -> " +
           Describe(target.front() == '/' ? target : path.substr(0, path.rfind('/') + 1) + target);
  }
  if (!S_ISREG(st.st_mode)) return "other";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_size > 64) {
    // Long files by size and a checksum of their head: enough to tell them apart.
    unsigned long sum = 0;
    std::ifstream in(path, std::ios::binary);
    char c;
    for (int i = 0; i < 65536 && in.get(c); ++i) sum = sum * 31 + static_cast<unsigned char>(c);
    return std::string("file ") + mode + " " + std::to_string(st.st_size) + " bytes, sum " +
           std::to_string(sum);
  }
  // Readable as root or not: the mode is put back at once.
  const bool closed = (st.st_mode & 0400) == 0;
  if (closed) chmod(path.c_str(), st.st_mode | 0400);
  const std::string bytes = ReadFile(path);
  if (closed) chmod(path.c_str(), st.st_mode & 07777);
  return std::string("file ") + mode + " " + bytes;
}

HangGuard::HangGuard(std::string what, std::chrono::seconds limit) {
  watch_ = std::thread([this, what = std::move(what), limit] {
    if (!done_.Await([this] { return finished_.load(); }, limit)) {
      std::fprintf(stderr, "HANG: %s took longer than %lld s\n", what.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(3);
    }
  });
}

HangGuard::~HangGuard() {
  finished_ = true;
  done_.Changed();
  watch_.join();
}

}  // namespace pendlo::faults
