#include "ui/widgets/meter_radio_group.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <algorithm>
#include <string>

#include "ui/window/window_description.h"

namespace pendlo::ui {

namespace {

// A radio item that stays selected when clicked again; the group does the
// deselecting, so that "no item" is possible.
class MeterItem : public QRadioButton {
 public:
  MeterItem(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setAutoExclusive(false);
  }

 protected:
  void nextCheckState() override {
    if (!isChecked()) setChecked(true);
  }
};

}  // namespace

MeterRadioGroup::MeterRadioGroup(const QString& caption, QWidget* parent)
    : GroupFrame(caption, parent) {
  for (std::size_t i = 0; i < kMeterItems.size(); ++i) {
    auto* item = new MeterItem(
        QCoreApplication::translate(kTextContext, std::string(kMeterItems[i]).c_str()), this);
    item->setObjectName(QStringLiteral("rgHyoushi_%1").arg(i));
    item->installEventFilter(this);
    const int index = static_cast<int>(i);
    connect(item, &QAbstractButton::toggled, this, [this, index](bool on) {
      if (on) Choose(index);
    });
    items_.push_back(item);
  }
  ArrangeItems();
  UpdateTabStop();
}

void MeterRadioGroup::SetItemIndex(int index) {
  Choose(std::clamp(index, -1, Count() - 1));
}

void MeterRadioGroup::Choose(int index) {
  if (index == index_) return;
  const int previous = index_;
  index_ = index;
  if (previous >= 0) {
    const QSignalBlocker quiet(items_[previous]);
    items_[previous]->setChecked(false);
  }
  if (index >= 0 && !items_[index]->isChecked()) {
    const QSignalBlocker quiet(items_[index]);
    items_[index]->setChecked(true);
  }
  UpdateTabStop();
  emit indexChanged(index);
  if (index >= 0) emit itemChosen();
}

void MeterRadioGroup::UpdateTabStop() {
  // Only the selected item (the first when none is) is reached by Tab.
  const int stop = index_ >= 0 ? index_ : 0;
  for (int i = 0; i < Count(); ++i) {
    items_[i]->setFocusPolicy(i == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void MeterRadioGroup::ArrangeItems() {
  // The line height of the group's font: its character height in pixels.
  const int lineHeight = font().pixelSize() > 0 ? font().pixelSize() : fontMetrics().height();
  for (int i = 0; i < Count(); ++i) {
    const ItemRect r = RadioItemRect(i, Count(), kMeterColumns, width(), height(), lineHeight);
    items_[i]->setGeometry(r.left, r.top, r.width, r.height);
  }
}

void MeterRadioGroup::resizeEvent(QResizeEvent* event) {
  GroupFrame::resizeEvent(event);
  ArrangeItems();
}

void MeterRadioGroup::changeEvent(QEvent* event) {
  GroupFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange) ArrangeItems();
}

bool MeterRadioGroup::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->modifiers() & ~Qt::KeypadModifier) return false;
  int step = 0;
  switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
      step = -1;
      break;
    case Qt::Key_Down:
    case Qt::Key_Right:
      step = 1;
      break;
    default:
      return false;
  }
  // Arrows move through the items in order, wrapping, and choose the item
  // they land on.
  const auto it = std::find(items_.begin(), items_.end(), watched);
  if (it == items_.end()) return false;
  const int from = static_cast<int>(it - items_.begin());
  const int to = (from + step + Count()) % Count();
  items_[to]->setFocus(Qt::OtherFocusReason);
  items_[to]->click();
  return true;
}

}  // namespace pendlo::ui
