// Definition texts on disk: "dtp.sav" and the user's ".dtp" files. The text
// in memory is UTF-8 with "\n" line breaks (see text_codec.h); the file holds
// Shift-JIS with CR LF.
#pragma once

#include <cstddef>
#include <string>

#include "files/file_system.h"

namespace pendlo {

// The largest definition file the memo takes, in bytes.
inline constexpr std::size_t kMemoLimitBytes = 1024 * 1024;

// Reads a definition file as memo text. Throws EMemoLimitError for a file
// over kMemoLimitBytes (decided from its size before it is read) and
// EFOpenError (naming path) when it cannot be opened or read.
std::string LoadDefinitionText(const std::string& path, FileSystem& fs = RealFileSystem());

// Replaces the file at path atomically with the text in its file form.
// Throws EFCreateError (naming path) when the file cannot be created or
// replaced, EWriteError when its bytes cannot be written; the old file then
// stays whole.
void SaveDefinitionText(const std::string& path, const std::string& text,
                        FileSystem& fs = RealFileSystem());

// The name Save writes to: the last path element's extension (from its last
// ".") replaced by ".dtp", or ".dtp" appended when it has none. 'rhythm',
// 'rhythm.txt' -> 'rhythm.dtp'; 'a.b/rhythm' -> 'a.b/rhythm.dtp'.
std::string ForceDtpExtension(const std::string& name);

}  // namespace pendlo
