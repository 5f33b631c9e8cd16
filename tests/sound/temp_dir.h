// A temporary directory removed with everything in it at the end of a test.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pendlo::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pendlo-sound-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // Writes `bytes` to `name` in place (same inode).
  template <typename Bytes>
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace pendlo::testing
