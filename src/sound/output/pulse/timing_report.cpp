#include "sound/output/pulse/timing_report.h"

#include <algorithm>
#include <chrono>

namespace pendlo::sound::output::pulse {

StreamPosition PositionOf(const pa_timing_info& info, int frameBytes, int rate, Micros steadyNow) {
  using std::chrono::microseconds;
  using std::chrono::system_clock;
  // Dated by the moment the report was taken (the system's real time, which
  // the server shares): a stop of this process between the reply and its
  // callback would otherwise date it seconds late, and the clock would jump.
  const system_clock::time_point taken(std::chrono::seconds(info.timestamp.tv_sec) +
                                       microseconds(info.timestamp.tv_usec));
  const auto age = std::chrono::duration_cast<microseconds>(system_clock::now() - taken).count();
  StreamPosition p;
  p.at = steadyNow - std::max<Micros>(0, age);
  p.readFrame = static_cast<double>(info.read_index) / frameBytes;
  // The clock follows the frame heard, not the one read: the sink reads a
  // block at a time, and how far it has read ahead changes after the queue
  // ran dry (the sink rewinds to play the new data at once). Followed by the
  // read index, a stall of a second moved the grid by 4 ms for good.
  p.heardFrame = HeardFrame(p.readFrame, static_cast<Micros>(info.sink_usec), rate);
  return p;
}

}  // namespace pendlo::sound::output::pulse
