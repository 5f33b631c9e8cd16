#include "app/sound_setup.h"

namespace pendlo::app {

std::unique_ptr<ui::SoundLink> SystemSoundLink() {
  return ui::SilentSoundLink();
}

}  // namespace pendlo::app
