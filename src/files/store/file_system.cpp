#include "files/store/file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace pendlo {

namespace {

int Result(int r) {
  return r < 0 ? -errno : r;
}

}  // namespace

int FileSystem::Open(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return Result(fd);
}

long FileSystem::Read(int fd, void* buf, std::size_t count) {
  ssize_t n;
  do {
    n = ::read(fd, buf, count);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -errno : static_cast<long>(n);
}

long FileSystem::Write(int fd, const void* buf, std::size_t count) {
  ssize_t n;
  do {
    n = ::write(fd, buf, count);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -errno : static_cast<long>(n);
}

int FileSystem::Sync(int fd) {
  return Result(::fsync(fd));
}

// No retry on EINTR: the descriptor is gone either way on Linux.
int FileSystem::Close(int fd) {
  return Result(::close(fd));
}

int FileSystem::Stat(const std::string& path, struct stat* st) {
  return Result(::stat(path.c_str(), st));
}

int FileSystem::LStat(const std::string& path, struct stat* st) {
  return Result(::lstat(path.c_str(), st));
}

int FileSystem::FStat(int fd, struct stat* st) {
  return Result(::fstat(fd, st));
}

int FileSystem::ReadLink(const std::string& path, std::string* target) {
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return -errno;
    if (static_cast<std::size_t>(n) < buf.size()) {
      target->assign(buf.data(), static_cast<std::size_t>(n));
      return 0;
    }
    buf.resize(buf.size() * 2);  // possibly cut: try again with more room
  }
}

int FileSystem::Truncate(int fd, off_t length) {
  return Result(::ftruncate(fd, length));
}

int FileSystem::ChangeMode(int fd, mode_t mode) {
  return Result(::fchmod(fd, mode));
}

int FileSystem::ChangeOwner(int fd, uid_t uid, gid_t gid) {
  return Result(::fchown(fd, uid, gid));
}

int FileSystem::Rename(const std::string& from, const std::string& to) {
  return Result(::rename(from.c_str(), to.c_str()));
}

int FileSystem::Unlink(const std::string& path) {
  return Result(::unlink(path.c_str()));
}

int FileSystem::MakeDir(const std::string& path, mode_t mode) {
  return Result(::mkdir(path.c_str(), mode));
}

int FileSystem::Link(const std::string& from, const std::string& to) {
  return Result(::link(from.c_str(), to.c_str()));
}

int FileSystem::Access(const std::string& path, int mode) {
  return Result(::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS));
}

FileSystem& RealFileSystem() {
  static FileSystem real;
  return real;
}

bool FileExists(const std::string& path, FileSystem& fs) {
  struct stat st {};
  return fs.Stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

// -EISDIR for a directory, -EACCES for anything else that is not a plain file.
int NotRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? -EISDIR : -EACCES;
}

}  // namespace

int ReadRegularFile(FileSystem& fs, const std::string& path, std::size_t limit, OverLimit overLimit,
                    std::string* out, bool* tooLarge) {
  *tooLarge = false;
  out->clear();
  // Checked before the open: opening a FIFO waits for a writer, and opening
  // a device may do something to it.
  struct stat st {};
  if (const int r = fs.Stat(path, &st); r < 0) return r;
  if (const int r = NotRegular(st); r < 0) return r;
  const int fd = fs.Open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0);
  if (fd < 0) return fd;
  int result = fs.FStat(fd, &st);
  if (result == 0) result = NotRegular(st);
  if (result == 0 && static_cast<unsigned long long>(st.st_size) > limit) {
    *tooLarge = true;
    if (overLimit == OverLimit::kRefuse) {
      fs.Close(fd);
      return 0;
    }
  }
  if (result == 0) {
    // The size may be wrong (a growing file): read until the end, but never
    // keep more than limit bytes.
    out->reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit));
    char buf[65536];
    for (;;) {
      const std::size_t room = limit - out->size();
      // One byte more than there is room for tells a file over the limit.
      const long n = fs.Read(fd, buf, room < sizeof buf ? room + 1 : sizeof buf);
      if (n < 0) {
        result = static_cast<int>(n);
        break;
      }
      if (n == 0) break;
      if (static_cast<std::size_t>(n) > room) {
        *tooLarge = true;
        out->append(buf, room);
        break;
      }
      out->append(buf, static_cast<std::size_t>(n));
    }
  }
  fs.Close(fd);  // read-only: nothing can be lost at close
  if (result < 0 || (*tooLarge && overLimit == OverLimit::kRefuse)) out->clear();
  return result;
}

}  // namespace pendlo
