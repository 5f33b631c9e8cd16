// The sound played when a click file is missing, unreadable or damaged: a
// short beep, clearly neither the accent nor the plain click, so a broken
// set-up is heard rather than met with silence.
#pragma once

#include "sound/clips/sound_clip.h"

namespace pendlo::sound::clips {

inline constexpr double kFallbackHz = 2000.0;
inline constexpr double kFallbackSeconds = 0.045;
// The plain click's stand-in: soft, at half scale.
inline constexpr double kPlainFallbackPeak = 0.5;
// The accent's stand-in peaks above every plain click (the built-in one
// reaches 0.61), so the bar's first beat stays its strongest; 0.9 leaves a
// server's resampler room for the peaks it makes between samples.
inline constexpr double kAccentFallbackPeak = 0.9;

// 45 ms of 2 kHz reaching `peak` (0..1) with soft edges, in `format`.
SoundClip FallbackTone(StreamFormat format, double peak = kPlainFallbackPeak);

}  // namespace pendlo::sound::clips
