// The two built-in clicks as complete WAV files (16000 Hz, 8-bit unsigned
// mono, 175 samples, 219 bytes), written as "pi.wav" and "po.wav" when those
// files are missing. Made by tools/make_clicks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pendlo {

inline constexpr std::size_t kClickImageSize = 219;

// Accent click "pi.wav": bright, full scale, strongest near 4.4 kHz.
extern const std::array<std::uint8_t, kClickImageSize> PiWave;
// Plain click "po.wav": darker, +-72, strongest near 0.9 kHz.
extern const std::array<std::uint8_t, kClickImageSize> PoWave;

}  // namespace pendlo
