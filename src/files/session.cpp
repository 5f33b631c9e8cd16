#include "files/session.h"

#include <exception>
#include <stdexcept>

#include "files/formats/click_images.h"
#include "files/formats/definition_text.h"
#include "files/formats/text_codec.h"
#include "files/prepare_files.h"
#include "files/store/data_dir.h"
#include "files/store/errors.h"
#include "files/store/stale_temporaries.h"

namespace pendlo {

Session::Session(std::string dir, FileSystem& fs) : dir_(std::move(dir)), fs_(fs) {}

void Session::Prepare() {
  if (dir_.empty()) return;
  std::exception_ptr failure;
  try {
    PrepareFiles(dir_, PiWave, PoWave, fs_);
  } catch (...) {
    failure = std::current_exception();
  }
  // A save killed part-way (a crash, a power cut) leaves its temporary file.
  RemoveStaleTemporaries(dir_);
  if (failure) std::rethrow_exception(failure);
}

void Session::LoadSettings(const SettingsTarget& target) {
  if (dir_.empty()) return;
  // Even a file that fails to read has been read: what the window then
  // shows is saved over it.
  settingsRead_ = true;
  SettingsReader reader = OpenSettings(dir_, fs_);
  try {
    const int tempo = reader.ReadLine();
    if (tempo == kNoSettings) return;
    target.tempo(tempo);
    const int meter = reader.ReadLine();
    target.meter(meter);
    const int left = reader.ReadLine();
    const int top = reader.ReadLine();
    target.position(left, top);
    settingsOnDisk_ = Settings{tempo, meter, left, top};
  } catch (const EInOutError&) {
    // The file opened but its content was wrong: the values the window
    // shows instead replace it at close, so its error is seen only once.
    settingsBroken_ = true;
    throw;
  }
}

void Session::LoadSavedText(const std::function<std::string(const std::string&)>& show) {
  if (dir_.empty()) return;
  savedTextRead_ = true;
  const std::string path = DataFile(dir_, kSavedTextFile);
  // Taken before the read: a change during it then counts as a change.
  savedTextStamp_ = StampOf(path, fs_);
  if (!FileExists(path, fs_)) return;
  try {
    const std::string bytes = ReadDefinitionFile(path, fs_);
    // Saving what the memo kept would cut the file (at a NUL, say).
    keepSavedText_ = !SavesAs(show(DecodeDefinitionText(bytes)), bytes);
  } catch (...) {
    // Likewise for a file that could not be read at all.
    keepSavedText_ = true;
    throw;
  }
}

void Session::SettingsShown(const Settings& shown) {
  // Values the window could not show as read (a tempo out of range) are
  // written back in the form it shows them.
  settingsShown_ = settingsOnDisk_.value_or(shown);
  if (settingsBroken_) settingsShown_.reset();
}

namespace {

bool operator==(const Settings& a, const Settings& b) {
  return a.tempo == b.tempo && a.meter == b.meter && a.left == b.left && a.top == b.top;
}

// A full disk reads alike for every file: the settings' own message, which
// tells the user what to do about it.
[[noreturn]] void ThrowNamed(const EFileError& e, const std::string& path) {
  const int err = e.SystemError();
  if (InOutCodeForErrno(err) == kInOutDiskFull) throw EInOutError::FromErrno(err, path);
  if (const auto* created = dynamic_cast<const EFCreateError*>(&e)) throw *created;  // named
  throw std::runtime_error(FormatMessage(kNamedFormat, {path, e.what()}));
}

}  // namespace

bool Session::Holds(const std::string& path, const struct stat& st, const std::string& text) {
  // The encoding is exact: a file of another size holds another text.
  const std::string bytes = EncodeDefinitionText(text);
  if (static_cast<unsigned long long>(st.st_size) != bytes.size()) return false;
  std::string now;
  bool tooLarge = false;
  return ReadRegularFile(fs_, path, bytes.size(), OverLimit::kRefuse, &now, &tooLarge) == 0 &&
         !tooLarge && now == bytes;
}

std::string Session::Save(const Settings& settings, const std::string& memoText, bool memoEdited) {
  if (dir_.empty()) return {};  // no data directory, as start-up said
  std::string errors;
  std::string kept;
  std::exception_ptr only;  // the failure, while there is one
  const auto attempt = [&errors, &only](auto&& save) {
    try {
      save();
    } catch (const std::exception& e) {
      only = errors.empty() ? std::current_exception() : nullptr;
      errors += errors.empty() ? "" : "\n";
      errors += e.what();
    }
  };
  if (settingsRead_ && !(settingsShown_ && *settingsShown_ == settings)) {
    attempt([&] {
      SaveSettings(dir_, settings, fs_);
      settingsShown_ = settings;
    });
  }
  if (savedTextRead_ && memoEdited) {
    attempt([&] {
      const std::string path = DataFile(dir_, kSavedTextFile);
      const FileStamp now = StampOf(path, fs_);
      const bool changed = now.exists && !(now == savedTextStamp_);
      if ((keepSavedText_ || changed) && now.exists) {
        struct stat st {};
        // A FIFO or device is refused by the write itself; only a file's
        // text can be lost.
        if (fs_.Stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            !Holds(path, st, memoText)) {
          const std::string name = KeepBeside(path, fs_);
          kept += kept.empty() ? "" : "\n";
          kept +=
              FormatMessage(keepSavedText_ ? kKeptUnreadFormat : kKeptChangedFormat, {path, name});
        }
        keepSavedText_ = false;
        savedTextStamp_ = now;
      }
      try {
        SaveDefinitionText(path, memoText, fs_);
      } catch (const EFileError& e) {
        ThrowNamed(e, path);  // the write's own text names no file
      }
      savedTextStamp_ = StampOf(path, fs_);
    });
  }
  if (!errors.empty()) {
    if (only && kept.empty()) std::rethrow_exception(only);  // keeps its type
    if (!kept.empty()) errors += "\n" + kept;
    throw std::runtime_error(errors);
  }
  return kept;
}

}  // namespace pendlo
