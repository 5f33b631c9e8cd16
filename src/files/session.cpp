#include "files/session.h"

#include <exception>
#include <stdexcept>

#include "files/click_images.h"
#include "files/data_dir.h"
#include "files/definition_text.h"
#include "files/errors.h"
#include "files/prepare_files.h"
#include "files/stale_temporaries.h"
#include "files/text_codec.h"

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
  const int tempo = reader.ReadLine();
  if (tempo == kNoSettings) return;
  target.tempo(tempo);
  target.meter(reader.ReadLine());
  const int left = reader.ReadLine();
  const int top = reader.ReadLine();
  target.position(left, top);
}

void Session::LoadSavedText(const std::function<std::string(const std::string&)>& show) {
  if (dir_.empty()) return;
  savedTextRead_ = true;
  const std::string path = DataFile(dir_, kSavedTextFile);
  if (!FileExists(path, fs_)) return;
  try {
    const std::string bytes = ReadDefinitionFile(path, fs_);
    // Saving what the memo kept would cut the file (at a NUL, say): it is
    // left alone unless the user edits the text.
    keepSavedText_ = !SavesAs(show(DecodeDefinitionText(bytes)), bytes);
  } catch (...) {
    // Likewise for a file that could not be read at all.
    keepSavedText_ = true;
    throw;
  }
}

void Session::Save(const Settings& settings, const std::string& memoText, bool memoEdited) {
  if (dir_.empty()) return;  // no data directory, as start-up said
  std::string errors;
  const auto attempt = [&errors](auto&& save) {
    try {
      save();
    } catch (const std::exception& e) {
      errors += errors.empty() ? "" : "\n";
      errors += e.what();
    }
  };
  if (settingsRead_) attempt([&] { SaveSettings(dir_, settings, fs_); });
  if (savedTextRead_ && !(keepSavedText_ && !memoEdited)) {
    attempt([&] {
      const std::string path = DataFile(dir_, kSavedTextFile);
      try {
        SaveDefinitionText(path, memoText, fs_);
      } catch (const EWriteError& e) {
        throw std::runtime_error(path + ": " + e.what());  // its own text names no file
      }
      keepSavedText_ = false;
    });
  }
  if (!errors.empty()) throw std::runtime_error(errors);
}

}  // namespace pendlo
