// A decoded sound ready for the output stream: interleaved float frames at
// the stream's rate and channel count.
#pragma once

#include <cstddef>
#include <vector>

namespace pendlo::sound::clips {

// The output stream's sample format (32-bit float, interleaved).
struct StreamFormat {
  int rate = 48000;
  int channels = 2;
  bool operator==(const StreamFormat&) const = default;
};

struct SoundClip {
  StreamFormat format;
  std::vector<float> samples;  // frames() * format.channels values in -1..1

  std::size_t frames() const { return samples.size() / static_cast<std::size_t>(format.channels); }
};

}  // namespace pendlo::sound::clips
