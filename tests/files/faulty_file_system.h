// A file system that fails on request, for the files module's tests.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "files/store/errors.h"
#include "files/store/file_system.h"
#include "support/files.h"

namespace pendlo::testing {

// The real file system, with one call made to fail. Temporary files of
// atomic saves are recognised by their ".pendlo-" prefix.
class FaultyFileSystem : public FileSystem {
 public:
  int openTempErr = 0;              // errno for opening a temporary file
  long writeBudget = -1;            // bytes that may be written before writeErr, -1 unlimited
  int writeErr = ENOSPC;            // 0: a write beyond the budget writes 0 bytes
  int syncErr = 0;                  // errno for fsync of a regular file
  int closeErr = 0;                 // errno for close after a write
  int renameErr = 0;                // errno for rename
  int chownErr = 0;                 // errno for fchown
  int accessErr = 0;                // errno for access
  std::string accessPath;           // only for this path, when set
  std::vector<std::string> opened;  // every path passed to Open
  int reads = 0;                    // calls of Read

  int Open(const std::string& path, int flags, mode_t mode) override {
    opened.push_back(path);
    if (openTempErr != 0 && path.find("/.pendlo-") != std::string::npos) return -openTempErr;
    return FileSystem::Open(path, flags, mode);
  }
  long Read(int fd, void* buf, std::size_t count) override {
    ++reads;
    return FileSystem::Read(fd, buf, count);
  }
  long Write(int fd, const void* buf, std::size_t count) override {
    wrote_ = true;
    if (writeBudget < 0) return FileSystem::Write(fd, buf, count);
    if (writeBudget == 0) return writeErr != 0 ? -writeErr : 0;
    const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(writeBudget));
    const long done = FileSystem::Write(fd, buf, n);
    if (done > 0) writeBudget -= done;
    return done;
  }
  int Sync(int fd) override {
    struct stat st {};
    if (syncErr != 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return -syncErr;
    return FileSystem::Sync(fd);
  }
  int Close(int fd) override {
    const int r = FileSystem::Close(fd);
    if (closeErr != 0 && wrote_) return -closeErr;
    return r;
  }
  int Rename(const std::string& from, const std::string& to) override {
    if (renameErr != 0) return -renameErr;
    return FileSystem::Rename(from, to);
  }
  int ChangeOwner(int fd, uid_t uid, gid_t gid) override {
    if (chownErr != 0) return -chownErr;
    return FileSystem::ChangeOwner(fd, uid, gid);
  }
  int Access(const std::string& path, int mode) override {
    if (accessErr != 0 && (accessPath.empty() || path == accessPath)) return -accessErr;
    return FileSystem::Access(path, mode);
  }

 private:
  bool wrote_ = false;
};

// The text of the `E` that `call` throws; "" when it throws nothing (any
// other exception fails the test).
template <class E, class F>
std::string Thrown(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

// The code and text of the EInOutError that `call` throws; {0, ""} when it
// throws nothing.
template <class F>
std::pair<int, std::string> ThrownInOut(F&& call) {
  try {
    call();
  } catch (const EInOutError& e) {
    return {e.Code(), e.what()};
  }
  return {0, ""};
}

}  // namespace pendlo::testing

namespace pendlo {

// The files tests' fixtures by their short names.
using testing::FaultyFileSystem;
using testing::ReadFile;
using testing::TempDir;
using testing::Thrown;
using testing::ThrownInOut;
using testing::WriteFile;

}  // namespace pendlo
