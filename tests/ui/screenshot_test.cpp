// The window as it appears on a real X server (Xvfb): key pixels of the
// silver background, the aqua readout and the black bars. Keeps the picture
// for the README as docs/screenshot.png.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include "test_support.h"
#include "ui/controls.h"
#include "ui/look.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

TEST(Screenshot, KeyPixelsOnXvfb) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  TempDir dir;
  auto window = MakeWindow(dir.path());
  QTest::qWait(200);
  const QPixmap shot = window->screen()->grabWindow(window->winId());
  const QImage image = shot.toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(456, 324));
  const char* out = std::getenv("PENDLO_SCREENSHOT");
  if (out != nullptr && *out != '\0') image.save(QString::fromLocal8Bit(out));

  struct Probe {
    const char* what;
    QPoint at;
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
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(QColor(image.pixel(p.at)).name(), QColor(p.colour).name()) << p.what;
  }
}

}  // namespace
}  // namespace pendlo::ui
