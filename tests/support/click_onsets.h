// Finds the clicks in a recording of the output and tells which click each
// one is, to the frame. Used by the PulseAudio tests and bench/click_timing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pendlo::testing {

struct FoundClick {
  std::int64_t frame;  // where the click's first sample lies in the recording
  int kind;            // index of the matching template, -1 when none matches
  float peak;          // largest |sample| over the click
};

struct ClickTemplate {
  std::vector<float> samples;  // the click as it reaches the output (mono)
};

// A click begins where |x| first exceeds `threshold` after at least `gap`
// quiet frames. Its start is then placed by the best-fitting template (so a
// sound whose first samples are quiet is not placed late), and the template
// names its kind when it fits closely.
std::vector<FoundClick> FindClicks(std::span<const float> x,
                                   const std::vector<ClickTemplate>& templates,
                                   float threshold = 0.05f, int gap = 96);

// The built-in accent (kind 0) and plain click (kind 1) as the player
// renders them at `rate`.
std::vector<ClickTemplate> BuiltInClickTemplates(int rate);

}  // namespace pendlo::testing
