// The plain controls of the main window that Qt has no exact match for:
// bevelled panels, the indicator bars and group boxes whose caption sits on
// the frame's top edge.
#pragma once

#include <QColor>
#include <QWidget>

namespace pendlo::ui {

// A panel with two 1-pixel bevels; shows nothing of its own.
class BevelPanel : public QWidget {
 public:
  // raisedOuter false: lowered outer and lowered inner bevel; true: raised
  // outer and lowered inner bevel.
  BevelPanel(bool raisedOuter, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool raisedOuter_;
};

// A rectangle over the whole area: 1-pixel black outline, solid fill.
class IndicatorBar : public QWidget {
 public:
  explicit IndicatorBar(QWidget* parent);
  // The fill colour; repaints when it changes.
  void SetFill(QColor fill);
  QColor Fill() const { return fill_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor fill_;
};

// A group box: an etched frame whose top edge runs through the middle of the
// caption line; the caption is drawn at left 8 on the background colour.
// Children are placed relative to the whole area, caption line included.
class GroupFrame : public QWidget {
 public:
  GroupFrame(const QString& caption, QWidget* parent);
  QString Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

}  // namespace pendlo::ui
