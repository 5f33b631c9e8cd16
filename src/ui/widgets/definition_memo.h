// The definition memo: a word-wrapping plain text edit whose display lines
// (every wrapped continuation a line of its own) are what the beat engine
// reads. Enter inserts a line break; Tab leaves the memo. Characters the
// definition files' code page cannot hold become "?" as they are typed or
// pasted, so what is shown is what a save will write.
//
// Lines wrap at word boundaries, and a word wider than the memo anywhere.
// Qt lays such a word out in time that grows with the square of its length
// (a line of 100,000 digits took a second per key), so while the text holds
// a run of more than kLongRun characters without a space the memo wraps
// anywhere, which is linear; a run that long has no word boundary to keep.
//
// Even linear, Qt lays a line out whole at every change: a line of 1 MiB
// took 0.4 to 1.3 s a key, and 50 to 65 ms with the long-line layout
// (long_line_layout.h) on a quiet 2-core machine. Characters typed into a
// line of more than kHeldBackLine characters are therefore held back and put
// in together on the event loop's next turn, so keys that came meanwhile
// (and Start or Stop pressed after them) cost one layout, not one each.
#pragma once

#include <QPlainTextEdit>
#include <QSet>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/widgets/display_line_cache.h"
#include "ui/widgets/long_line_layout.h"
#include "ui/widgets/memo_byte_budget.h"

namespace pendlo::ui {

class DefinitionMemo : public QPlainTextEdit {
 public:
  // `storable` maps UTF-8 text to what the files can hold ("?" for the
  // characters they cannot); null keeps every character.
  using StorableFn = std::function<std::string(const std::string&)>;
  explicit DefinitionMemo(QWidget* parent, StorableFn storable = {});

  static constexpr int kLongRun = 1000;
  static constexpr int kHeldBackLine = 20000;

  // The lines as displayed, in UTF-8, top to bottom (see DisplayLineCache),
  // typing held back included: asking again before the text or its layout
  // changes costs nothing.
  const std::vector<std::string>& DisplayLines();

  // The file limit in bytes of the file form (see files/formats/text_codec.h): an
  // insertion (typed, pasted, dropped or from an input method) that would
  // take the text past it is refused and refused() is called. 0: no limit.
  void SetLimit(std::size_t bytes, std::function<void()> refused);

  // Called, after the insertion, with the characters an insertion held that
  // the files cannot (each shown as "?"), space-separated; each character is
  // told once a session, so typing it again says nothing.
  void SetOnUnstorable(std::function<void(const QString& characters)> told);

  // The whole text with "\n" between lines, in UTF-8, typing held back
  // included.
  std::string TextUtf8();

  // Replaces the whole text (undo history included).
  void SetTextUtf8(const std::string& text);

  // Puts in the characters typed and held back (see kHeldBackLine), if any.
  void PutInHeldBack();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The text as the files can hold it, with plain line breaks; tells what
  // it could not keep (SetOnUnstorable).
  QString Storable(const QString& text);
  void TellUnstorable(const QString& text);
  // Wraps anywhere while a long run is in the text: checks the blocks from
  // `from` to `to` (document positions), or every block when one may have
  // gone. Cheap: a block shorter than kLongRun is not read.
  void UpdateWrapMode(int from, int to);
  void SetWrapAnywhere(bool anywhere);
  // Keeps the shaped glyphs of each line of more than kHeldBackLine
  // characters among the blocks from `from` to `to` (document positions)
  // after its layout, so the cursor and the paint do not shape it again.
  void KeepGlyphsOfLongLines(int from, int to);

  // Whether inserting text in place of the selection keeps the text within
  // the limit; runs the limit's `refused` when not.
  bool Fits(const QString& inserted);
  // Holds back `typed` (storable, within the limit) when it goes at the end
  // of what is held back already, or the cursor is in a line too long to lay
  // out at every key; false leaves it to be typed now.
  bool HoldBack(const QString& typed);
  // Lines of fewer characters than this (and no tab) cannot wrap at the
  // memo's width, however wide their characters are drawn.
  qsizetype ShortLineLength() const;

  StorableFn storable_;
  std::function<void(const QString&)> onUnstorable_;
  QSet<char32_t> told_;  // characters already said to be unstorable
  MemoByteBudget budget_;
  mutable DisplayLineCache lines_;
  bool wrapAnywhere_ = false;                      // with the long-line layout (long_line_layout.h)
  std::optional<HeapKeepsLargeBlocks> heapKeeps_;  // while wrapping anywhere
  QString heldBack_;                               // typed at the cursor, not yet in the text
};

}  // namespace pendlo::ui
