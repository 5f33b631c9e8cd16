// Reads a WAV file's bytes into a SoundClip in the stream's format. Accepts
// what users are likely to drop in place of a click: PCM 8/16/24/32-bit,
// IEEE float 32/64-bit, 8-bit A-law and mu-law (G.711),
// WAVE_FORMAT_EXTENSIBLE with any of these, any channel count and rate,
// any length (the part beyond the limit is ignored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sound/clips/sound_clip.h"

namespace pendlo::sound::clips {

struct DecodeLimits {
  std::size_t maxBytes = 10u << 20;  // read at most this much of a file
  double maxSeconds = 10.0;          // decode at most this much sound
};

struct DecodeResult {
  std::optional<SoundClip> clip;  // set on success
  std::string error;              // why not, otherwise (for diagnostics)
};

// Decodes `bytes` and converts them to `out` (rate and channels). A data
// chunk cut short is decoded as far as it goes; a file with no whole frame of
// sound, an unknown encoding or a broken header is an error. Never throws on
// bad input.
DecodeResult DecodeWav(std::span<const std::uint8_t> bytes, StreamFormat out,
                       const DecodeLimits& limits = {});

}  // namespace pendlo::sound::clips
