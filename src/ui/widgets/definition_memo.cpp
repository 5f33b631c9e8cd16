#include "ui/widgets/definition_memo.h"

#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <utility>

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

bool OnlyAModifier(int key) {
  return (key >= Qt::Key_Shift && key <= Qt::Key_ScrollLock) || key == Qt::Key_AltGr ||
         (key >= Qt::Key_Super_L && key <= Qt::Key_Hyper_R);
}

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
    budget_.Changed();
    lines_.Edited(*document(), position, added);
    KeepGlyphsOfLongLines(position, position + added);
    UpdateWrapMode(position, position + added);
  });
}

qsizetype DefinitionMemo::ShortLineLength() const {
  // Narrower than the width even in its widest characters; a tab is not.
  const QFontMetrics metrics(font());
  const int widest = std::max(metrics.maxWidth(), 2 * metrics.height());
  const qreal width = viewport()->width() - 2 * document()->documentMargin();
  return static_cast<qsizetype>(std::max<qreal>(0, std::ceil(width / widest)));
}

void DefinitionMemo::resizeEvent(QResizeEvent* event) {
  lines_.Drop();
  QPlainTextEdit::resizeEvent(event);
}

void DefinitionMemo::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) lines_.Drop();
  QPlainTextEdit::changeEvent(event);
  // The widget's font has replaced the document's.
  if (event->type() == QEvent::FontChange && wrapAnywhere_) UseLongLineLayout(*document(), true);
}

void DefinitionMemo::SetLimit(std::size_t bytes, std::function<void()> refused) {
  budget_.SetLimit(bytes, std::move(refused));
}

bool DefinitionMemo::Fits(const QString& inserted) {
  return budget_.Fits(textCursor(), inserted);
}

void DefinitionMemo::SetWrapAnywhere(bool anywhere) {
  if (anywhere == wrapAnywhere_) return;
  wrapAnywhere_ = anywhere;
  setWordWrapMode(anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
  UseLongLineLayout(*document(), anywhere);
  if (anywhere) {
    heapKeeps_.emplace();
  } else {
    heapKeeps_.reset();
  }
  lines_.Drop();
}

void DefinitionMemo::KeepGlyphsOfLongLines(int from, int to) {
  const QTextBlock last = document()->findBlock(to);
  for (QTextBlock b = document()->findBlock(from); b.isValid(); b = b.next()) {
    // Kept, the glyphs of the layout serve the cursor and the paint after
    // it; dropped, both shaped the whole line again (a key into a 1 MiB
    // line: 0.57-0.64 s, against 0.32-0.34 s kept). The flag stays with the
    // block's layout.
    if (b.length() > kHeldBackLine) b.layout()->setCacheEnabled(true);
    if (b == last) break;
  }
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

const std::vector<std::string>& DefinitionMemo::DisplayLines() {
  PutInHeldBack();
  return lines_.Lines(*document(), ShortLineLength());
}

std::string DefinitionMemo::TextUtf8() {
  PutInHeldBack();
  return toPlainText().toStdString();
}

void DefinitionMemo::SetTextUtf8(const std::string& text) {
  heldBack_.clear();  // typed into the text being replaced
  const QString replacing = QString::fromStdString(text);
  // Wrapping anywhere starts before the new text is laid out, and ends only
  // once the old one is gone.
  const bool anywhere = HasLongRun(replacing);
  if (anywhere) SetWrapAnywhere(true);
  setPlainText(replacing);
  if (!anywhere) SetWrapAnywhere(false);
}

void DefinitionMemo::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  const bool typing =
      !isReadOnly() && !typed.isEmpty() && typed.at(0).isPrint() &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  const QString kept = typing ? Storable(typed) : QString();
  if (typing && HoldBack(kept)) {
    event->accept();
    return;
  }
  // A modifier pressed on its way to an access key changes nothing here.
  if (!OnlyAModifier(event->key())) PutInHeldBack();
  const MemoByteBudget::Insertion inserting = budget_.Inserting();
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
  if (typing && !Fits(kept)) {
    event->accept();
    return;
  }
  if (typing && kept != typed) {
    textCursor().insertText(kept);
    ensureCursorVisible();
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

bool DefinitionMemo::HoldBack(const QString& typed) {
  const QTextCursor cursor = textCursor();
  if (heldBack_.isEmpty() && (cursor.hasSelection() || cursor.block().length() <= kHeldBackLine)) {
    return false;
  }
  const MemoByteBudget::Insertion inserting = budget_.Inserting();
  if (!Fits(heldBack_ + typed)) return true;
  if (heldBack_.isEmpty()) {
    QMetaObject::invokeMethod(
        this, [this] { PutInHeldBack(); }, Qt::QueuedConnection);
  }
  heldBack_ += typed;
  // Whoever asks before it is put in (a save at a signal) sees a changed text.
  document()->setModified(true);
  return true;
}

void DefinitionMemo::PutInHeldBack() {
  if (heldBack_.isEmpty()) return;
  const QString typed = std::exchange(heldBack_, QString());
  const MemoByteBudget::Insertion inserting = budget_.Inserting();
  if (!Fits(typed)) return;  // only when the limit was lowered meanwhile
  textCursor().insertText(typed);
  ensureCursorVisible();
}

void DefinitionMemo::mousePressEvent(QMouseEvent* event) {
  PutInHeldBack();
  QPlainTextEdit::mousePressEvent(event);
}

void DefinitionMemo::inputMethodEvent(QInputMethodEvent* event) {
  PutInHeldBack();
  const MemoByteBudget::Insertion inserting = budget_.Inserting();
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

QString DefinitionMemo::Storable(const QString& text) {
  const QString plain = PlainBreaks(text);
  if (!storable_) return plain;
  QString kept = QString::fromStdString(storable_(plain.toStdString()));
  if (kept != plain) TellUnstorable(plain);
  return kept;
}

void DefinitionMemo::SetOnUnstorable(std::function<void(const QString&)> told) {
  onUnstorable_ = std::move(told);
}

void DefinitionMemo::TellUnstorable(const QString& text) {
  QStringList fresh;
  QSet<char32_t> checked;  // a large paste repeats its characters
  for (const char32_t c : text.toUcs4()) {
    if (c == U'?' || told_.contains(c) || checked.contains(c)) continue;
    checked.insert(c);
    const QString one = QString::fromUcs4(&c, 1);
    // A character kept as another (a wave dash as the full-width tilde the
    // code page has) is stored, not lost.
    if (storable_(one.toStdString()) != "?") continue;
    told_.insert(c);
    fresh.append(one);
  }
  if (fresh.isEmpty() || !onUnstorable_) return;
  // A box names a few; a paste of a foreign script would fill the screen.
  constexpr qsizetype kNamed = 20;
  if (fresh.size() > kNamed) {
    fresh.resize(kNamed);
    fresh.append(QStringLiteral("…"));
  }
  // After the key, paste or input method event: a box must not open in the
  // middle of the insertion.
  QMetaObject::invokeMethod(
      this, [this, said = fresh.join(u' ')] { onUnstorable_(said); }, Qt::QueuedConnection);
}

void DefinitionMemo::insertFromMimeData(const QMimeData* source) {
  PutInHeldBack();
  const MemoByteBudget::Insertion inserting = budget_.Inserting();
  if (source == nullptr || !source->hasText() || isReadOnly()) return;
  const QString text = Storable(source->text());
  if (!Fits(text)) return;
  if (HasLongRun(text)) SetWrapAnywhere(true);  // before it is laid out
  textCursor().insertText(text);
  ensureCursorVisible();
}

}  // namespace pendlo::ui
