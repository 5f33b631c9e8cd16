// The settings file "init.sav": four decimal integers, one per CR LF line
// (tempo, meter selection, window left, window top), or the single line
// "-10000" before any settings were saved.
#pragma once

#include <cstddef>
#include <string>

#include "files/store/file_system.h"

namespace pendlo {

// A first value meaning that no settings have been saved yet.
inline constexpr int kNoSettings = -10000;

struct Settings {
  int tempo = 0;
  int meter = 0;  // the meter selection, -1..10
  int left = 0;
  int top = 0;
};

// Reads the integers of a settings file one at a time from its bytes, so the
// caller can apply each value before the next is read (and fails).
class SettingsReader {
 public:
  // file, when given, is named in the errors.
  explicit SettingsReader(std::string bytes, std::string file = {});

  // Reads one integer and skips the rest of its line. Bytes 0x00..0x20 before
  // it are skipped; 0x1A or the end of the bytes gives 0 without error; the
  // token ends at a byte <= 0x20 and is decimal with an optional sign within
  // +-2147483647, or "$" and 1 to 8 hex digits taken as 32-bit two's
  // complement. The rest of the line is everything up to and including the
  // next CR and one LF right after it, so LF-only lines end the file.
  // Throws EInOutError(106) for anything else, after skipping the line.
  int ReadLine();

 private:
  std::string bytes_;  // cut at the first 0x1A, which ends the file
  std::string file_;
  std::size_t pos_ = 0;
};

// The most of "init.sav" that is read: its four lines fit many times over,
// and a huge file (or a link to a device) costs nothing.
inline constexpr std::size_t kSettingsReadLimit = 8 * 1024;

// Reads the first kSettingsReadLimit bytes of dir's "init.sav" and closes it.
// Throws EInOutError naming the file with the code of the failing call (2
// when missing, 5 for a directory, a FIFO or a device, ...); such files are
// never opened or waited for.
SettingsReader OpenSettings(const std::string& dir, FileSystem& fs = RealFileSystem());

// The file's bytes for these settings: four lines, each ending in CR LF.
std::string FormatSettings(const Settings& settings);

// Replaces dir's "init.sav" with FormatSettings(settings), as AtomicWrite
// does. Throws EInOutError naming the file with the code of the failing call
// (5 for a read-only file, a directory, FIFO or device); the old file then
// stays.
void SaveSettings(const std::string& dir, const Settings& settings,
                  FileSystem& fs = RealFileSystem());

}  // namespace pendlo
