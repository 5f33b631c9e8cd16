#include "files/atomic_write.h"

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

WriteOutcome AtomicWrite(const std::string& path, std::string_view bytes, FileSystem& fs) {
  std::string target;
  if (const int r = ResolveLinks(fs, path, &target); r < 0) return Fail(WriteStage::kCreate, r);

  struct stat old {};
  const bool exists = fs.Stat(target, &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) return {WriteStage::kCreate, EISDIR};

  const std::string dir = DirectoryOf(target);
  std::string temp;
  int fd = -EEXIST;
  for (int i = 0; i < kMaxTempTries && fd == -EEXIST; ++i) {
    temp = TempName(dir);
    fd = fs.Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666);
  }
  if (fd < 0) return Fail(WriteStage::kCreate, fd);

  if (exists && S_ISREG(old.st_mode)) {
    // Best effort: the owner can only be kept by a privileged process, and
    // some file systems have no modes; neither is worth failing the save.
    fs.ChangeOwner(fd, old.st_uid, old.st_gid);
    fs.ChangeMode(fd, old.st_mode & 07777);
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
    if (const int r = fs.Rename(temp, target); r < 0) outcome = Fail(WriteStage::kCreate, r);
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
