// The SDL2 output stream. SDL runs the callback on its own audio thread; the
// callback only reads the steady clock and hands over to the RenderTarget.
#include <cstdlib>
#include <string>

#include "sound/output/audio_backend.h"
#include "sound/output/audio_thread.h"
#include "sound/output/sdl/sdl_library.h"
#include "sound/output/stream_names.h"

namespace pendlo::sound::output::sdl {
namespace {

constexpr int kChannels = 2;

// SDL's PulseAudio output asks the server to hold only one callback's worth
// and refills when that is used up, so any delay of the audio thread is a
// gap. libpulse reads PULSE_LATENCY_MSEC as the stream's target buffer: with
// a target above the callback size the server still holds the difference
// when the next buffer is due. A value the user set is left alone.
void SetServerBuffer(Micros micros) {
  static bool ours = false;
  if (micros <= 0 || (std::getenv("PULSE_LATENCY_MSEC") && !ours)) return;
  ours = true;
  ::setenv("PULSE_LATENCY_MSEC", std::to_string((micros + 999) / 1000).c_str(), 1);
}

class SdlBackend final : public AudioBackend {
 public:
  ~SdlBackend() override { Close(); }

  bool Open(RenderTarget& target, const StreamRequest& request, clips::StreamFormat& format,
            std::string& error) override {
    Close();
    SetServerBuffer(request.serverBufferMicros);
    sdl_ = LoadSdl(&error);
    if (sdl_ == nullptr) return false;
    // The program handles its own signals (settings are saved on SIGTERM).
    sdl_->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    sdl_->SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, kApplicationName);
    sdl_->SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, kStreamName);
    if (sdl_->InitSubSystem(SDL_INIT_AUDIO) != 0) {
      error = sdl_->GetError();
      return false;
    }
    // The device's own rate spares the server a resampler (and its latency).
    int rate = kFallbackRate;
    SDL_AudioSpec device{};
    char* name = nullptr;
    if (sdl_->GetDefaultAudioInfo(&name, &device, 0) == 0) {
      rate = PlayableRate(device.freq);
      sdl_->Free(name);
    }
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(request.bufferFrames);
    want.callback = &SdlBackend::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    target_ = &target;
    raise_.Reset();
    // No changes allowed: SDL converts if the device wants another format,
    // so the callback always sees float stereo at `rate`.
    device_ = sdl_->OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      error = sdl_->GetError();
      sdl_->QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    frames_ = have.samples;
    format = clips::StreamFormat{have.freq, have.channels};
    return true;
  }

  void Start() override {
    if (device_ != 0) sdl_->PauseAudioDevice(device_, 0);
  }

  void Close() override {
    if (device_ == 0) return;
    sdl_->CloseAudioDevice(device_);
    device_ = 0;
    sdl_->QuitSubSystem(SDL_INIT_AUDIO);
  }

  int BufferFrames() const override { return frames_; }
  std::string Name() const override { return "sdl"; }

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<SdlBackend*>(user);
    self->raise_.OnCallback();  // SDL itself only lowers its nice value
    const Micros at = steadyNowMicros();
    auto* out = reinterpret_cast<float*>(stream);
    const int frames = len / static_cast<int>(sizeof(float) * kChannels);
    // After a disconnect SDL keeps calling back on a timer, with nowhere to
    // send the sound; the status (an atomic read) tells the two apart.
    if (self->sdl_->GetAudioDeviceStatus(self->device_) == SDL_AUDIO_PLAYING) {
      self->target_->Render_RT(out, frames, at);
    } else {
      self->target_->Lost_RT(out, frames, at);
    }
  }

  const SdlLibrary* sdl_ = nullptr;
  RenderTarget* target_ = nullptr;
  AudioThreadRaise raise_;
  SDL_AudioDeviceID device_ = 0;
  int frames_ = 0;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeBackend() {
  return std::make_unique<SdlBackend>();
}

}  // namespace pendlo::sound::output::sdl
