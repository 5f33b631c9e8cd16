// The sound output the program plays its clicks through.
#pragma once

#include <memory>

#include "sound/sound_link.h"

namespace pendlo::app {

// The default audio device through the sound module; the beat follows the
// device's clock while its stream is open.
std::unique_ptr<SoundLink> SystemSoundLink();

}  // namespace pendlo::app
