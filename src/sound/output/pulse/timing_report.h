// What a PulseAudio timing report says of a playback stream, in the terms
// the program's clock follows: the frame the listener hears and the steady
// moment the server took the report.
#pragma once

#include <pulse/def.h>

#include "timer/clock.h"

namespace pendlo::sound::output::pulse {

struct StreamPosition {
  double readFrame = 0;   // the sink's read index: written frames must lie beyond it
  double heardFrame = 0;  // the frame being heard at `at`
  Micros at = 0;          // steady time the server took the report
};

// The frame heard when the sink has read up to `readFrame` and holds
// `sinkMicros` of it not yet played, at `rate` frames a second.
inline double HeardFrame(double readFrame, Micros sinkMicros, int rate) {
  return readFrame - static_cast<double>(sinkMicros) * 1e-6 * rate;
}

// `frameBytes` and `rate` are the stream's; `steadyNow` is steadyNowMicros()
// at the call.
StreamPosition PositionOf(const pa_timing_info& info, int frameBytes, int rate, Micros steadyNow);

}  // namespace pendlo::sound::output::pulse
