// The meter radio group: 11 items in 4 columns, placed by the classic radio
// group rule. It can have no item selected (index -1). A change of the index,
// and only a change, is reported: indexChanged for every change, itemChosen
// when the new index is 0 or more.
#pragma once

#include <QRadioButton>
#include <vector>

#include "ui/window/controls.h"

namespace pendlo::ui {

class MeterRadioGroup : public GroupFrame {
  Q_OBJECT
 public:
  MeterRadioGroup(const QString& caption, QWidget* parent);

  int ItemIndex() const { return index_; }
  // A program-set index: brought into -1..10; nothing happens when it equals
  // the current one. Runs the same notifications as a user's choice.
  void SetItemIndex(int index);

  int Count() const { return static_cast<int>(items_.size()); }
  QRadioButton* Item(int index) const { return items_.at(index); }

  // Places the items again (after a change of size or font).
  void ArrangeItems();

 signals:
  void indexChanged(int index);
  void itemChosen();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(int index);
  void UpdateTabStop();

  std::vector<QRadioButton*> items_;
  int index_ = -1;
};

}  // namespace pendlo::ui
