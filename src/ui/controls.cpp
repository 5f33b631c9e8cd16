#include "ui/controls.h"

#include <QPainter>

#include "ui/look.h"

namespace pendlo::ui {

namespace {

// One 1-pixel bevel around r: `topLeft` on the top and left edges, `bottomRight`
// on the others.
void Bevel(QPainter& p, const QRect& r, QColor topLeft, QColor bottomRight) {
  p.setPen(topLeft);
  p.drawLine(r.left(), r.top(), r.right() - 1, r.top());
  p.drawLine(r.left(), r.top(), r.left(), r.bottom() - 1);
  p.setPen(bottomRight);
  p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

}  // namespace

BevelPanel::BevelPanel(bool raisedOuter, QWidget* parent)
    : QWidget(parent), raisedOuter_(raisedOuter) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void BevelPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QColor light(kHighlight), dark(kShadow);
  QRect r = rect();
  if (raisedOuter_) {
    Bevel(p, r, light, dark);
  } else {
    Bevel(p, r, dark, light);
  }
  Bevel(p, r.adjusted(1, 1, -1, -1), dark, light);
}

IndicatorBar::IndicatorBar(QWidget* parent) : QWidget(parent), fill_(kBlack) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void IndicatorBar::SetFill(QColor fill) {
  if (fill == fill_) return;
  fill_ = fill;
  update();
}

void IndicatorBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), fill_);
  p.setPen(QColor(kBlack));
  p.setBrush(Qt::NoBrush);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

GroupFrame::GroupFrame(const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {
  setAutoFillBackground(true);
}

void GroupFrame::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QFontMetrics fm(font());
  const int h = fm.height();
  // Etched frame: a light line one pixel right and below a dark one.
  QRect frame(0, h / 2 - 1, width(), height() - (h / 2 - 1));
  p.setPen(QColor(kHighlight));
  p.drawRect(frame.adjusted(1, 1, -1, -1));
  p.setPen(QColor(kShadow));
  p.drawRect(frame.adjusted(0, 0, -2, -2));
  if (!caption_.isEmpty()) {
    const QRect text(8, 0, fm.horizontalAdvance(caption_), h);
    p.fillRect(text, palette().window());
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption_);
  }
}

}  // namespace pendlo::ui
