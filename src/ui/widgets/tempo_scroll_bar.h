// The tempo scroll bar: 20 to 600, small change 1, large change 10. Its
// valueChanged signal fires once per actual change of position: for each
// distinct position of a drag, each repeat step of a held arrow, and a
// program-set value after clamping; never for a step against an end.
#pragma once

#include <QScrollBar>

namespace pendlo::ui {

class TempoScrollBar : public QScrollBar {
 public:
  explicit TempoScrollBar(QWidget* parent);
  // The position; a program-set value is brought into range without error.
  int Position() const { return value(); }
  void SetPosition(int position) { setValue(position); }

 protected:
  // Keys as on the classic scroll bar: Left/Up -1, Right/Down +1,
  // Page Up -10, Page Down +10, Home and End to the ends.
  void keyPressEvent(QKeyEvent* event) override;
  // One small change per wheel notch (120 units of angle), towards the start
  // when the wheel turns away from the user; finer wheels add up their
  // fractions of a notch.
  void wheelEvent(QWheelEvent* event) override;
  // While the bar has the focus, a dotted rectangle marks its thumb.
  void paintEvent(QPaintEvent* event) override;

 private:
  int wheelRest_ = 0;  // angle not yet turned into a step, -119 to 119
};

}  // namespace pendlo::ui
