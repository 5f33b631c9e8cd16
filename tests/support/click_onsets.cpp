#include "support/click_onsets.h"

#include <algorithm>
#include <cmath>

#include "files/formats/click_images.h"
#include "sound/clips/wav_decoder.h"

namespace pendlo::testing {
namespace {

int FirstAbove(std::span<const float> x, float threshold) {
  for (std::size_t i = 0; i < x.size(); ++i)
    if (std::abs(x[i]) > threshold) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::vector<ClickTemplate> BuiltInClickTemplates(int rate) {
  std::vector<ClickTemplate> out;
  for (const auto* image : {&PiWave, &PoWave}) {
    const sound::clips::DecodeResult r =
        sound::clips::DecodeWav(*image, sound::clips::StreamFormat{rate, 1});
    out.push_back(ClickTemplate{r.clip ? r.clip->samples : std::vector<float>{}});
  }
  return out;
}

std::vector<FoundClick> FindClicks(std::span<const float> x,
                                   const std::vector<ClickTemplate>& templates, float threshold,
                                   int gap) {
  std::vector<FoundClick> found;
  int quiet = gap;
  // Where the last click a template matched ends: notes shorter than a
  // click's gap (tuplets at high tempi) follow it with hardly a quiet frame.
  std::int64_t matchedEnd = -1;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (std::abs(x[i]) <= threshold) {
      ++quiet;
      continue;
    }
    const bool onset =
        quiet >= gap || (matchedEnd >= 0 && static_cast<std::int64_t>(i) >= matchedEnd);
    quiet = 0;
    if (!onset) continue;
    matchedEnd = -1;

    FoundClick click{static_cast<std::int64_t>(i), -1, 0.0f};
    double bestFit = 0.9;  // share of the template's energy explained, at least
    for (std::size_t k = 0; k < templates.size(); ++k) {
      const auto& t = templates[k].samples;
      const int cross = FirstAbove(t, threshold);
      if (cross < 0) continue;
      double energy = 0;
      for (float v : t) energy += v * v;
      // The crossing may move by a frame with rounding in the server.
      for (int shift = -2; shift <= 2; ++shift) {
        const std::int64_t start = static_cast<std::int64_t>(i) - cross + shift;
        if (start < 0 ||
            start + static_cast<std::int64_t>(t.size()) > static_cast<std::int64_t>(x.size()))
          continue;
        double err = 0;
        for (std::size_t n = 0; n < t.size(); ++n) {
          const double d = x[static_cast<std::size_t>(start) + n] - t[n];
          err += d * d;
        }
        const double fit = 1 - err / energy;
        if (fit > bestFit) {
          bestFit = fit;
          click.frame = start;
          click.kind = static_cast<int>(k);
        }
      }
    }
    if (click.kind >= 0)
      matchedEnd = click.frame + static_cast<std::int64_t>(templates[click.kind].samples.size());
    const std::size_t end = std::min(x.size(), i + 2 * static_cast<std::size_t>(gap));
    for (std::size_t n = i; n < end; ++n) click.peak = std::max(click.peak, std::abs(x[n]));
    found.push_back(click);
  }
  return found;
}

}  // namespace pendlo::testing
