// What makes laying out a line of a million characters cheap enough to do
// at every key (Qt lays a line out whole at each change): no text shaping,
// a fixed left-to-right direction, and a heap that keeps the layout's
// arrays for the next key. Used by the memo while its text holds a run too
// long to wrap at a word boundary; a text without one keeps Qt's defaults.
#pragma once

#include <QTextDocument>

namespace pendlo::ui {

// Sets the long-line layout on `document` (on) or puts Qt's defaults back
// (off). The widget's font replaces the document's when it changes: call
// again after it.
void UseLongLineLayout(QTextDocument& document, bool on);

// While one of these lives, the heap keeps large blocks for reuse (the
// process's heap: the last one gone puts glibc's thresholds back and
// returns what was kept). GUI thread only.
class HeapKeepsLargeBlocks {
 public:
  HeapKeepsLargeBlocks();
  ~HeapKeepsLargeBlocks();
  HeapKeepsLargeBlocks(const HeapKeepsLargeBlocks&) = delete;
  HeapKeepsLargeBlocks& operator=(const HeapKeepsLargeBlocks&) = delete;
};

}  // namespace pendlo::ui
