// The window as it appears on a real X server (Xvfb), at the scale the
// desktop asks for (PENDLO_EXPECTED_SCALE, 1 when unset): the designed size
// times the factor, key pixels of the silver background, the aqua readout and
// the black bars each a sharp block of factor × factor pixels, and the
// style's indicators and arrows at their designed logical size whatever the
// font DPI. Keeps the picture for the README as docs/screenshot.png.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionSlider>
#include <QTest>

#include "ui/widgets/look.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

TEST(Screenshot, DesignedPixelsAtTheDesktopsScale) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  const char* expected = std::getenv("PENDLO_EXPECTED_SCALE");
  const int f = expected != nullptr ? std::atoi(expected) : 1;
  TempDir dir;
  auto window = MakeWindow(dir.path());
  QTest::qWait(200);
  EXPECT_EQ(window->devicePixelRatio(), f);
  const QPixmap shot = window->screen()->grabWindow(window->winId());
  const QImage image = shot.toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(456 * f, 324 * f));
  const char* out = std::getenv("PENDLO_SCREENSHOT");
  if (out != nullptr && *out != '\0') image.save(QString::fromLocal8Bit(out));

  struct Probe {
    const char* what;
    QPoint at;  // logical
    QRgb colour;
  };
  const Probe probes[] = {
      {"window background", {4, 4}, kSilver},
      {"background between group boxes", {450, 200}, kSilver},
      {"inside the meter group", {300, 150}, kSilver},
      {"readout left of its digits", {8 + 15 + 2 + 3, 20 + 22 + 2 + 20}, kAqua},
      {"accent bar", {8 + 2 + 100, 7 + 2 + 3}, kBlack},
      {"plain bar", {228 + 2 + 100, 7 + 2 + 3}, kBlack},
      {"accent bar outline", {8 + 2, 7 + 2}, kBlack},
      {"accent panel's outer bevel", {8 + 100, 7}, kShadow},
      {"accent panel's inner bevel", {8 + 100, 7 + 1}, kShadow},
      {"left of the accent bar's outline", {8 + 1, 7 + 5}, kShadow},
  };
  for (const Probe& p : probes) {
    for (int dy = 0; dy < f; ++dy) {
      for (int dx = 0; dx < f; ++dx) {
        EXPECT_EQ(QColor(image.pixel(p.at * f + QPoint(dx, dy))).name(), QColor(p.colour).name())
            << p.what << " +" << dx << "," << dy;
      }
    }
  }

  // The style's own parts in logical pixels, as at 96 DPI.
  QRadioButton* item = window->rgHyoushi->Item(0);
  EXPECT_EQ(item->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, item), 14);
  QStyleOptionSlider option;
  option.initFrom(window->scrBarTempo);
  option.orientation = Qt::Horizontal;
  option.minimum = 20;
  option.maximum = 600;
  option.rect = window->scrBarTempo->rect();
  const QRect arrow = window->scrBarTempo->style()->subControlRect(
      QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, window->scrBarTempo);
  EXPECT_EQ(arrow.width(), 14);
}

}  // namespace
}  // namespace pendlo::ui
