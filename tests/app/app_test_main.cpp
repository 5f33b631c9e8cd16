// Runs the program-level tests inside the program's own application object.
#include <gtest/gtest.h>

#include "app/pendlo_application.h"
#include "ui/widgets/look.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  pendlo::app::PendloApplication app(argc, argv);
  pendlo::ui::ApplyLook(app);
  return RUN_ALL_TESTS();
}
