// Helpers shared by the fault tests: a small tmpfs the test mounts itself,
// so that a full or read-only disk is a real one rather than an injected
// error; hostile files; a guard against hangs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop.h"
#include "support/files.h"
#include "support/program.h"
#include "support/watched.h"

namespace pendlo::faults {

using testing::Environment;
using testing::ListDir;
using testing::NoSoundServer;
using testing::OwnDisplay;
using testing::Program;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A tmpfs of a given size mounted on a directory of its own; unmounted on
// destruction.
class Tmpfs {
 public:
  Tmpfs() = default;
  ~Tmpfs();
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;

  // Mounts it; false (with the reason in *why) when not permitted, e.g. not
  // running as root or inside a container that forbids mounts.
  bool Mount(std::size_t bytes, std::string* why);
  // Remounts it read-only: false with the reason when refused.
  bool RemountReadOnly(std::string* why);

  // The mount point with a trailing "/".
  std::string path() const { return dir_.path(); }

 private:
  testing::TempDir dir_;
  bool mounted_ = false;
};

// Fills the file system holding dir until not one more byte fits, by
// writing a file named name; the bytes written.
std::size_t FillDisk(const std::string& dir, const std::string& name);

// --- Hostile data files -------------------------------------------------------

// What a hostile user (or machine) puts where the program expects a file.
enum class Hostile {
  kDeviceLink,  // a symbolic link to a zero device (endless bytes) made in the scratch dir
  kFifo,        // a named pipe nobody writes to
  kDirectory,
  kReadOnly,  // mode 0444 holding the bytes given
  kNoAccess,  // mode 000 holding the bytes given
  kHuge,      // the bytes given and then far more than any limit
  kBytes,     // just the bytes given (NUL bytes, empty, ...)
};

// Puts a thing of that kind at path, holding bytes where it holds any.
// False with the reason in *why when it cannot be made here: device nodes
// only as root, and only ever inside the scratch directory of path.
bool MakeHostile(Hostile kind, const std::string& path, const std::string& bytes, std::string* why);

// What is at path, without following a link or opening a FIFO or device:
// "fifo", "dir", "link -> <target>", "chardev 1,5", or "file <mode> <bytes>"
// (long contents as their size and a checksum), so that before and after
// can be compared and a difference read.
std::string Describe(const std::string& path);

// --- Time limits ----------------------------------------------------------------

// Ends the test program with a message naming what hung, when it lives
// longer than limit: a hang must fail the test quickly and say where.
class HangGuard {
 public:
  HangGuard(std::string what, std::chrono::seconds limit);
  ~HangGuard();
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

 private:
  testing::Watched done_;
  std::atomic<bool> finished_{false};
  std::thread watch_;
};

}  // namespace pendlo::faults
