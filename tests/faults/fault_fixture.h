// Helpers shared by the fault tests: scratch directories, whole-file reads
// and a small tmpfs the test mounts itself, so that a full or read-only disk
// is a real one rather than an injected error.
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace pendlo::faults {

// A fresh directory under the system's temporary directory, removed with
// everything in it on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory with a trailing "/", as the files layer takes it.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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
  ScratchDir dir_;
  bool mounted_ = false;
};

// The whole file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);

// Writes bytes to path with plain stdio (not the files layer under test).
void WriteFile(const std::string& path, const std::string& bytes);

// The names in dir, without "." and "..".
std::set<std::string> ListDir(const std::string& dir);

// Fills the file system holding dir until not one more byte fits, by
// writing a file named name; the bytes written.
std::size_t FillDisk(const std::string& dir, const std::string& name);

}  // namespace pendlo::faults
