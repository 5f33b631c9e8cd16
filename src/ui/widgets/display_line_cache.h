// The memo's display lines: every line of its text as the memo shows it,
// each wrapped continuation a line of its own, in UTF-8, top to bottom.
// They are kept until the text, the width, the font or the wrap mode
// changes, so asking again costs nothing; an edit of a text whose lines are
// all too short to wrap patches the kept lines instead of dropping them.
#pragma once

#include <QtGlobal>
#include <string>
#include <vector>

class QTextDocument;

namespace pendlo::ui {

class DisplayLineCache {
 public:
  // The lines of `document` as its layout wraps them. A line of fewer than
  // `shortLine` characters and no tab cannot wrap and is taken from the
  // plain text without being laid out. Reads the document only when no lines
  // are kept.
  const std::vector<std::string>& Lines(const QTextDocument& document, qsizetype shortLine);

  // `document` changed at `position`, `added` characters there: the kept
  // lines are patched where every block was one short line before and the
  // changed ones are short too, dropped otherwise.
  void Edited(const QTextDocument& document, int position, int added);

  // The width, the font or the wrap mode changed: the lines are read again.
  void Drop() { valid_ = false; }

 private:
  std::vector<std::string> lines_;
  bool valid_ = false;
  bool onePerBlock_ = false;  // every block was one short line
  qsizetype shortLine_ = 0;   // as the lines were read
};

}  // namespace pendlo::ui
