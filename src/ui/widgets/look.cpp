#include "ui/widgets/look.h"

#include <QApplication>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>

namespace pendlo::ui {

QFont DesignFont(FontDesign design) {
  QFont font;
  if (design.face == Face::PGothic) {
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("IPAGothic")});
  } else {
    font.setFamilies(
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("IPAPGothic")});
  }
  // Pixel size is the em height: the design's "character height without
  // internal leading". Pixel sizes do not follow the screen's DPI.
  font.setPixelSize(design.pixels);
  font.setWeight(QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

namespace {

class PendloStyle : public QProxyStyle {
 public:
  PendloStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    switch (hint) {
      case SH_ScrollBar_LeftClickAbsolutePosition:
        return 0;  // a click in the trough pages by LargeChange
      case SH_UnderlineShortcut:
        return 1;  // access keys are always shown underlined
      case SH_ScrollBar_ContextMenu:
        return 0;
      default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
  }
};

QPalette ClassicPalette() {
  const QColor face(kSilver);
  QPalette p(face);
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Window, face);
    p.setColor(group, QPalette::Button, face);
    p.setColor(group, QPalette::Light, QColor(255, 255, 255));
    p.setColor(group, QPalette::Midlight, QColor(223, 223, 223));
    p.setColor(group, QPalette::Mid, QColor(160, 160, 160));
    p.setColor(group, QPalette::Dark, QColor(128, 128, 128));
    p.setColor(group, QPalette::Shadow, QColor(64, 64, 64));
    p.setColor(group, QPalette::Base, QColor(255, 255, 255));
    p.setColor(group, QPalette::AlternateBase, QColor(240, 240, 240));
    p.setColor(group, QPalette::Highlight, QColor(0, 0, 128));
    p.setColor(group, QPalette::HighlightedText, QColor(255, 255, 255));
    p.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 225));
    p.setColor(group, QPalette::ToolTipText, QColor(0, 0, 0));
    p.setColor(group, QPalette::Link, QColor(0, 0, 255));
    p.setColor(group, QPalette::BrightText, QColor(255, 255, 255));
    p.setColor(group, QPalette::PlaceholderText, QColor(128, 128, 128));
    const QColor text = group == QPalette::Disabled ? QColor(128, 128, 128) : QColor(0, 0, 0);
    p.setColor(group, QPalette::WindowText, text);
    p.setColor(group, QPalette::ButtonText, text);
    p.setColor(group, QPalette::Text, text);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, face);
  return p;
}

}  // namespace

QStyle* CreateStyle() {
  return new PendloStyle;
}

void ApplyLook(QApplication& app) {
  app.setStyle(CreateStyle());
  app.setPalette(ClassicPalette());
  app.setFont(DesignFont({Face::PGothic, 14}));
}

}  // namespace pendlo::ui
