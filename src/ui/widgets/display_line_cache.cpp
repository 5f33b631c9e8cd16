#include "ui/widgets/display_line_cache.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <iterator>
#include <string_view>

namespace pendlo::ui {

namespace {

// The lines `block` is laid out in at the layout's width.
void AppendWrapped(const QTextDocument& document, const QTextBlock& block,
                   std::vector<std::string>& lines) {
  // Asking for the block's extent lays it out at the document's width.
  document.documentLayout()->blockBoundingRect(block);
  const QTextLayout* laid = block.layout();
  const QString content = block.text();
  if (laid == nullptr || laid->lineCount() == 0) {
    lines.push_back(content.toStdString());
    return;
  }
  for (int i = 0; i < laid->lineCount(); ++i) {
    const QTextLine part = laid->lineAt(i);
    lines.push_back(content.mid(part.textStart(), part.textLength()).toStdString());
  }
}

}  // namespace

const std::vector<std::string>& DisplayLineCache::Lines(const QTextDocument& document,
                                                        qsizetype shortLine) {
  if (valid_) return lines_;
  lines_.clear();
  shortLine_ = shortLine;
  // A line that cannot wrap is taken from the plain text without laying it
  // out (laying out every line of a long text took a quarter of a second).
  const auto shortBytes = static_cast<std::size_t>(shortLine);
  const std::string text = document.toPlainText().toStdString();
  lines_.reserve(static_cast<std::size_t>(document.blockCount()));
  onePerBlock_ = true;
  std::size_t start = 0;
  for (int number = 0;; ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    // UTF-8 bytes are at least as many as the characters.
    if (line.size() < shortBytes && line.find('\t') == line.npos) {
      lines_.emplace_back(line);
    } else {
      onePerBlock_ = false;
      AppendWrapped(document, document.findBlockByNumber(number), lines_);
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  valid_ = true;
  return lines_;
}

void DisplayLineCache::Edited(const QTextDocument& document, int position, int added) {
  if (!valid_) return;
  valid_ = false;
  // In a text whose lines are all one display line each (short lines, the
  // common case) an edit changes only the lines of the blocks it touched:
  // those from its start to its end now stand where the old ones stood.
  if (!onePerBlock_) return;
  const QTextBlock first = document.findBlock(position);
  const QTextBlock last = document.findBlock(position + added);
  if (!first.isValid() || !last.isValid()) return;
  const int from = first.blockNumber();
  const int oldTo = last.blockNumber() - (document.blockCount() - static_cast<int>(lines_.size()));
  if (oldTo < from || oldTo >= static_cast<int>(lines_.size())) return;
  std::vector<std::string> changed;
  for (QTextBlock b = first;; b = b.next()) {
    const QString content = b.text();
    if (content.size() >= shortLine_ || content.contains(QLatin1Char('\t'))) return;
    changed.push_back(content.toStdString());
    if (b == last) break;
  }
  lines_.erase(lines_.begin() + from, lines_.begin() + oldTo + 1);
  lines_.insert(lines_.begin() + from, std::make_move_iterator(changed.begin()),
                std::make_move_iterator(changed.end()));
  valid_ = true;
}

}  // namespace pendlo::ui
