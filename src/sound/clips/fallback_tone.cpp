#include "sound/clips/fallback_tone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pendlo::sound::clips {

SoundClip FallbackTone(StreamFormat format, double peak) {
  SoundClip clip;
  clip.format = format;
  const int frames = static_cast<int>(kFallbackSeconds * format.rate);
  const int edge = format.rate / 200;  // 5 ms fade in and out: no click of its own
  clip.samples.resize(static_cast<std::size_t>(frames) * format.channels);
  for (int i = 0; i < frames; ++i) {
    const double fade = std::min({1.0, double(i) / edge, double(frames - 1 - i) / edge});
    const double v = peak * fade * std::sin(2 * std::numbers::pi * kFallbackHz * i / format.rate);
    for (int c = 0; c < format.channels; ++c)
      clip.samples[static_cast<std::size_t>(i) * format.channels + c] = static_cast<float>(v);
  }
  return clip;
}

}  // namespace pendlo::sound::clips
