#include "ui/window/controls.h"

#include <QPainter>

#include "ui/widgets/look.h"

namespace pendlo::ui {

namespace {

// Lines are filled 1-pixel rectangles, not pen strokes: at a whole scale
// factor a rectangle covers exactly its factor × factor blocks, where a
// stroke of a scaled 1-pixel pen lands half a pixel off.

// One 1-pixel bevel around r: `topLeft` on the top and left edges, `bottomRight`
// on the others.
void Bevel(QPainter& p, const QRect& r, QColor topLeft, QColor bottomRight) {
  p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

// A 1-pixel outline along the inside of r.
void Outline(QPainter& p, const QRect& r, QColor colour) {
  Bevel(p, r, colour, colour);
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
  Outline(p, rect(), QColor(kBlack));
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
  Outline(p, frame.adjusted(1, 1, 0, 0), QColor(kHighlight));
  Outline(p, frame.adjusted(0, 0, -1, -1), QColor(kShadow));
  if (!caption_.isEmpty()) {
    const QRect text(8, 0, fm.horizontalAdvance(caption_), h);
    p.fillRect(text, palette().window());
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption_);
  }
}

}  // namespace pendlo::ui
