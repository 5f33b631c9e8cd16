// First-start creation of the data files that are missing.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "files/store/file_system.h"

namespace pendlo {

// The content of a new "init.sav": no settings saved yet.
inline constexpr const char* kInitialSettings = "-10000\r\n";

// Creates, in dir, each of "pi.wav" (accentWave), "po.wav" (plainWave) and
// "init.sav" (kInitialSettings) that does not exist; an existing file is never
// opened, so a user's own sound or edited settings stay. A directory of that
// name counts as missing and fails with code 5. Each file is written whole or
// not at all. All three steps are tried; the first failure is then thrown as
// EInOutError naming its file.
void PrepareFiles(const std::string& dir, std::span<const std::uint8_t> accentWave,
                  std::span<const std::uint8_t> plainWave, FileSystem& fs = RealFileSystem());

}  // namespace pendlo
