#include "ui/widgets/definition_memo.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "files/formats/text_codec.h"

namespace pendlo::ui {

namespace {

// Line and paragraph separators would make a line break that is not a line
// of the text; they become plain line breaks.
QString PlainBreaks(QString text) {
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

bool HasLongRun(const QString& text) {
  int run = 0;
  for (const QChar c : text) {
    run = c.isSpace() ? 0 : run + 1;
    if (run > DefinitionMemo::kLongRun) return true;
  }
  return false;
}

// Bytes of the file form of text (see EncodedWidth).
std::size_t FileBytes(const QString& text) {
  std::size_t bytes = 0;
  for (const QChar c : text) bytes += static_cast<std::size_t>(EncodedWidth(c.unicode()));
  return bytes;
}

// Drops the size worked out for an insertion that made no change.
struct ForgetOnExit {
  std::optional<std::size_t>& bytes;
  ~ForgetOnExit() { bytes.reset(); }
};

}  // namespace

DefinitionMemo::DefinitionMemo(QWidget* parent, StorableFn storable)
    : QPlainTextEdit(parent), storable_(std::move(storable)) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setTabChangesFocus(true);
  // The scroll bar is always there, so the wrap width never changes with
  // the length of the text.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  connect(document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
    // The size Fits worked out for its own insertion; unknown after any
    // other change.
    fileBytesValid_ = insertingBytes_.has_value();
    fileBytes_ = insertingBytes_.value_or(0);
    insertingBytes_.reset();
    UpdateLines(position, added);
    UpdateWrapMode(position, position + added);
  });
}

void DefinitionMemo::UpdateLines(int position, int added) {
  if (!linesValid_) return;
  linesValid_ = false;
  // In a text whose lines are all one display line each (short lines, the
  // common case) an edit changes only the lines of the blocks it touched:
  // those from its start to its end now stand where the old ones stood.
  if (!linesOnePerBlock_) return;
  const QTextBlock first = document()->findBlock(position);
  const QTextBlock last = document()->findBlock(position + added);
  if (!first.isValid() || !last.isValid()) return;
  const int from = first.blockNumber();
  const int oldTo =
      last.blockNumber() - (document()->blockCount() - static_cast<int>(lines_.size()));
  if (oldTo < from || oldTo >= static_cast<int>(lines_.size())) return;
  const qsizetype shortLine = ShortLineLength();
  std::vector<std::string> changed;
  for (QTextBlock b = first;; b = b.next()) {
    const QString content = b.text();
    if (content.size() >= shortLine || content.contains(QLatin1Char('\t'))) return;
    changed.push_back(content.toStdString());
    if (b == last) break;
  }
  const auto at = lines_.begin() + from;
  lines_.erase(at, lines_.begin() + oldTo + 1);
  lines_.insert(lines_.begin() + from, std::make_move_iterator(changed.begin()),
                std::make_move_iterator(changed.end()));
  linesValid_ = true;
}

qsizetype DefinitionMemo::ShortLineLength() const {
  // Narrower than the width even in its widest characters; a tab is not.
  const QFontMetrics metrics(font());
  const int widest = std::max(metrics.maxWidth(), 2 * metrics.height());
  const qreal width = viewport()->width() - 2 * document()->documentMargin();
  return static_cast<qsizetype>(std::max<qreal>(0, std::ceil(width / widest)));
}

void DefinitionMemo::resizeEvent(QResizeEvent* event) {
  linesValid_ = false;
  QPlainTextEdit::resizeEvent(event);
}

void DefinitionMemo::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) linesValid_ = false;
  QPlainTextEdit::changeEvent(event);
}

void DefinitionMemo::SetLimit(std::size_t bytes, std::function<void()> refused) {
  limit_ = bytes;
  refused_ = std::move(refused);
}

bool DefinitionMemo::Fits(const QString& inserted) {
  insertingBytes_.reset();
  if (limit_ == 0) return true;
  // No character takes more than two bytes: most texts are settled without
  // being read.
  const auto chars = static_cast<std::size_t>(document()->characterCount() + inserted.size());
  if (2 * chars <= limit_) return true;
  if (!fileBytesValid_) {
    fileBytes_ = FileBytes(toPlainText());  // once; typing then keeps the count
    fileBytesValid_ = true;
  }
  const std::size_t after =
      fileBytes_ - FileBytes(textCursor().selectedText()) + FileBytes(inserted);
  if (after <= limit_) {
    insertingBytes_ = after;
    return true;
  }
  if (refused_) refused_();
  return false;
}

void DefinitionMemo::SetWrapAnywhere(bool anywhere) {
  if (anywhere == wrapAnywhere_) return;
  wrapAnywhere_ = anywhere;
  setWordWrapMode(anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
  linesValid_ = false;
}

void DefinitionMemo::UpdateWrapMode(int from, int to) {
  const auto isLong = [](const QTextBlock& b) {
    return b.length() > kLongRun && HasLongRun(b.text());
  };
  if (!wrapAnywhere_) {
    // Only the changed blocks can have gained a long run.
    const QTextBlock last = document()->findBlock(to);
    for (QTextBlock b = document()->findBlock(from); b.isValid(); b = b.next()) {
      if (isLong(b)) return SetWrapAnywhere(true);
      if (b == last) break;
    }
    return;
  }
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
    if (isLong(b)) return;
  }
  SetWrapAnywhere(false);
}

const std::vector<std::string>& DefinitionMemo::DisplayLines() const {
  if (linesValid_) return lines_;
  ++wholeTextReads_;
  lines_.clear();
  // A line that cannot wrap is taken from the plain text without laying it
  // out (laying out every line of a long text took a quarter of a second).
  const auto shortLine = static_cast<std::size_t>(ShortLineLength());
  const std::string text = toPlainText().toStdString();
  lines_.reserve(static_cast<std::size_t>(document()->blockCount()));
  linesOnePerBlock_ = true;
  QAbstractTextDocumentLayout* layout = document()->documentLayout();
  std::size_t start = 0;
  for (int number = 0;; ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    // UTF-8 bytes are at least as many as the characters.
    if (line.size() < shortLine && line.find('\t') == line.npos) {
      lines_.emplace_back(line);
    } else {
      linesOnePerBlock_ = false;
      const QTextBlock block = document()->findBlockByNumber(number);
      // Asking for the block's extent lays it out at the memo's width.
      layout->blockBoundingRect(block);
      const QTextLayout* laid = block.layout();
      const QString content = block.text();
      if (laid == nullptr || laid->lineCount() == 0) {
        lines_.push_back(content.toStdString());
      } else {
        for (int i = 0; i < laid->lineCount(); ++i) {
          const QTextLine part = laid->lineAt(i);
          lines_.push_back(content.mid(part.textStart(), part.textLength()).toStdString());
        }
      }
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  linesValid_ = true;
  return lines_;
}

std::string DefinitionMemo::TextUtf8() const {
  ++wholeTextReads_;
  return toPlainText().toStdString();
}

void DefinitionMemo::SetTextUtf8(const std::string& text) {
  const QString replacing = QString::fromStdString(text);
  // Wrapping anywhere starts before the new text is laid out, and ends only
  // once the old one is gone.
  const bool anywhere = HasLongRun(replacing);
  if (anywhere) SetWrapAnywhere(true);
  setPlainText(replacing);
  if (!anywhere) SetWrapAnywhere(false);
}

void DefinitionMemo::keyPressEvent(QKeyEvent* event) {
  const ForgetOnExit forget{insertingBytes_};
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
      !isReadOnly()) {
    event->accept();
    if (!Fits(QStringLiteral("\n"))) return;
    // Shift+Enter too makes a real line break, not a soft one.
    textCursor().insertText(QStringLiteral("\n"));
    ensureCursorVisible();
    return;
  }
  const QString typed = event->text();
  if (!isReadOnly() && !typed.isEmpty() && typed.at(0).isPrint() &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    const QString kept = Storable(typed);
    if (!Fits(kept)) {
      event->accept();
      return;
    }
    if (kept != typed) {
      textCursor().insertText(kept);
      ensureCursorVisible();
      event->accept();
      return;
    }
  }
  QPlainTextEdit::keyPressEvent(event);
}

void DefinitionMemo::inputMethodEvent(QInputMethodEvent* event) {
  const ForgetOnExit forget{insertingBytes_};
  const QString commit = event->commitString();
  const QString kept = Storable(commit);
  if (!commit.isEmpty() && !Fits(kept)) {
    // The composition ends without its text.
    QInputMethodEvent nothing;
    QPlainTextEdit::inputMethodEvent(&nothing);
    event->accept();
    return;
  }
  if (commit.isEmpty() || kept == commit) {
    QPlainTextEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent fixed(event->preeditString(), event->attributes());
  fixed.setCommitString(kept, event->replacementStart(), event->replacementLength());
  QPlainTextEdit::inputMethodEvent(&fixed);
  event->accept();
}

QString DefinitionMemo::Storable(const QString& text) const {
  const QString plain = PlainBreaks(text);
  if (!storable_) return plain;
  return QString::fromStdString(storable_(plain.toStdString()));
}

void DefinitionMemo::insertFromMimeData(const QMimeData* source) {
  const ForgetOnExit forget{insertingBytes_};
  if (source == nullptr || !source->hasText() || isReadOnly()) return;
  const QString text = Storable(source->text());
  if (!Fits(text)) return;
  if (HasLongRun(text)) SetWrapAnywhere(true);  // before it is laid out
  textCursor().insertText(text);
  ensureCursorVisible();
}

}  // namespace pendlo::ui
