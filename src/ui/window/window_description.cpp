#include "ui/window/window_description.h"

#include <algorithm>

namespace pendlo::ui {

namespace {

bool TakesFocus(Kind kind) {
  return kind == Kind::ScrollBar || kind == Kind::RadioGroup || kind == Kind::Memo ||
         kind == Kind::Button;
}

void AppendChildren(std::size_t parent, std::vector<std::size_t>& chain) {
  std::vector<std::size_t> children;
  for (std::size_t i = 0; i < kMetronomeControls.size(); ++i) {
    if (kParentRows[i] == parent && kMetronomeControls[i].tab >= 0) children.push_back(i);
  }
  std::stable_sort(children.begin(), children.end(), [](std::size_t a, std::size_t b) {
    return kMetronomeControls[a].tab < kMetronomeControls[b].tab;
  });
  for (std::size_t row : children) {
    if (TakesFocus(kMetronomeControls[row].kind)) chain.push_back(row);
    AppendChildren(row, chain);
  }
}

}  // namespace

std::vector<std::size_t> TabChain() {
  std::vector<std::size_t> chain;
  AppendChildren(kNoRow, chain);
  return chain;
}

ItemRect RadioItemRect(int index, int count, int columns, int groupWidth, int groupHeight,
                       int lineHeight) {
  const int perColumn = (count + columns - 1) / columns;
  const int width = (groupWidth - 10) / columns;
  const int usable = groupHeight - lineHeight - 5;
  const int height = usable / perColumn;
  const int topMargin = lineHeight + 1 + (usable % perColumn) / 2;
  return {8 + (index / perColumn) * width, topMargin + (index % perColumn) * height, width, height};
}

}  // namespace pendlo::ui
