#include "ui/widgets/memo_byte_budget.h"

#include <QTextCursor>
#include <QTextDocument>

#include "files/formats/text_codec.h"

namespace pendlo::ui {

namespace {

// Bytes of the file form of text (see EncodedWidth).
std::size_t FileBytes(const QString& text) {
  std::size_t bytes = 0;
  for (const QChar c : text) bytes += static_cast<std::size_t>(EncodedWidth(c.unicode()));
  return bytes;
}

}  // namespace

void MemoByteBudget::SetLimit(std::size_t bytes, std::function<void()> refused) {
  limit_ = bytes;
  refused_ = std::move(refused);
}

bool MemoByteBudget::Fits(const QTextCursor& at, const QString& inserted) {
  insertingBytes_.reset();
  if (limit_ == 0) return true;
  // No character takes more than two bytes: most texts are settled without
  // being read.
  const QTextDocument& document = *at.document();
  const auto chars = static_cast<std::size_t>(document.characterCount() + inserted.size());
  if (2 * chars <= limit_) return true;
  if (!fileBytesValid_) {
    fileBytes_ = FileBytes(document.toPlainText());  // once; typing then keeps the count
    fileBytesValid_ = true;
  }
  const std::size_t after = fileBytes_ - FileBytes(at.selectedText()) + FileBytes(inserted);
  if (after <= limit_) {
    insertingBytes_ = after;
    return true;
  }
  if (refused_) refused_();
  return false;
}

void MemoByteBudget::Changed() {
  fileBytesValid_ = insertingBytes_.has_value();
  fileBytes_ = insertingBytes_.value_or(0);
  insertingBytes_.reset();
}

}  // namespace pendlo::ui
