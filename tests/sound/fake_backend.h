// An output device for tests: no sound, no thread; the test calls the
// render callback itself at fake steady times.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "sound/audio_backend.h"

namespace pendlo::testing {

// The steady clock the player under test sees.
inline std::atomic<Micros> gFakeSteady{1'000'000'000};
inline Micros FakeSteady() {
  return gFakeSteady.load();
}

struct FakeDevice {
  bool available = true;
  std::string reason = "no device";
  StreamFormat format{48000, 2};
  int frames = 512;
  int opens = 0;
  RenderTarget* target = nullptr;  // set while open
  bool started = false;
  std::vector<float> buffer;

  // One callback at steady time `at`; returns the rendered frames.
  const std::vector<float>& Render(Micros at) {
    gFakeSteady = at;
    buffer.assign(static_cast<std::size_t>(frames) * format.channels, -9.0f);
    if (target && started) target->Render_RT(buffer.data(), frames, at);
    return buffer;
  }
  // A callback after the device failed for good.
  void Lose(Micros at) {
    gFakeSteady = at;
    buffer.assign(static_cast<std::size_t>(frames) * format.channels, -9.0f);
    if (target && started) target->Lost_RT(buffer.data(), frames, at);
  }
};

class FakeBackend final : public AudioBackend {
 public:
  explicit FakeBackend(FakeDevice& device) : d_(device) {}
  bool Open(RenderTarget& target, const StreamRequest& request, StreamFormat& format,
            std::string& error) override {
    ++d_.opens;
    if (!d_.available) {
      error = d_.reason;
      return false;
    }
    d_.target = &target;
    d_.frames = request.bufferFrames;
    format = d_.format;
    return true;
  }
  void Start() override { d_.started = true; }
  void Close() override {
    d_.target = nullptr;
    d_.started = false;
  }
  int BufferFrames() const override { return d_.frames; }

 private:
  FakeDevice& d_;
};

}  // namespace pendlo::testing
