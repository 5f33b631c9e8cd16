// Replacing a file's content so that a reader sees the old bytes or the new
// ones, never a mix: a failed or interrupted save leaves the old file whole.
#pragma once

#include <string>
#include <string_view>

#include "files/file_system.h"

namespace pendlo {

// Where an atomic write failed, so callers can pick their message.
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

// Writes bytes to a temporary file in the target's directory, syncs it and
// renames it over the target. A symbolic link is followed and its target is
// replaced, so the link stays a link. An existing file keeps its mode and,
// where allowed, its owner; a new one gets 0666 less the umask. A directory
// in the way fails at kCreate with EISDIR. On failure the temporary file is
// removed and the target is untouched.
WriteOutcome AtomicWrite(const std::string& path, std::string_view bytes,
                         FileSystem& fs = RealFileSystem());

// The path that writing to path changes: path with every symbolic link of
// its last element followed (a dangling link gives the missing file it
// names). Returns 0, or -ELOOP after 40 links.
int ResolveLinks(FileSystem& fs, const std::string& path, std::string* resolved);

}  // namespace pendlo
