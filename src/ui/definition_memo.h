// The definition memo: a word-wrapping plain text edit whose display lines
// (every wrapped continuation a line of its own) are what the beat engine
// reads. Enter inserts a line break; Tab leaves the memo. Characters the
// definition files' code page cannot hold become "?" as they are typed or
// pasted, so what is shown is what a save will write.
#pragma once

#include <QPlainTextEdit>
#include <functional>
#include <string>
#include <vector>

namespace pendlo::ui {

class DefinitionMemo : public QPlainTextEdit {
 public:
  // `storable` maps UTF-8 text to what the files can hold ("?" for the
  // characters they cannot); null keeps every character.
  using StorableFn = std::function<std::string(const std::string&)>;
  explicit DefinitionMemo(QWidget* parent, StorableFn storable = {});

  // The lines as displayed, in UTF-8, top to bottom.
  std::vector<std::string> DisplayLines() const;

  // The whole text with "\n" between lines, in UTF-8.
  std::string TextUtf8() const;
  // Replaces the whole text (undo history included).
  void SetTextUtf8(const std::string& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  // The text as the files can hold it, with plain line breaks.
  QString Storable(const QString& text) const;

  StorableFn storable_;
};

}  // namespace pendlo::ui
