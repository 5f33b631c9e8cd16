// The program's output. PipeWire's own protocol when a PipeWire daemon
// answers; libpulse when a PulseAudio server does; SDL2 otherwise. PipeWire
// comes first because only its own protocol tells a client the graph's
// timeline: through its pulse service a cycle the graph misses on a busy
// machine delays the rest of the queue by that cycle, unseen by any client.
// PENDLO_AUDIO=pipewire|pulse|sdl puts one first; when it cannot open, the
// others are tried as usual. The output that plays is named on standard
// error.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sound/output/audio_backend.h"

namespace pendlo::sound::output {
namespace {

constexpr const char* kPipeWirePulse = "PulseAudio (on PipeWire";

class FirstThatOpens final : public AudioBackend {
 public:
  explicit FirstThatOpens(std::string forced) : forced_(std::move(forced)) {
    if (forced_ == "pulse") order_ = {"pulse", "pipewire", "sdl"};
    if (forced_ == "sdl") order_ = {"sdl", "pipewire", "pulse"};
    if (!forced_.empty() && forced_ != "pipewire" && forced_ != "pulse" && forced_ != "sdl") {
      std::fprintf(stderr, "pendlo: PENDLO_AUDIO=%s is not pipewire, pulse or sdl; ignored\n",
                   forced_.c_str());
      forced_.clear();
    }
  }

  bool Open(RenderTarget& target, const StreamRequest& request, clips::StreamFormat& format,
            std::string& error) override {
    Close();
    std::string reasons;
    bool answered = false;
    for (const std::string& name : order_) {
      // A server that answers but cannot play (no sink) is not handed to
      // SDL, whose own drivers fail badly on it: SDL is for machines with
      // no sound server. Nor is a machine whose server played and has gone
      // (restarting): SDL's ALSA could take the sound card it comes back to.
      if (name == "sdl" && (answered || hadServer_)) continue;
      AudioBackend& b = Backend(name);
      std::string why;
      if (!b.Open(target, request, format, why)) {
        answered = answered || b.ServerAnswered();
        if (!reasons.empty()) reasons += "; ";
        reasons += name + ": " + why;
        continue;
      }
      open_.store(&b);
      hadServer_ = hadServer_ || (name != "sdl" && forced_ != "sdl");
      if (name != announced_) {
        announced_ = name;
        if (!forced_.empty() && name != forced_) {
          std::fprintf(stderr, "pendlo: PENDLO_AUDIO=%s cannot play (%s); sound through %s\n",
                       forced_.c_str(), reasons.c_str(), name.c_str());
        } else {
          std::fprintf(stderr, "pendlo: sound through %s\n", name.c_str());
        }
        // Chosen (or forced) on PipeWire's pulse service: a cycle its graph
        // misses under load moves the queue by one quantum: say so.
        if (name == "pulse" && b.ServerName().find(kPipeWirePulse) != std::string::npos) {
          std::fprintf(stderr,
                       "pendlo: %s may move the beat by a few milliseconds when the machine is"
                       " busy\n",
                       b.ServerName().c_str());
        }
      }
      return true;
    }
    error = reasons;
    return false;
  }
  void Start() override {
    if (AudioBackend* b = open_.load()) b->Start();
  }
  void Close() override {
    if (AudioBackend* b = open_.exchange(nullptr)) b->Close();
  }
  int BufferFrames() const override {
    const AudioBackend* b = open_.load();
    return b ? b->BufferFrames() : 0;
  }
  Micros DeviceLatencyMicros() const override {
    const AudioBackend* b = open_.load();
    return b ? b->DeviceLatencyMicros() : 0;
  }
  std::string Name() const override {
    const AudioBackend* b = open_.load();
    return b ? b->Name() : "";
  }
  ClickQueue* Queue() override {
    AudioBackend* b = open_.load();
    return b ? b->Queue() : nullptr;
  }
  bool ReleasableAtRest() const override {
    const AudioBackend* b = open_.load();
    return b && b->ReleasableAtRest();
  }
  void SetActive(bool active) override {
    if (AudioBackend* b = open_.load()) b->SetActive(active);
  }

 private:
  AudioBackend& Backend(const std::string& name) {
    if (name == "pipewire") return *pipewire_;
    if (name == "pulse") return *pulse_;
    return *sdl_;
  }

  std::string forced_;
  std::vector<std::string> order_ = {"pipewire", "pulse", "sdl"};
  std::unique_ptr<AudioBackend> pipewire_ = pipewire::MakeBackend();
  std::unique_ptr<AudioBackend> pulse_ = pulse::MakeBackend();
  std::unique_ptr<AudioBackend> sdl_ = sdl::MakeBackend();
  // Read by other threads (the latency, while the timer plays) as it changes.
  std::atomic<AudioBackend*> open_{nullptr};
  std::string announced_;
  bool hadServer_ = false;  // PipeWire or PulseAudio has played
};

}  // namespace

std::unique_ptr<AudioBackend> MakeDefaultBackend() {
  const char* forced = std::getenv("PENDLO_AUDIO");
  return std::make_unique<FirstThatOpens>(forced ? forced : "");
}

}  // namespace pendlo::sound::output
