// The PulseAudio stream's queue as the program keeps it: full of silence
// some 0.7 s ahead of where the sink reads, each click written in place of
// the silence on its own frame. Every call is made under the main loop's
// lock, on a stream that is ready.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <vector>

#include "sound/output/pulse/pulse_library.h"
#include "timer/clock.h"

namespace pendlo::sound::output::pulse {

inline constexpr int kChannels = 2;
inline constexpr int kFrameBytes = kChannels * static_cast<int>(sizeof(float));
// The queue of silence the server holds ahead of the sink.
inline constexpr Micros kQueueMicros = 700'000;

class SilenceQueue {
 public:
  // A new, empty stream of `rate` frames per second, written through `pa`.
  void Begin(const PulseLibrary* pa, int rate);
  // Writes `frames` interleaved frames from stream frame `first` on, in
  // place of what the queue holds there, with the silence after them that
  // keeps the queue's end where it was.
  void WriteAt(pa_stream* stream, std::int64_t first, const float* data, int frames);
  // Silence from the end of the queue up to a full queue ahead of the sink.
  void Refill(pa_stream* stream);
  // The sink's read index stood at stream frame `frame` at steady time `at`.
  void Read(double frame, Micros at);
  // The sink's reading stands still (the stream is corked) from `frame`
  // on, until the next Read.
  void Hold(double frame) {
    readFrame_ = frame;
    held_ = true;
  }
  // Where the sink reads now: where it stands while held, or the last
  // report carried on at the stream's rate.
  double Reading() const;
  // The stream's frames per second, from Begin.
  int Rate() const { return rate_; }

 private:
  const PulseLibrary* pa_ = nullptr;
  int rate_ = 0;
  std::int64_t end_ = 0;          // stream frame after the last one written
  std::int64_t guardFrames_ = 0;  // the silence sent on with every click
  std::vector<float> guarded_;    // a click and that silence
  double readFrame_ = 0;          // the sink's read index, last reported...
  Micros readAt_ = 0;             // ...at this steady time (0: none yet)
  bool held_ = false;             // corked: the read index stands still
};

}  // namespace pendlo::sound::output::pulse
