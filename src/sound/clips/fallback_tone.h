// The sound played when a click file is missing, unreadable or damaged: a
// short soft beep, clearly neither the accent nor the plain click, so a
// broken set-up is heard rather than met with silence.
#pragma once

#include "sound/clips/sound_clip.h"

namespace pendlo::sound::clips {

inline constexpr double kFallbackHz = 2000.0;
inline constexpr double kFallbackSeconds = 0.045;

// 45 ms of 2 kHz at half scale with soft edges, in `format`.
SoundClip FallbackTone(StreamFormat format);

}  // namespace pendlo::sound::clips
