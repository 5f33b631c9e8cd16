// Runs the window tests inside one QApplication with the program's look.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/desktop/display_scale.h"
#include "ui/widgets/look.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  pendlo::ui::PrepareDisplayScale();  // as the program: whole factors only
  QApplication app(argc, argv);
  pendlo::ui::ApplyLook(app);
  return RUN_ALL_TESTS();
}
