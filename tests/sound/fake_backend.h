// An output device for tests: no sound, no thread; the test calls the
// render callback itself at fake steady times.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sound/output/audio_backend.h"
#include "support/watched.h"

namespace pendlo::testing {

// The steady clock the player under test sees.
inline std::atomic<Micros> gFakeSteady{1'000'000'000};
inline Micros FakeSteady() {
  return gFakeSteady.load();
}

// The device's state; its backend's Open, Start, SetActive and Close (on
// the player's supervisor thread) tell of each change through Watched.
struct FakeDevice : Watched {
  std::atomic<bool> available{true};
  std::string reason = "no device";
  sound::clips::StreamFormat format{48000, 2};
  int frames = 512;
  std::atomic<int> opens{0};
  sound::output::RenderTarget* target = nullptr;  // set while open
  std::atomic<bool> started{false};
  bool releasable = false;         // may be closed at rest
  std::atomic<bool> active{true};  // false while the player rests it
  std::vector<float> buffer;
  // A device that takes writes: keeps what was written, frame by frame of
  // channel 0, and the test reports the sink's position itself.
  bool takesWrites = false;
  std::vector<std::pair<std::int64_t, std::vector<float>>> written;
  Micros latency = 0;

  // The sink takes stream frame `frame` at steady time `at`; true when
  // another report is asked for at once.
  bool Report(double frame, Micros at) {
    gFakeSteady = at;
    return target && started && target->Position_RT(frame, at);
  }

  // One callback at steady time `at`; returns the rendered frames.
  const std::vector<float>& Render(Micros at) {
    if (Begin(at, frames)) target->Render_RT(buffer.data(), frames, at);
    return buffer;
  }
  // One cycle of a graph-paced device: `count` frames from the graph's
  // frame `frame`, the cycle begun at steady time `at`.
  const std::vector<float>& Cycle(std::int64_t frame, int count, Micros at, Micros delay = 0) {
    if (Begin(at, count))
      target->Cycle_RT(buffer.data(), count, sound::output::GraphCycle{frame, at, delay});
    return buffer;
  }
  // A callback after the device failed for good.
  void Lose(Micros at) {
    if (Begin(at, frames)) target->Lost_RT(buffer.data(), frames, at);
  }

 private:
  // A callback of `count` frames at `at` into a buffer that shows every
  // sample left unwritten (-9); whether the stream runs.
  bool Begin(Micros at, int count) {
    gFakeSteady = at;
    buffer.assign(static_cast<std::size_t>(count) * format.channels, -9.0f);
    return target && started;
  }
};

class FakeBackend final : public sound::output::AudioBackend, private sound::output::ClickQueue {
 public:
  explicit FakeBackend(FakeDevice& device) : d_(device) {}
  bool Open(sound::output::RenderTarget& target, const sound::output::StreamRequest& request,
            sound::clips::StreamFormat& format, std::string& error) override {
    ++d_.opens;
    const bool opened = d_.available;
    if (opened) {
      d_.target = &target;
      d_.frames = request.bufferFrames;
      format = d_.format;
    } else {
      error = d_.reason;
    }
    d_.Changed();
    return opened;
  }
  void Start() override { Change(d_.started, true); }
  void SetActive(bool active) override { Change(d_.active, active); }
  bool ReleasableAtRest() const override { return d_.releasable; }
  void Close() override {
    d_.target = nullptr;
    Change(d_.started, false);
  }
  int BufferFrames() const override { return d_.frames; }
  std::string Name() const override { return "fake"; }
  sound::output::ClickQueue* Queue() override { return d_.takesWrites ? this : nullptr; }
  Micros DeviceLatencyMicros() const override { return d_.latency; }
  Micros LatencyMicros() const override { return d_.latency; }
  void WriteAt(std::int64_t first, const float* data, int frames) override {
    std::vector<float> channel0(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) channel0[i] = data[i * d_.format.channels];
    d_.written.emplace_back(first, std::move(channel0));
  }

 private:
  void Change(std::atomic<bool>& flag, bool value) {
    flag = value;
    d_.Changed();
  }
  FakeDevice& d_;
};

}  // namespace pendlo::testing
