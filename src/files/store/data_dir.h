// Where the data files live. Everything else takes this directory as a
// parameter, so tests run in temporary directories.
#pragma once

#include <string>

#include "files/store/file_system.h"

namespace pendlo {

// The data files, each a bare name appended to the data directory.
inline constexpr const char* kAccentWaveFile = "pi.wav";
inline constexpr const char* kPlainWaveFile = "po.wav";
inline constexpr const char* kSettingsFile = "init.sav";
inline constexpr const char* kSavedTextFile = "dtp.sav";

// The directory of the running executable (/proc/self/exe) with a trailing
// "/", or "" when it cannot be read.
std::string ExecutableDir();

// The per-user data directory with a trailing "/": $XDG_DATA_HOME/pendlo/
// when that variable holds an absolute path, else <home>/.local/share/pendlo/.
// Pass the environment's values (nullptr for unset). Nothing is created.
std::string UserDataDir(const char* xdgDataHome, const char* home);

// True for the directories packages install programs in (/usr/..., /bin,
// /sbin, /opt/..., /snap/...).
bool IsSystemDir(const std::string& dir);

// exeDir when the effective user may write there and it is not a system
// directory (so root running /usr/bin/pendlo does not litter /usr/bin), else
// userDir, created with its missing parents (mode 0700). Throws EInOutError
// naming userDir when it is needed and cannot be created: there is then no
// data directory, and never the working directory in its place.
std::string ChooseDataDir(const std::string& exeDir, const std::string& userDir,
                          FileSystem& fs = RealFileSystem());

// The data directory of this process: the executable's directory, or the
// per-user one for a system-wide install (e.g. in /usr/bin). Not cut at any
// length. Throws EInOutError as ChooseDataDir.
std::string ExeDir();

// dir + name, with a "/" between them when dir lacks its trailing one; ""
// when there is no data directory (dir empty), a path no file has.
std::string DataFile(const std::string& dir, const std::string& name);

}  // namespace pendlo
