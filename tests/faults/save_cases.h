// The three saves the program makes, as one table the fault tests run
// through: the settings, "dtp.sav" and a user's ".dtp" file.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

}  // namespace pendlo::faults
