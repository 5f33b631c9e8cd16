// The program's output: PulseAudio directly when a server answers, else
// whatever SDL2 finds (ALSA, PipeWire...).
#include "sound/audio_backend.h"

namespace pendlo {
namespace {

class FirstThatOpens final : public AudioBackend {
 public:
  bool Open(RenderTarget& target, const StreamRequest& request, StreamFormat& format,
            std::string& error) override {
    Close();
    std::string pulseError;
    if (pulse_->Open(target, request, format, pulseError)) {
      open_ = pulse_.get();
      return true;
    }
    if (sdl_->Open(target, request, format, error)) {
      open_ = sdl_.get();
      return true;
    }
    if (error.empty()) error = pulseError;
    return false;
  }
  void Start() override {
    if (open_) open_->Start();
  }
  void Close() override {
    if (open_) open_->Close();
    open_ = nullptr;
  }
  int BufferFrames() const override { return open_ ? open_->BufferFrames() : 0; }
  Micros DeviceLatencyMicros() const override { return open_ ? open_->DeviceLatencyMicros() : 0; }
  bool TakesWrites() const override { return open_ && open_->TakesWrites(); }
  void WriteAt(std::int64_t first, const float* data, int frames) override {
    if (open_) open_->WriteAt(first, data, frames);
  }

 private:
  std::unique_ptr<AudioBackend> pulse_ = MakePulseBackend();
  std::unique_ptr<AudioBackend> sdl_ = MakeSdlBackend();
  AudioBackend* open_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeDefaultBackend() {
  return std::make_unique<FirstThatOpens>();
}

}  // namespace pendlo
