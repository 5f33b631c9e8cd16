#include "sound/clips/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace pendlo {
namespace {

// `seconds` of a sine of `hz` at half scale, mono, from its first sample.
std::vector<float> Sine(double hz, int rate, double seconds) {
  std::vector<float> v(static_cast<std::size_t>(rate * seconds));
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * i / rate));
  return v;
}

// Rising zero crossings over the middle of the clip, as a frequency.
double Frequency(const std::vector<float>& mono, int rate) {
  int crossings = 0, first = -1, last = -1;
  for (std::size_t i = mono.size() / 10; i + 1 < mono.size() * 9 / 10; ++i) {
    if (mono[i] < 0 && mono[i + 1] >= 0) {
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
      ++crossings;
    }
  }
  return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

// Peak away from the ends, where the filter has the whole signal.
float Peak(const std::vector<float>& mono) {
  float peak = 0;
  for (std::size_t i = mono.size() / 10; i < mono.size() * 9 / 10; ++i)
    peak = std::max(peak, std::abs(mono[i]));
  return peak;
}

// A tone in the pass band keeps its pitch, level and onset; one above the
// output's Nyquist frequency is not folded back into the band.
TEST(Resample, KeepsWhatFitsTheNewRateAndDropsWhatDoesNot) {
  struct Case {
    int from, to;
    double hz;
    double peak;  // expected level; 0: suppressed
  };
  const Case cases[] = {
      {8000, 48000, 1000, 0.5},  {22050, 48000, 1000, 0.5}, {44100, 48000, 1000, 0.5},
      {96000, 48000, 1000, 0.5}, {48000, 44100, 1000, 0.5}, {96000, 48000, 30000, 0},
      {48000, 22050, 15000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << ", " << c.hz << " Hz");
    const std::vector<float> in = Sine(c.hz, c.from, 0.1);
    const std::vector<float> out = sound::clips::Resample(in, 1, c.from, c.to);
    const std::size_t frames = (in.size() * c.to + c.from - 1) / c.from;
    ASSERT_EQ(out.size(), frames);
    if (c.peak == 0) {
      EXPECT_LT(Peak(out), 0.005);
      continue;
    }
    EXPECT_NEAR(Frequency(out, c.to), c.hz, 2);
    EXPECT_NEAR(Peak(out), c.peak, 0.02);
    // The quarter period lands where it should: 0.25 ms after the start.
    EXPECT_NEAR(out[static_cast<std::size_t>(c.to / 4000)], 0.5, 0.03);
  }
}

TEST(Resample, KeepsChannelsApartAndLeavesTheSameRateAlone) {
  std::vector<float> stereo;
  for (float v : Sine(1000, 44100, 0.05)) {
    stereo.push_back(v);
    stereo.push_back(-v);
  }
  EXPECT_EQ(sound::clips::Resample(stereo, 2, 44100, 44100), stereo);
  const std::vector<float> out = sound::clips::Resample(stereo, 2, 44100, 48000);
  ASSERT_EQ(out.size() % 2, 0u);
  for (std::size_t i = 0; i < out.size(); i += 2) ASSERT_FLOAT_EQ(out[i], -out[i + 1]) << i;
}

}  // namespace
}  // namespace pendlo
