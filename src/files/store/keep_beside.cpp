#include "files/store/keep_beside.h"

#include <fcntl.h>

#include <cerrno>

#include "files/store/atomic_write.h"
#include "files/store/errors.h"

namespace pendlo {

namespace {

constexpr int kMaxKept = 999;
// A copy is the fallback for file systems without hard links; a file larger
// than this is not copied (it was refused by the memo long before).
constexpr std::size_t kMaxCopyBytes = 256 * 1024 * 1024;

// Writes bytes to a new file at path, failing if it exists: 0 or -errno.
int WriteNew(FileSystem& fs, const std::string& path, const std::string& bytes) {
  const int fd = fs.Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0600);
  if (fd < 0) return fd;
  std::size_t done = 0;
  int r = 0;
  while (done < bytes.size() && r == 0) {
    const long n = fs.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) r = n < 0 ? static_cast<int>(n) : -ENOSPC;
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  if (r == 0) r = fs.Sync(fd);
  if (const int c = fs.Close(fd); r == 0) r = c;
  if (r != 0) fs.Unlink(path);
  return r;
}

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
  if (exists != other.exists) return false;
  if (!exists) return true;
  return dev == other.dev && ino == other.ino && size == other.size &&
         mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec;
}

FileStamp StampOf(const std::string& path, FileSystem& fs) {
  struct stat st {};
  if (fs.Stat(path, &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

std::string KeptName(const std::string& path, int n) {
  const auto slash = path.rfind('/');
  const auto start = slash == std::string::npos ? 0 : slash + 1;
  auto dot = path.rfind('.');
  if (dot == std::string::npos || dot <= start) dot = path.size();
  return path.substr(0, dot) + "-" + std::to_string(n) + ".dtp";
}

std::string KeepBeside(const std::string& path, FileSystem& fs) {
  std::string target;
  if (const int r = ResolveLinks(fs, path, &target); r < 0)
    throw EFCreateError(KeptName(path, 1), -r);
  int n = 1;
  int err = 0;
  for (; n <= kMaxKept; ++n) {
    err = fs.Link(target, KeptName(target, n));
    if (err != -EEXIST) break;
  }
  if (err == 0) return KeptName(target, n);
  if (n > kMaxKept) throw EFCreateError(KeptName(target, 1), EEXIST);
  // No hard links here (or none allowed for this file): a copy instead.
  std::string bytes;
  bool tooLarge = false;
  if (const int r =
          ReadRegularFile(fs, target, kMaxCopyBytes, OverLimit::kRefuse, &bytes, &tooLarge);
      r < 0 || tooLarge) {
    throw EFCreateError(KeptName(target, n), r < 0 ? -r : EFBIG);
  }
  for (; n <= kMaxKept; ++n) {
    err = WriteNew(fs, KeptName(target, n), bytes);
    if (err != -EEXIST) break;
  }
  if (err != 0) throw EFCreateError(KeptName(target, n > kMaxKept ? 1 : n), -err);
  return KeptName(target, n);
}

}  // namespace pendlo
