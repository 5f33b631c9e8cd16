// What every output tells the sound system about the program and its
// stream, and the device rates an output takes as they are.
#pragma once

namespace pendlo::sound::output {

// The names the server's mixer and patchbay show for the program's stream.
inline constexpr const char* kApplicationName = "Pendlo";
inline constexpr const char* kApplicationId = "io.github.pendlo.Pendlo";
inline constexpr const char* kStreamName = "Clicks";

// The rate of a device or graph that reports none an output can use.
inline constexpr int kFallbackRate = 48000;

// `rate` (a device's, sink's or graph's own) when an output can play at it,
// 8 kHz to 384 kHz; kFallbackRate otherwise (unknown, or out of reason).
constexpr int PlayableRate(long long rate) {
  return rate >= 8000 && rate <= 384000 ? static_cast<int>(rate) : kFallbackRate;
}

}  // namespace pendlo::sound::output
