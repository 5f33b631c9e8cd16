#include "support/files.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pendlo::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "pendlo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Open up what a test closed, so that it can be removed.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (const auto& e : fs::recursive_directory_iterator(path_, ec)) {
    if (!e.is_symlink(ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::WriteBytes(const std::string& name, const void* data, std::size_t size) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return File(name);
}

std::string TempDir::Read(const std::string& name) const {
  return ReadFile(File(name), "");
}

std::string ReadFile(const std::string& path, std::string_view missing) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string(missing);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> ListDir(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace pendlo::testing
