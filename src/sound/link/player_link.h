// The sound link the transport plays through: the ClickPlayer behind the
// SoundLink contract, its failures turned into exceptions for the window.
#pragma once

#include <memory>

#include "sound/link/sound_link.h"
#include "sound/player/click_player.h"

namespace pendlo::sound::link {

// The default audio device (MakeDefaultBackend); the beat follows the
// device's clock while its stream is open.
std::unique_ptr<SoundLink> SystemSoundLink();
// The same around a given player (tests, benchmarks).
std::unique_ptr<SoundLink> PlayerSoundLink(std::unique_ptr<player::ClickPlayer> player);

}  // namespace pendlo::sound::link
