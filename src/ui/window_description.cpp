#include "ui/window_description.h"

#include <algorithm>

namespace pendlo::ui {

namespace {

bool TakesFocus(Kind kind) {
  return kind == Kind::ScrollBar || kind == Kind::RadioGroup || kind == Kind::Memo ||
         kind == Kind::Button;
}

void AppendChildren(std::string_view parent, std::vector<std::string_view>& chain) {
  std::vector<const ControlDesign*> children;
  for (const auto& c : kMetronomeControls) {
    if (c.parent == parent && c.tab >= 0) children.push_back(&c);
  }
  std::stable_sort(children.begin(), children.end(),
                   [](const ControlDesign* a, const ControlDesign* b) { return a->tab < b->tab; });
  for (const ControlDesign* c : children) {
    if (TakesFocus(c->kind)) chain.push_back(c->name);
    AppendChildren(c->name, chain);
  }
}

}  // namespace

std::vector<std::string_view> TabChain() {
  std::vector<std::string_view> chain;
  AppendChildren("", chain);
  return chain;
}

const ControlDesign* FindControl(std::string_view name) {
  for (const auto& c : kMetronomeControls) {
    if (c.name == name) return &c;
  }
  return nullptr;
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
