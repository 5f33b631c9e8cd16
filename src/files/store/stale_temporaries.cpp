#include "files/store/stale_temporaries.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace pendlo {
namespace {

// The pid in ".pendlo-<hex pid>-<hex>-<hex>.tmp", or 0 for any other name.
pid_t OwnerOf(std::string_view name) {
  constexpr std::string_view kPrefix = ".pendlo-";
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix)) {
    return 0;
  }
  const std::string digits(name.substr(kPrefix.size()));
  char* end = nullptr;
  const unsigned long pid = std::strtoul(digits.c_str(), &end, 16);
  if (end == digits.c_str() || *end != '-' || pid == 0 || pid > 0x7fffffffUL) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

int RemoveStaleTemporaries(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(d)) {
    const pid_t owner = OwnerOf(entry->d_name);
    if (owner == 0 || owner == getpid()) continue;
    // Only a process that is gone for certain: a pid reused since then keeps
    // its file, which costs nothing but space.
    if (kill(owner, 0) == 0 || errno != ESRCH) continue;
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    if (unlink((path + entry->d_name).c_str()) == 0) ++removed;
  }
  closedir(d);
  return removed;
}

}  // namespace pendlo
