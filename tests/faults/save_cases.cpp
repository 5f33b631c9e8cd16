#include "faults/save_cases.h"

#include "files/formats/definition_text.h"
#include "files/formats/settings.h"
#include "files/session.h"

namespace pendlo::faults {

namespace {

// A few kilobytes, more than one page, so that the new text cannot slip
// into a partly used block of the full disk.
std::string NewText() {
  std::string text = "/ 7/8\n";
  while (text.size() < 6000) text += "322\n";
  return text;
}

}  // namespace

std::string OldBytes(const SaveCase& c) {
  return std::string(c.file) == "init.sav" ? "72\r\n3\r\n100\r\n200\r\n" : "/ old\r\n35\r\n";
}

std::vector<SaveCase> SaveCases() {
  return {
      {"settings", "init.sav",
       [](const std::string& dir) {
         SaveSettings(dir, Settings{240, 9, 10, 20});
       }},
      // As the close saves it: read at start-up, then edited.
      {"dtp.sav", "dtp.sav",
       [](const std::string& dir) {
         Session session(dir);
         session.LoadSavedText([](const std::string& text) { return text; });
         session.Save(Settings{}, NewText(), true);
       }},
      {".dtp file", "rhythm.dtp",
       [](const std::string& dir) { SaveDefinitionText(dir + "rhythm.dtp", NewText()); }},
  };
}

}  // namespace pendlo::faults
