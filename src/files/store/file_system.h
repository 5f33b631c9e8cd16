// The few system calls the files module makes, behind one class so that tests
// can inject failures (a full disk, a refused rename) by overriding a method.
// The base class is the real file system. Every method returns a negative
// errno on failure, as the raw system calls would via errno.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace pendlo {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // open(2): a descriptor, or -errno. Retries on EINTR.
  virtual int Open(const std::string& path, int flags, mode_t mode);
  // read(2): bytes read (0 at end), or -errno. Retries on EINTR.
  virtual long Read(int fd, void* buf, std::size_t count);
  // write(2): bytes written (possibly fewer than count), or -errno.
  virtual long Write(int fd, const void* buf, std::size_t count);
  // fsync(2): 0 or -errno.
  virtual int Sync(int fd);
  // close(2): 0 or -errno.
  virtual int Close(int fd);
  // stat(2) (follows links), lstat(2), fstat(2): 0 or -errno.
  virtual int Stat(const std::string& path, struct stat* st);
  virtual int LStat(const std::string& path, struct stat* st);
  virtual int FStat(int fd, struct stat* st);
  // readlink(2) into target, whatever its length: 0 or -errno.
  virtual int ReadLink(const std::string& path, std::string* target);
  // ftruncate(2): 0 or -errno.
  virtual int Truncate(int fd, off_t length);
  // fchmod(2), fchown(2): 0 or -errno.
  virtual int ChangeMode(int fd, mode_t mode);
  virtual int ChangeOwner(int fd, uid_t uid, gid_t gid);
  // rename(2), unlink(2), mkdir(2): 0 or -errno.
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
  virtual int MakeDir(const std::string& path, mode_t mode);
  // link(2): a second name for the file at from (never following a link at
  // from); 0 or -errno.
  virtual int Link(const std::string& from, const std::string& to);
  // Whether the effective user may access path in mode (W_OK, ...): 0 or -errno.
  virtual int Access(const std::string& path, int mode);
};

// The real file system, shared by the whole program.
FileSystem& RealFileSystem();

// True when path names something that is not a directory (following links),
// the test by which a data file counts as present.
bool FileExists(const std::string& path, FileSystem& fs = RealFileSystem());

// What ReadRegularFile does with a file over its limit.
enum class OverLimit {
  kRefuse,  // read nothing (the size is checked first); *out stays empty
  kHead,    // keep its first limit bytes
};

// Reads a regular file into *out, at most limit bytes: 0, or -errno for the
// first failing call. Anything else is never read and never blocks: a
// directory fails with -EISDIR, a FIFO, device or socket with -EACCES before
// it is opened, and the open itself does not wait (O_NONBLOCK) in case the
// file was swapped meanwhile. *tooLarge tells whether the file held more
// than limit bytes.
int ReadRegularFile(FileSystem& fs, const std::string& path, std::size_t limit, OverLimit overLimit,
                    std::string* out, bool* tooLarge);

}  // namespace pendlo
