// The session's files in the data directory: the built-in clicks and the
// settings made on first start, "init.sav" and "dtp.sav" read at start-up and
// written back at close. Each is written back only once start-up has read it,
// so an early end keeps what the last session saved.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "files/formats/settings.h"
#include "files/store/file_system.h"
#include "files/store/keep_beside.h"

namespace pendlo {

// Where the values of "init.sav" go, each handed on as it is read: a value
// read before a broken line is still applied.
struct SettingsTarget {
  std::function<void(int tempo)> tempo;
  std::function<void(int meter)> meter;
  std::function<void(int left, int top)> position;
};

class Session {
 public:
  // dir: the data directory, "" when there is none: nothing is then read or
  // written.
  explicit Session(std::string dir, FileSystem& fs = RealFileSystem());

  // Writes the missing clicks and settings, then removes the temporaries a
  // killed save left. Throws the first failure once both have been tried.
  void Prepare();

  // Reads "init.sav" into target; nothing while no settings were saved yet.
  // Throws EInOutError naming the file.
  void LoadSettings(const SettingsTarget& target);

  // Reads "dtp.sav", if there is one: show puts its text in the memo and
  // returns the text the memo kept. A file that did not load exactly
  // (unreadable, too large, a NUL, bytes the memo cannot keep) is kept whole:
  // see Save. Throws the read's error.
  void LoadSavedText(const std::function<std::string(const std::string& text)>& show);

  // The settings the window shows once start-up is through. "init.sav" is
  // written at close only when the settings differ from those it held when
  // read whole, so a copy that changed nothing never puts back what another
  // one saved meanwhile; one that opened but did not read whole (a line not
  // a number, cut short) is always written, so it is mended once.
  void SettingsShown(const Settings& shown);

  // Writes both files, each only if start-up read it: "init.sav" when the
  // settings differ from those shown (or last saved), "dtp.sav" only when
  // the memo was edited. Before the edited text replaces a "dtp.sav" that
  // did not load exactly or that changed on disk since it was read, that
  // file is kept beside it (KeepBeside). Returns a line per file so kept,
  // naming both, for the user; "" when none. Both files are tried; throws
  // one error naming each file that failed, one per line (a full disk
  // reads the same for both: "<file>: ﾃﾞｨｽｸがいっぱいです").
  std::string Save(const Settings& settings, const std::string& memoText, bool memoEdited);

 private:
  // Whether the regular file at path (st its stat) holds text's file form.
  bool Holds(const std::string& path, const struct stat& st, const std::string& text);

  std::string dir_;
  FileSystem& fs_;
  bool settingsRead_ = false;
  bool settingsBroken_ = false;  // "init.sav" opened but did not read whole
  bool savedTextRead_ = false;
  bool keepSavedText_ = false;              // "dtp.sav" did not load exactly
  FileStamp savedTextStamp_;                // "dtp.sav" as read or last written
  std::optional<Settings> settingsOnDisk_;  // "init.sav" as read, all four values
  std::optional<Settings> settingsShown_;
};

}  // namespace pendlo
