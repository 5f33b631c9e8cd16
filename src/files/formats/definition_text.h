// Definition texts on disk: "dtp.sav" and the user's ".dtp" files. The text
// in memory is UTF-8 with "\n" line breaks (see text_codec.h); the file holds
// Shift-JIS with CR LF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "files/store/file_system.h"

namespace pendlo {

// The largest definition text the memo takes, in bytes of its file form
// (Shift-JIS, CR LF): a text is refused before it could grow past it, so
// every file the program writes is one it reads back.
inline constexpr std::size_t kMemoLimitBytes = 1024 * 1024;

// Reads a definition file's bytes. Throws EMemoLimitError for a file over
// kMemoLimitBytes (decided from its size before it is read) or one whose
// lone CR or LF line breaks would take it past that limit once written back
// with CR LF, and EFOpenError
// (naming path) when it cannot be opened or read or is not a regular file (a
// FIFO or a device is refused without waiting for it).
std::string ReadDefinitionFile(const std::string& path, FileSystem& fs = RealFileSystem());

// ReadDefinitionFile decoded as memo text. Throws as ReadDefinitionFile.
std::string LoadDefinitionText(const std::string& path, FileSystem& fs = RealFileSystem());

// Whether saving text writes back the file's bytes, line breaks aside (a
// lone CR or LF comes back as CR LF). False when loading lost something: a
// NUL and what follows it, or bytes the memo did not keep.
bool SavesAs(const std::string& text, std::string_view fileBytes);

// Replaces the file at path with the text in its file form, as AtomicWrite
// does. Throws EMemoLimitError, writing nothing, for a text over
// kMemoLimitBytes in that form; EFCreateError (naming path) when the file cannot be created or
// replaced (also a read-only file, a directory, FIFO or device), EWriteError
// when its bytes cannot be written.
void SaveDefinitionText(const std::string& path, const std::string& text,
                        FileSystem& fs = RealFileSystem());

// The name Save writes to: the last path element's extension (from its last
// ".") replaced by ".dtp", or ".dtp" appended when it has none. 'rhythm',
// 'rhythm.txt' -> 'rhythm.dtp'; 'a.b/rhythm' -> 'a.b/rhythm.dtp'.
std::string ForceDtpExtension(const std::string& name);

}  // namespace pendlo
