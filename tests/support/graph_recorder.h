// Records a PipeWire sink's monitor on the graph's own timeline: each
// buffer is written at its cycle's frame count, so a cycle the recorder
// missed stays a gap of silence instead of pulling everything after it
// earlier. A recorder of the PulseAudio protocol (parec) cannot tell such a
// gap: when a busy machine stalls the graph, its recording loses whole
// cycles and clicks that played on their frames look 256 frames early.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace pendlo::testing {

class GraphRecorder {
 public:
  // Room for `seconds` of recording at `rate`, taken before the stream
  // starts: the recorder's own callback allocates nothing.
  GraphRecorder(std::string sink, int rate, int seconds);
  ~GraphRecorder();
  GraphRecorder(const GraphRecorder&) = delete;
  GraphRecorder& operator=(const GraphRecorder&) = delete;

  // Connects to the sink's monitor and waits until the first buffer comes.
  bool Start(std::string* error);
  // Stops; the recording from the first buffer on, both channels averaged,
  // cycles nobody recorded silent.
  std::vector<float> Stop();
  // Cycles that came after a gap in the graph's count.
  int Gaps() const;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace pendlo::testing
