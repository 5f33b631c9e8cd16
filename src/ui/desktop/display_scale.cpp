#include "ui/desktop/display_scale.h"

#include <QGuiApplication>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace pendlo::ui {

namespace {

void RoundVariable(const char* name, std::string (*round)(std::string_view)) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return;
  setenv(name, round(value).c_str(), 1);
}

}  // namespace

std::string WholeFactor(std::string_view factor) {
  double value = 0;
  const auto [end, ec] = std::from_chars(factor.data(), factor.data() + factor.size(), value);
  if (end != factor.data() + factor.size() || ec == std::errc::invalid_argument) {
    return std::string(factor);  // the toolkit says what is wrong with it
  }
  if (ec != std::errc() || !std::isfinite(value)) return "1";
  // Halves round up, as the toolkit rounds the screen's own factor.
  const double whole = std::max(1.0, std::floor(value + 0.5));
  return std::to_string(static_cast<long long>(std::min(whole, 16.0)));
}

std::string WholeScreenFactors(std::string_view factors) {
  std::string out;
  while (true) {
    const std::size_t end = factors.find(';');
    std::string_view entry = factors.substr(0, end);
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) {
      out += WholeFactor(entry);
    } else {
      out += entry.substr(0, eq + 1);
      out += WholeFactor(entry.substr(eq + 1));
    }
    if (end == std::string_view::npos) break;
    out += ';';
    factors.remove_prefix(end + 1);
  }
  return out;
}

void PrepareDisplayScale() {
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
  RoundVariable("QT_SCALE_FACTOR", WholeFactor);
  RoundVariable("QT_SCREEN_SCALE_FACTORS", WholeScreenFactors);
  // The style sizes indicators, arrows and frames by the font DPI; at 96
  // they are the designed ones, scaled only with everything else.
  QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
}

}  // namespace pendlo::ui
