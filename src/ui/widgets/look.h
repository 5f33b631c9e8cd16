// The program's fixed look: the Fusion style with a classic silver palette and
// the design's fonts at exact pixel heights, the same on every desktop.
#pragma once

#include <QColor>
#include <QFont>
#include <QStyle>

class QApplication;

namespace pendlo::ui {

// The two font faces the windows are designed with.
enum class Face { PGothic, Arial };

// A face at a character height in pixels (the em height, without internal
// leading), never scaled by the screen's DPI.
struct FontDesign {
  Face face;
  int pixels;
};

inline constexpr QRgb kSilver = qRgb(192, 192, 192);
inline constexpr QRgb kAqua = qRgb(0, 255, 255);
inline constexpr QRgb kFuchsia = qRgb(255, 0, 255);
inline constexpr QRgb kBlack = qRgb(0, 0, 0);
inline constexpr QRgb kHighlight = qRgb(255, 255, 255);  // bevels' lit edge
inline constexpr QRgb kShadow = qRgb(128, 128, 128);     // bevels' dark edge

// The font for a design: "ＭＳ Ｐゴシック" is IPAPGothic (then Noto Sans CJK JP),
// "Arial" is Liberation Sans; both are metric-compatible substitutes.
QFont DesignFont(FontDesign design);

// The Fusion style with the program's few hints (trough clicks page, access
// keys underlined); owned by the caller.
QStyle* CreateStyle();

// Style, palette and default font for the whole application. Call once
// right after the QApplication is made.
void ApplyLook(QApplication& app);

}  // namespace pendlo::ui
