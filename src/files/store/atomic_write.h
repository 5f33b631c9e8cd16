// Replacing a file's content safely: a reader sees the old bytes or the new
// ones, never a mix, and only a plain file the user may write is replaced.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "files/store/file_system.h"

namespace pendlo {

// Where a write failed, so callers can pick their message.
enum class WriteStage {
  kNone,    // success
  kCreate,  // the file could not be created or replaced (open, rename, ...)
  kWrite,   // the bytes could not be written or made durable (write, fsync)
};

struct WriteOutcome {
  WriteStage stage = WriteStage::kNone;
  int err = 0;  // errno of the failing call; ENOSPC for a write of 0 bytes
  bool ok() const { return stage == WriteStage::kNone; }
};

// Writes bytes to the file at path. A symbolic link is followed first and
// its final target written, so the link stays a link.
// - Refused at kCreate, touching nothing: a directory (EISDIR); a FIFO,
//   device or socket (EACCES); a read-only file, that is one with a read bit
//   and no write bit for anyone (EACCES), decided from the mode so that root
//   is refused too.
// - A file that already holds exactly these bytes is left as it is.
// - Otherwise a temporary file beside the target is written, synced and
//   renamed over it. It takes the old file's owner and mode; a file nobody
//   could read gets its owner's read and write bits, so that what is saved
//   can be read back. A new file gets 0666 less the umask.
// - Where no temporary file can be made (a directory the user may not
//   write) or the owner cannot be kept, the file is written in place and
//   synced; a failure then may leave it partly written.
// On failure the temporary file is removed and the target is untouched.
WriteOutcome AtomicWrite(const std::string& path, std::string_view bytes,
                         FileSystem& fs = RealFileSystem());

// The path that writing to path changes: path with every symbolic link of
// its last element followed (a dangling link gives the missing file it
// names). Returns 0, or -ELOOP after 40 links.
int ResolveLinks(FileSystem& fs, const std::string& path, std::string* resolved);

// The mode a replaced file of mode old gets (see AtomicWrite).
mode_t ReplacedMode(mode_t old);

}  // namespace pendlo
