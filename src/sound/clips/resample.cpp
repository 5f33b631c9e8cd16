#include "sound/clips/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace pendlo::sound::clips {
namespace {

constexpr int kZeroCrossings = 12;  // half-width of the kernel, in input periods
constexpr int kPhases = 512;        // table steps per zero crossing
constexpr double kBeta = 8.0;       // Kaiser window: about 80 dB of stop band
constexpr double kPassFraction = 0.92;

double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// sinc(t) * Kaiser(t / kZeroCrossings) for t = i / kPhases, i >= 0.
const std::array<float, kZeroCrossings * kPhases + 2>& Kernel() {
  static const auto table = [] {
    std::array<float, kZeroCrossings * kPhases + 2> k{};
    const double norm = BesselI0(kBeta);
    for (std::size_t i = 0; i < k.size(); ++i) {
      const double t = static_cast<double>(i) / kPhases;
      if (t >= kZeroCrossings) break;
      const double r = t / kZeroCrossings;
      const double window = BesselI0(kBeta * std::sqrt(1 - r * r)) / norm;
      const double sinc = t == 0 ? 1 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
      k[i] = static_cast<float>(sinc * window);
    }
    return k;
  }();
  return table;
}

float KernelAt(double t) {
  t = std::abs(t) * kPhases;
  const auto i = static_cast<std::size_t>(t);
  const auto& k = Kernel();
  if (i + 1 >= k.size()) return 0;
  const double frac = t - static_cast<double>(i);
  return static_cast<float>(k[i] + (k[i + 1] - k[i]) * frac);
}

}  // namespace

std::vector<float> Resample(const std::vector<float>& in, int channels, int fromRate, int toRate) {
  if (fromRate == toRate || in.empty()) return in;
  const std::int64_t inFrames = static_cast<std::int64_t>(in.size()) / channels;
  const std::int64_t outFrames = (inFrames * toRate + fromRate - 1) / fromRate;
  const double step = static_cast<double>(fromRate) / toRate;  // input frames per output frame
  // Cut-off relative to the input rate: below the lower of the two Nyquists.
  const double cutoff = kPassFraction * std::min(1.0, static_cast<double>(toRate) / fromRate);
  const double reach = kZeroCrossings / cutoff;  // kernel half-width in input frames

  std::vector<float> out(static_cast<std::size_t>(outFrames * channels), 0.0f);
  std::vector<float> weights(static_cast<std::size_t>(2 * reach) + 3);
  for (std::int64_t o = 0; o < outFrames; ++o) {
    const double x = static_cast<double>(o) * step;
    const auto first = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(x - reach)));
    const auto last = std::min<std::int64_t>(inFrames - 1, static_cast<std::int64_t>(x + reach));
    for (std::int64_t i = first; i <= last; ++i)
      weights[static_cast<std::size_t>(i - first)] = KernelAt((x - i) * cutoff) * cutoff;
    for (int c = 0; c < channels; ++c) {
      double acc = 0;
      const float* src = &in[static_cast<std::size_t>(first * channels + c)];
      for (std::int64_t i = 0; i <= last - first; ++i) acc += src[i * channels] * weights[i];
      out[static_cast<std::size_t>(o * channels + c)] =
          static_cast<float>(std::clamp(acc, -1.0, 1.0));
    }
  }
  return out;
}

}  // namespace pendlo::sound::clips
