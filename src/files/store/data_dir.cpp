#include "files/store/data_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "files/store/errors.h"

namespace pendlo {

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

// mkdir -p: 0, or -errno of the first component that could not be made.
int MakeDirs(FileSystem& fs, const std::string& dir) {
  struct stat st {};
  if (fs.Stat(dir, &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (const int r = MakeDirs(fs, path.substr(0, slash)); r < 0) return r;
  }
  const int r = fs.MakeDir(path, 0700);
  return r == -EEXIST ? 0 : r;
}

}  // namespace

std::string ExecutableDir() {
  std::string exe;
  if (RealFileSystem().ReadLink("/proc/self/exe", &exe) < 0) return {};
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  return exe.substr(0, slash + 1);
}

std::string UserDataDir(const char* xdgDataHome, const char* home) {
  // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
  if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
    return WithSlash(xdgDataHome) + "pendlo/";
  }
  std::string base = home != nullptr ? home : "";
  if (base.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      base = pw->pw_dir;
    }
  }
  return WithSlash(base) + ".local/share/pendlo/";
}

bool IsSystemDir(const std::string& dir) {
  // Where packages put programs: root may write there, but data files left
  // there belong to no package and to no user.
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/", "/opt/", "/snap/"}) {
    if (WithSlash(dir).starts_with(prefix)) return true;
  }
  return false;
}

std::string ChooseDataDir(const std::string& exeDir, const std::string& userDir, FileSystem& fs) {
  if (!exeDir.empty() && !IsSystemDir(exeDir) && fs.Access(exeDir, W_OK) == 0) {
    return WithSlash(exeDir);
  }
  if (const int r = MakeDirs(fs, userDir); r < 0) throw EInOutError::FromErrno(-r, userDir);
  // One that exists but is not ours to write is no better than none.
  if (const int r = fs.Access(userDir, W_OK); r < 0) throw EInOutError::FromErrno(-r, userDir);
  return WithSlash(userDir);
}

std::string ExeDir() {
  return ChooseDataDir(ExecutableDir(),
                       UserDataDir(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
}

std::string DataFile(const std::string& dir, const std::string& name) {
  return dir.empty() ? std::string() : WithSlash(dir) + name;
}

}  // namespace pendlo
