// Runs the window tests inside one QApplication with the program's look.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/look.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  pendlo::ui::ApplyLook(app);
  return RUN_ALL_TESTS();
}
