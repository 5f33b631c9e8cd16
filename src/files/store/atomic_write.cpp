#include "files/store/atomic_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

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

// Writes bytes to fd, cut to their length when `truncate` (the file may
// have held more), syncs and closes it: the first failure, at kWrite.
WriteOutcome WriteSyncClose(FileSystem& fs, int fd, std::string_view bytes, bool truncate) {
  int r = WriteAll(fs, fd, bytes);
  if (r >= 0 && truncate) r = fs.Truncate(fd, static_cast<off_t>(bytes.size()));
  if (r >= 0) r = fs.Sync(fd);
  WriteOutcome outcome;
  if (r < 0) outcome = Fail(WriteStage::kWrite, r);
  // Some file systems (NFS) report a failed write only at close.
  if (const int c = fs.Close(fd); c < 0 && outcome.ok()) outcome = Fail(WriteStage::kWrite, c);
  return outcome;
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
  return WriteSyncClose(fs, fd, bytes, /*truncate=*/true);
}

// What AtomicWrite answers at once for the existing file old describes: a
// refusal, or success when it already holds bytes; nothing when it is to be
// replaced.
std::optional<WriteOutcome> OutcomeWithoutWriting(FileSystem& fs, const std::string& target,
                                                  const struct stat& old, std::string_view bytes) {
  if (S_ISDIR(old.st_mode)) return WriteOutcome{WriteStage::kCreate, EISDIR};
  if (!S_ISREG(old.st_mode)) return WriteOutcome{WriteStage::kCreate, EACCES};
  if (Holds(fs, target, old, bytes)) return WriteOutcome{};
  if (IsReadOnly(old.st_mode)) return WriteOutcome{WriteStage::kCreate, EACCES};
  return std::nullopt;
}

// A new temporary file in dir, its path in *temp: its descriptor, or the
// negative errno of the last try.
int CreateTemporary(FileSystem& fs, const std::string& dir, std::string* temp) {
  int fd = -EEXIST;
  for (int i = 0; i < kMaxTempTries && fd == -EEXIST; ++i) {
    *temp = TempName(dir);
    fd = fs.Open(*temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666);
  }
  return fd;
}

// Gives the temporary file fd the owner and mode of the file old describes;
// false when the owner cannot be kept.
bool TakeOwnerAndMode(FileSystem& fs, int fd, const struct stat& old) {
  // Only a privileged process may give the file away.
  struct stat made {};
  if (fs.ChangeOwner(fd, old.st_uid, old.st_gid) != 0 &&
      (fs.FStat(fd, &made) != 0 || made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
    return false;
  }
  // Some file systems have no modes; that is not worth failing the save.
  fs.ChangeMode(fd, ReplacedMode(old.st_mode));
  return true;
}

// Renames the written temporary file over target, unless something other
// than a plain file was put in the target's place meanwhile.
WriteOutcome MoveOver(FileSystem& fs, const std::string& temp, const std::string& target) {
  struct stat now {};
  if (fs.LStat(target, &now) == 0 && !S_ISREG(now.st_mode)) {
    return {WriteStage::kCreate, S_ISDIR(now.st_mode) ? EISDIR : EACCES};
  }
  if (const int r = fs.Rename(temp, target); r < 0) return Fail(WriteStage::kCreate, r);
  return {};
}

// Makes a rename in dir durable; a failure here cannot undo the save.
void SyncDirectory(FileSystem& fs, const std::string& dir) {
  const int dirFd = fs.Open(dir.empty() ? std::string(".") : dir, O_RDONLY | O_DIRECTORY, 0);
  if (dirFd >= 0) {
    fs.Sync(dirFd);
    fs.Close(dirFd);
  }
}

}  // namespace

WriteOutcome AtomicWrite(const std::string& path, std::string_view bytes, FileSystem& fs) {
  std::string target;
  if (const int r = ResolveLinks(fs, path, &target); r < 0) return Fail(WriteStage::kCreate, r);
  struct stat old {};
  const bool exists = fs.Stat(target, &old) == 0;
  if (exists) {
    if (const auto outcome = OutcomeWithoutWriting(fs, target, old, bytes)) return *outcome;
  }

  const std::string dir = DirectoryOf(target);
  std::string temp;
  const int fd = CreateTemporary(fs, dir, &temp);
  if (fd < 0) {
    if (exists && (fd == -EACCES || fd == -EPERM)) return WriteInPlace(fs, target, old, bytes);
    return Fail(WriteStage::kCreate, fd);
  }
  // Where the owner cannot be kept, the old file is overwritten instead, so
  // it stays its owner's.
  if (exists && !TakeOwnerAndMode(fs, fd, old)) {
    fs.Close(fd);
    fs.Unlink(temp);
    return WriteInPlace(fs, target, old, bytes);
  }
  WriteOutcome outcome = WriteSyncClose(fs, fd, bytes, /*truncate=*/false);
  if (outcome.ok()) outcome = MoveOver(fs, temp, target);
  if (!outcome.ok()) {
    fs.Unlink(temp);
    return outcome;
  }
  SyncDirectory(fs, dir);
  return outcome;
}

}  // namespace pendlo
