// The three saves the program makes, as one table the fault tests run
// through: the settings, "dtp.sav" and a user's ".dtp" file.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "files/store/errors.h"

namespace pendlo::faults {

struct SaveCase {
  const char* name;
  const char* file;  // in the data directory
  // Saves new content to dir's file with the real files layer.
  std::function<void(const std::string& dir)> save;
};

// The old bytes each file holds before the save, in file form.
std::string OldBytes(const SaveCase& c);

// The three cases.
std::vector<SaveCase> SaveCases();

// What a save threw.
struct SaveReport {
  std::string message = "<no error>";  // the error's text
  std::optional<int> code;             // an EInOutError's code
};

// Runs c's save into dir: the text of the EInOutError (the settings) or of
// the FileError (a definition text) it threw; any other error is reported
// as unexpected, by its text.
template <class FileError>
SaveReport ReportSave(const SaveCase& c, const std::string& dir) {
  SaveReport report;
  try {
    c.save(dir);
  } catch (const EInOutError& e) {
    report.message = e.what();
    report.code = e.Code();
  } catch (const FileError& e) {
    report.message = e.what();
  } catch (const std::exception& e) {
    report.message = std::string("unexpected error type: ") + e.what();
  }
  return report;
}

}  // namespace pendlo::faults
