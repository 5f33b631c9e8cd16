// Keeping a file's present version under a new name beside it before it is
// replaced, so that a save never silently destroys a text the program did
// not load or that changed on disk since.
#pragma once

#include <sys/stat.h>

#include <string>

#include "files/store/file_system.h"

namespace pendlo {

// What identifies one version of a file: a save by any program (a rename
// over it or a write) changes at least one of these.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  bool operator==(const FileStamp& other) const;
};

// The stamp of the file at path (links followed); exists false when there
// is nothing there.
FileStamp StampOf(const std::string& path, FileSystem& fs = RealFileSystem());

// The name the file at path is kept under: beside it, its name without the
// extension, "-<n>" and ".dtp" with the first n from 1 that is free, so it
// opens through the Open dialog ('dtp.sav' -> 'dtp-1.dtp').
std::string KeptName(const std::string& path, int n);

// Gives the regular file at path (links followed) a second name, KeptName
// with the first free n, as a hard link where the file system allows one
// and otherwise as a copy of its bytes. Returns that name. Throws
// EFCreateError naming the first name tried when neither can be made.
std::string KeepBeside(const std::string& path, FileSystem& fs = RealFileSystem());

}  // namespace pendlo
