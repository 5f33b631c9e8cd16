#include "files/store/atomic_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace pendlo {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit for a path walk
constexpr int kMaxTempTries = 100;

// The directory part of path including its final "/", or "" for a bare name.
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A short name, so that a target whose own name is near the 255-byte limit
// of one path element still gets a temporary file beside it.
std::string TempName(const std::string& dir) {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  char name[64];
  std::snprintf(name, sizeof name, ".pendlo-%x-%llx-%x.tmp", static_cast<unsigned>(::getpid()),
                static_cast<unsigned long long>(now) & 0xffffffffULL, counter.fetch_add(1));
  return dir + name;
}

WriteOutcome Fail(WriteStage stage, int negErrno) {
  return {stage, -negErrno};
}

// Writes all bytes, going on after short writes.
int WriteAll(FileSystem& fs, int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = fs.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) return static_cast<int>(n);
    if (n == 0) return -ENOSPC;  // no progress and no reason: the disk is full
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

int ResolveLinks(FileSystem& fs, const std::string& path, std::string* resolved) {
  std::string current = path;
  for (int i = 0; i <= kMaxLinks; ++i) {
    struct stat st {};
    if (fs.LStat(current, &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = current;  // missing or not a link: later calls report errors
      return 0;
    }
    std::string target;
    if (const int r = fs.ReadLink(current, &target); r < 0) return r;
    current = (!target.empty() && target[0] == '/') ? target : DirectoryOf(current) + target;
  }
  return -ELOOP;
}

mode_t ReplacedMode(mode_t old) {
  mode_t mode = old & 07777;
  if ((mode & 0444) == 0) mode |= 0600;
  return mode;
}

namespace {

bool IsReadOnly(mode_t mode) {
  return (mode & 0222) == 0 && (mode & 0444) != 0;
}

// Whether the regular file st describes already holds bytes.
bool Holds(FileSystem& fs, const std::string& path, const struct stat& st, std::string_view bytes) {
  if (static_cast<unsigned long long>(st.st_size) != bytes.size()) return false;
  std::string now;
  bool tooLarge = false;
  return ReadRegularFile(fs, path, bytes.size(), OverLimit::kRefuse, &now, &tooLarge) == 0 &&
         !tooLarge && now == bytes;
}

// Overwrites the regular file old describes, keeping its inode, owner and
// links; used where no file can be made beside it.
WriteOutcome WriteInPlace(FileSystem& fs, const std::string& target, const struct stat& old,
                          std::string_view bytes) {
  const int fd = fs.Open(target, O_WRONLY | O_NOCTTY | O_NONBLOCK, 0);
  if (fd < 0) return Fail(WriteStage::kCreate, fd);
  struct stat now {};
  if (fs.FStat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != old.st_dev ||
      now.st_ino != old.st_ino) {
    fs.Close(fd);  // swapped since it was looked at
    return {WriteStage::kCreate, EACCES};
  }
  if (ReplacedMode(old.st_mode) != (old.st_mode & 07777)) {
    fs.ChangeMode(fd, ReplacedMode(old.st_mode));
  }
  WriteOutcome outcome;
  if (int r = WriteAll(fs, fd, bytes); r < 0) {
    outcome = Fail(WriteStage::kWrite, r);
  } else if (r = fs.Truncate(fd, static_cast<off_t>(bytes.size())); r < 0) {
    outcome = Fail(WriteStage::kWrite, r);
  } else if (r = fs.Sync(fd); r < 0) {
    outcome = Fail(WriteStage::kWrite, r);
  }
  if (const int r = fs.Close(fd); r < 0 && outcome.ok()) outcome = Fail(WriteStage::kWrite, r);
  return outcome;
}

}  // namespace

WriteOutcome AtomicWrite(const std::string& path, std::string_view bytes, FileSystem& fs) {
  std::string target;
  if (const int r = ResolveLinks(fs, path, &target); r < 0) return Fail(WriteStage::kCreate, r);

  struct stat old {};
  const bool exists = fs.Stat(target, &old) == 0;
  if (exists) {
    if (S_ISDIR(old.st_mode)) return {WriteStage::kCreate, EISDIR};
    if (!S_ISREG(old.st_mode)) return {WriteStage::kCreate, EACCES};
    if (Holds(fs, target, old, bytes)) return {};
    if (IsReadOnly(old.st_mode)) return {WriteStage::kCreate, EACCES};
  }

  const std::string dir = DirectoryOf(target);
  std::string temp;
  int fd = -EEXIST;
  for (int i = 0; i < kMaxTempTries && fd == -EEXIST; ++i) {
    temp = TempName(dir);
    fd = fs.Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666);
  }
  if (fd < 0) {
    if (exists && (fd == -EACCES || fd == -EPERM)) return WriteInPlace(fs, target, old, bytes);
    return Fail(WriteStage::kCreate, fd);
  }

  if (exists) {
    // Only a privileged process may give the file away; where the owner
    // cannot be kept, the old file is overwritten instead, so it stays its
    // owner's.
    struct stat made {};
    if (fs.ChangeOwner(fd, old.st_uid, old.st_gid) != 0 &&
        (fs.FStat(fd, &made) != 0 || made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
      fs.Close(fd);
      fs.Unlink(temp);
      return WriteInPlace(fs, target, old, bytes);
    }
    // Some file systems have no modes; that is not worth failing the save.
    fs.ChangeMode(fd, ReplacedMode(old.st_mode));
  }

  WriteOutcome outcome;
  if (int r = WriteAll(fs, fd, bytes); r < 0) {
    outcome = Fail(WriteStage::kWrite, r);
  } else if (r = fs.Sync(fd); r < 0) {
    outcome = Fail(WriteStage::kWrite, r);
  }
  // Some file systems (NFS) report a failed write only at close.
  if (const int r = fs.Close(fd); r < 0 && outcome.ok()) outcome = Fail(WriteStage::kWrite, r);
  if (outcome.ok()) {
    // Something put in the target's place meanwhile is not replaced either.
    struct stat now {};
    if (fs.LStat(target, &now) == 0 && !S_ISREG(now.st_mode)) {
      outcome = {WriteStage::kCreate, S_ISDIR(now.st_mode) ? EISDIR : EACCES};
    } else if (const int rr = fs.Rename(temp, target); rr < 0) {
      outcome = Fail(WriteStage::kCreate, rr);
    }
  }
  if (!outcome.ok()) {
    fs.Unlink(temp);
    return outcome;
  }

  // Make the rename itself durable; a failure here cannot undo the save.
  const int dirFd = fs.Open(dir.empty() ? std::string(".") : dir, O_RDONLY | O_DIRECTORY, 0);
  if (dirFd >= 0) {
    fs.Sync(dirFd);
    fs.Close(dirFd);
  }
  return outcome;
}

}  // namespace pendlo
