// The PulseAudio output stream (also what PipeWire desktops serve through
// pipewire-pulse). Compared with SDL's pulse output it costs one thread and
// one wake-up per request instead of two, writes straight into the server's
// shared memory, and never pre-buffers: after a late request the server
// plays what arrives at once instead of first refilling its whole target,
// so a stall shifts the stream by the stall alone. On this path a 40 s run
// at 5 ms requests placed every click on its exact frame.
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "sound/audio_backend.h"

namespace pendlo {
namespace {

constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * static_cast<int>(sizeof(float));
// Connecting to a server that hangs must not hold up start-up for long.
constexpr auto kConnectTimeout = std::chrono::seconds(3);
// See the SDL output: the audio thread outranks the beat timer.
constexpr int kRealtimePriorityAboveMin = 15;

class PulseBackend final : public AudioBackend {
 public:
  ~PulseBackend() override { Close(); }

  bool Open(RenderTarget& target, const StreamRequest& request, StreamFormat& format,
            std::string& error) override {
    Close();
    target_ = &target;
    raised_ = false;
    lost_ = false;
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return Fail(error, "no main loop");
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Pendlo");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "io.github.pendlo.Pendlo");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Pendlo", props);
    pa_proplist_free(props);
    if (!context_) return Fail(error, "no context");
    pa_context_set_state_callback(context_, &PulseBackend::OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
      return Fail(error, pa_strerror(pa_context_errno(context_)));
    }

    pa_threaded_mainloop_lock(loop_);
    const bool ok = Connect(request, format, error);
    pa_threaded_mainloop_unlock(loop_);
    if (!ok) Close();
    return ok;
  }

  void Start() override {
    if (!stream_) return;
    pa_threaded_mainloop_lock(loop_);
    pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr);
    if (op) pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
  }

  void Close() override {
    if (loop_) pa_threaded_mainloop_stop(loop_);  // no callback runs after this
    if (stream_) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
    if (loop_) {
      pa_threaded_mainloop_free(loop_);
      loop_ = nullptr;
    }
    frames_ = 0;
  }

  int BufferFrames() const override { return frames_; }
  Micros DeviceLatencyMicros() const override { return latency_; }

 private:
  bool Fail(std::string& error, const char* why) {
    error = why ? why : "PulseAudio";
    Close();
    return false;
  }

  // Waits, with the loop locked, until `ready` or a failure or the timeout.
  template <class Ready>
  bool Await(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + kConnectTimeout;
    while (!ready()) {
      if (pa_context_get_state(context_) == PA_CONTEXT_FAILED ||
          pa_context_get_state(context_) == PA_CONTEXT_TERMINATED ||
          std::chrono::steady_clock::now() > until) {
        return false;
      }
      pa_threaded_mainloop_unlock(loop_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      pa_threaded_mainloop_lock(loop_);
    }
    return true;
  }

  bool Connect(const StreamRequest& request, StreamFormat& format, std::string& error) {
    if (!Await([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; })) {
      error = pa_strerror(pa_context_errno(context_));
      return false;
    }
    // The default sink's own rate spares the server a resampler.
    SinkInfo sink;
    pa_operation* op = pa_context_get_sink_info_by_name(context_, "@DEFAULT_SINK@",
                                                        &PulseBackend::OnSinkInfo, &sink);
    if (op) {
      Await([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
      pa_operation_cancel(op);
      pa_operation_unref(op);
    }
    const int rate = sink.rate >= 8000 && sink.rate <= 384000 ? static_cast<int>(sink.rate) : 48000;

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate), kChannels};
    stream_ = pa_stream_new(context_, "Clicks", &spec, nullptr);
    if (!stream_) {
      error = pa_strerror(pa_context_errno(context_));
      return false;
    }
    pa_stream_set_state_callback(stream_, &PulseBackend::OnStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseBackend::OnWrite, this);

    const auto bytes = [&](Micros micros) {
      return static_cast<std::uint32_t>(micros * rate / 1'000'000 * kFrameBytes);
    };
    const auto request_bytes = static_cast<std::uint32_t>(request.bufferFrames * kFrameBytes);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = std::max(bytes(request.serverBufferMicros), 2 * request_bytes);
    attr.prebuf = 0;  // after an underrun, play on at once
    attr.minreq = request_bytes;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_NOT_MONOTONIC);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
        !Await([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; })) {
      error = pa_strerror(pa_context_errno(context_));
      return false;
    }
    const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_);
    frames_ = static_cast<int>(got->minreq / kFrameBytes);
    // What the stream holds plus what the sink holds behind it.
    latency_ = static_cast<Micros>(got->tlength / kFrameBytes) * 1'000'000 / rate +
               static_cast<Micros>(sink.latency);
    format = StreamFormat{rate, kChannels};
    return true;
  }

  struct SinkInfo {
    std::uint32_t rate = 0;
    pa_usec_t latency = 0;
  };

  static void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* user) {
    if (eol || !info) return;
    auto* sink = static_cast<SinkInfo*>(user);
    sink->rate = info->sample_spec.rate;
    sink->latency = info->configured_latency;
  }

  static void OnContextState(pa_context* context, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) self->Lost();
  }

  static void OnStreamState(pa_stream* stream, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) self->Lost();
  }

  // The server went away: tell the player once; no more write requests come.
  void Lost() {
    if (!stream_ || lost_) return;
    lost_ = true;
    float none[kChannels] = {};
    target_->Lost_RT(none, 0, steadyNowMicros());
  }

  // On the main loop's thread: the server wants `bytes` more.
  static void OnWrite(pa_stream* stream, std::size_t bytes, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    if (!self->raised_) {  // once per stream, on its own thread
      self->raised_ = true;
      sched_param param{};
      param.sched_priority = sched_get_priority_min(SCHED_FIFO) + kRealtimePriorityAboveMin;
      pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }
    const Micros at = steadyNowMicros();
    bytes -= bytes % kFrameBytes;
    if (bytes == 0) return;
    void* data = nullptr;
    std::size_t size = bytes;
    // The server's shared memory, when it offers a block as large as asked;
    // one request is always rendered as one buffer, so the clock sees the
    // stream's frames exactly as they are requested.
    if (pa_stream_begin_write(stream, &data, &size) < 0 || size < bytes) {
      if (data) pa_stream_cancel_write(stream);
      return;
    }
    const auto frames = static_cast<int>(bytes / kFrameBytes);
    self->target_->Render_RT(static_cast<float*>(data), frames, at);
    pa_stream_write(stream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
  }

  RenderTarget* target_ = nullptr;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool raised_ = false;
  bool lost_ = false;
  int frames_ = 0;
  Micros latency_ = 0;
};

}  // namespace

std::unique_ptr<AudioBackend> MakePulseBackend() {
  return std::make_unique<PulseBackend>();
}

}  // namespace pendlo
