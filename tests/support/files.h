// A temporary directory for each test, and whole files read and written
// with plain stdio (not the files layer under test).
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace pendlo::testing {

// A fresh directory under $TMPDIR, removed with everything in it at the end,
// also what a test made read-only or unreadable.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory with a trailing "/", as the files layer takes it.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  std::string operator/(const std::string& name) const { return File(name); }

  // Writes bytes to name in place (the same inode when it exists); its path.
  template <typename Bytes>
  requires requires(const Bytes& b) { b.size() * sizeof(*b.data()); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    return WriteBytes(name, bytes.data(), bytes.size() * sizeof(*bytes.data()));
  }
  std::string Write(const std::string& name, std::string_view bytes) const {
    return WriteBytes(name, bytes.data(), bytes.size());
  }
  std::string Read(const std::string& name) const;

 private:
  std::string WriteBytes(const std::string& name, const void* data, std::size_t size) const;
  std::string path_;
};

// The whole file, or `missing` when it cannot be opened.
std::string ReadFile(const std::string& path, std::string_view missing = "<missing>");

void WriteFile(const std::string& path, const std::string& bytes);

// The names in dir: to check that no temporary file is left behind.
std::set<std::string> ListDir(const std::string& dir);

}  // namespace pendlo::testing
