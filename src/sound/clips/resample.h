// Sample-rate conversion for decoded clicks (not real-time: runs when a file
// is first played or replaced).
#pragma once

#include <vector>

namespace pendlo::sound::clips {

// Converts interleaved frames of `channels` channels from `fromRate` to
// `toRate` with a windowed-sinc filter that keeps the band below the lower
// Nyquist frequency and suppresses images and aliases. The first output frame
// is at the same instant as the first input frame, so an onset stays put.
std::vector<float> Resample(const std::vector<float>& in, int channels, int fromRate, int toRate);

}  // namespace pendlo::sound::clips
