// The memo's text counted in the bytes "dtp.sav" holds it in (Shift-JIS, a
// line break as CR LF; see EncodedWidth in files/formats/text_codec.h),
// against the file limit: an insertion that would take it past the limit is
// refused. The count is worked out from the whole text once and then kept
// across the insertions it allowed, so typing into a long text never reads
// the text.
#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

class QTextCursor;

namespace pendlo::ui {

class MemoByteBudget {
 public:
  // The limit in bytes, 0 for none; `refused` runs for each insertion refused.
  void SetLimit(std::size_t bytes, std::function<void()> refused);

  // Whether putting `inserted` in place of the selection of `at` keeps the
  // text of its document within the limit; runs `refused` when not. The size
  // after an insertion that fits is kept for Changed.
  bool Fits(const QTextCursor& at, const QString& inserted);

  // The text changed: by the insertion Fits allowed last, whose size it now
  // has, or otherwise, which leaves the count to be worked out again.
  void Changed();

  // Held while an event may insert text: the size Fits worked out for it is
  // forgotten when the event ends, whether or not the text changed.
  class Insertion {
   public:
    explicit Insertion(MemoByteBudget& budget) : budget_(budget) {}
    ~Insertion() { budget_.insertingBytes_.reset(); }
    Insertion(const Insertion&) = delete;
    Insertion& operator=(const Insertion&) = delete;

   private:
    MemoByteBudget& budget_;
  };
  [[nodiscard]] Insertion Inserting() { return Insertion(*this); }

 private:
  std::size_t limit_ = 0;
  std::function<void()> refused_;
  std::size_t fileBytes_ = 0;  // the text's size in the file form, when valid
  bool fileBytesValid_ = false;
  std::optional<std::size_t> insertingBytes_;  // the size after the insertion under way
};

}  // namespace pendlo::ui
