// The desktop's scale, followed by whole factors: the window keeps its
// designed layout in logical pixels, drawn 1, 2 or 3 times as large and sharp
// at every size, never stretched by a fraction (blurred lines, uneven
// bevels) nor distorted by a font DPI setting.
#pragma once

#include <string>
#include <string_view>

namespace pendlo::ui {

// Before the application object exists: the screen's own factor (from
// Xft.dpi or the platform) rounds to a whole number, QT_SCALE_FACTOR and
// QT_SCREEN_SCALE_FACTORS are rounded in place, and the style measures at
// 96 DPI so that a font DPI never grows the controls' parts.
void PrepareDisplayScale();

// A factor as those variables write it, rounded to a whole number from 1
// to 16 ("1.5" -> "2", "0.7" -> "1"); "1" for one out of double's range or
// not finite; unchanged when it is no number.
std::string WholeFactor(std::string_view factor);

// QT_SCREEN_SCALE_FACTORS ("2.5;1" or "DP-1=1.5;HDMI-1=1") with each factor
// rounded as by WholeFactor.
std::string WholeScreenFactors(std::string_view factors);

}  // namespace pendlo::ui
