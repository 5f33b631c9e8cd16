#include "ui/widgets/long_line_layout.h"

#include <malloc.h>

#include <QFont>
#include <QTextOption>

namespace pendlo::ui {
namespace {

// The layout of a 1 MiB line holds some 30 MB of glyph arrays, freed and
// allocated again at every key. Above glibc's thresholds each allocation
// is a fresh mapping the kernel zeroes page by page (a quarter of a key's
// time); kept in the heap, the next layout reuses it.
constexpr int kKeptBlockBytes = 64 << 20;
// glibc's own starting values, put back once no long line is left.
constexpr int kDefaultThresholdBytes = 128 << 10;

int keepers = 0;  // HeapKeepsLargeBlocks alive

void SetThresholds(int bytes) {
  mallopt(M_MMAP_THRESHOLD, bytes);
  mallopt(M_TRIM_THRESHOLD, bytes);
}

}  // namespace

HeapKeepsLargeBlocks::HeapKeepsLargeBlocks() {
  if (keepers++ == 0) SetThresholds(kKeptBlockBytes);
}

HeapKeepsLargeBlocks::~HeapKeepsLargeBlocks() {
  if (--keepers > 0) return;
  SetThresholds(kDefaultThresholdBytes);
  malloc_trim(0);
}

void UseLongLineLayout(QTextDocument& document, bool on) {
  // Shaping a run of digits and Latin letters changes nothing but its cost
  // (half of a key's layout); kerning stays.
  QFont font = document.defaultFont();
  const auto strategy = on ? QFont::PreferNoShaping : QFont::PreferDefault;
  if (font.styleStrategy() != strategy) {
    font.setStyleStrategy(strategy);
    document.setDefaultFont(font);
  }
  // Left to right as the window is: found from the text, the direction is
  // looked for through the whole line, which in digits holds no letter.
  QTextOption option = document.defaultTextOption();
  const auto direction = on ? Qt::LeftToRight : Qt::LayoutDirectionAuto;
  if (option.textDirection() != direction) {
    option.setTextDirection(direction);
    document.setDefaultTextOption(option);
  }
}

}  // namespace pendlo::ui
