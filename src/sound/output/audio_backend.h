// The output device behind ClickPlayer: in the program the first of
// PipeWire, PulseAudio and SDL2 that opens (default_backend.cpp); in tests
// also a stand-in that drives the render callback itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sound/clips/sound_clip.h"
#include "timer/clock.h"

namespace pendlo::sound::output {

// One cycle of a sound server's graph that paces the stream by its own
// driver (PipeWire): where the buffer lies on the graph's timeline.
struct GraphCycle {
  std::int64_t frame = 0;  // the graph's frame count at the buffer's first frame
  Micros at = 0;           // steady time at which the driver began the cycle
  Micros delayMicros = 0;  // from the buffer's first frame to the device
};

// What the device calls on its own thread for every buffer.
class RenderTarget {
 public:
  virtual ~RenderTarget() = default;
  // Fill `frames` interleaved float frames, requested at steady time `at`.
  virtual void Render_RT(float* out, int frames, Micros at) = 0;
  // Fill `frames` interleaved float frames for the graph's cycle `cycle`.
  // The buffer size may change from cycle to cycle.
  virtual void Cycle_RT(float* out, int frames, const GraphCycle& cycle) = 0;
  // The device has failed for good; `out` gets silence.
  virtual void Lost_RT(float* out, int frames, Micros at) = 0;
  // For an output fed through a ClickQueue: at steady time `at` the server
  // takes stream frame `frame` for playing; it is heard
  // ClickQueue::LatencyMicros() later. True: another report is wanted at
  // once (the clock re-joins the stream from a few).
  virtual bool Position_RT(double frame, Micros at) = 0;
  // For an output fed through a ClickQueue: the stream ran dry and shifted.
  virtual void Underrun_RT() = 0;
  // For an output fed through a ClickQueue, as it resumes after a pause:
  // stream frame `frame` (where it stopped, less what the sink holds) is
  // heard at steady time `at`. The clock joins the stream there, on a new
  // grid.
  virtual void Resumed_RT(double frame, Micros at) = 0;
};

// The other way of feeding a server: its queue, which the output keeps full
// of silence, takes each click written ahead at its own frame, and the
// output reports the frame heard (RenderTarget::Position_RT) instead of
// asking for every buffer.
class ClickQueue {
 public:
  virtual ~ClickQueue() = default;
  // Any thread: writes `frames` interleaved frames to start at stream frame
  // `first`, replacing what the queue holds there. Returns at once.
  virtual void WriteAt(std::int64_t first, const float* data, int frames) = 0;
  // The sink's latency after the frame reported by Position_RT, as last
  // reported. Any thread.
  virtual Micros LatencyMicros() const = 0;
};

// What the player asks of the output stream.
struct StreamRequest {
  int bufferFrames = 512;  // frames per callback
  // How much the sound server should hold ahead of the device (its target
  // buffer); 0 leaves it to the audio library (about one callback's worth).
  Micros serverBufferMicros = 0;
};

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;
  // Opens the default output, paused. On success sets `format`; on failure
  // sets `error` (a short reason).
  virtual bool Open(RenderTarget& target, const StreamRequest& request, clips::StreamFormat& format,
                    std::string& error) = 0;
  // Starts callbacks.
  virtual void Start() = 0;
  // Stops callbacks and closes; no callback runs after it returns.
  virtual void Close() = 0;
  // Frames per callback of the open stream.
  virtual int BufferFrames() const = 0;
  // The open stream's latency after the callback (server and device), when
  // the backend knows it; 0 otherwise. Any thread.
  virtual Micros DeviceLatencyMicros() const { return 0; }
  // The open output's short name ("pipewire", "pulse", "sdl"); "" when none.
  virtual std::string Name() const = 0;
  // Pauses (false) or resumes (true) the open stream, for an output whose
  // callbacks wake the machine every few milliseconds even when silent, or
  // whose stream keeps its sink from sleeping. No callback needs to run
  // meanwhile: the clock runs on and re-joins the stream when it resumes
  // (an output fed through a ClickQueue tells it where, Resumed_RT, before
  // it returns). An output without such a cost ignores it.
  virtual void SetActive(bool active) { (void)active; }
  // Whether the open output may be closed while the beat rests and opened
  // again at Start without moving the first click: a new stream that plays
  // its first clicks on their frames (the clock joins it at its first
  // callback). An output whose clock needs a position report first, or
  // whose library stays loaded anyway, keeps its stream.
  virtual bool ReleasableAtRest() const { return false; }
  // Whether the last Open reached a sound server, also when it then failed
  // (no sink): SDL must not be handed that server.
  virtual bool ServerAnswered() const { return false; }
  // The sound server's own name for itself, when the output learns it.
  virtual std::string ServerName() const { return ""; }
  // The open output's queue when clicks are written into it; nullptr when
  // the output asks for every buffer (Render_RT, Cycle_RT). Stays the same
  // while the output is open.
  virtual ClickQueue* Queue() { return nullptr; }
};

// The program's output: PipeWire when its daemon answers, PulseAudio when a
// server other than PipeWire's answers, SDL2 otherwise. PENDLO_AUDIO set to
// "pipewire", "pulse" or "sdl" tries that one first.
std::unique_ptr<AudioBackend> MakeDefaultBackend();

namespace pipewire {
// PipeWire's own protocol: 32-bit float, mono, the graph's rate, paced by
// the graph (Cycle_RT).
std::unique_ptr<AudioBackend> MakeBackend();
}  // namespace pipewire

namespace pulse {
// PulseAudio directly (also PipeWire's pulse server): 32-bit float, stereo,
// the default sink's rate; fed through its ClickQueue.
std::unique_ptr<AudioBackend> MakeBackend();
}  // namespace pulse

namespace sdl {
// The SDL2 output (default device, 32-bit float, stereo, the device's rate).
std::unique_ptr<AudioBackend> MakeBackend();
}  // namespace sdl

}  // namespace pendlo::sound::output
