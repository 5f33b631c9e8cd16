// The PulseAudio output stream (also what PipeWire desktops serve through
// pipewire-pulse). The server's queue is kept 0.7 s deep in silence,
// topped up every 0.4 s, and each click is written into it at its own
// frame, a constant lead ahead of where the sink reads. So the stream never
// runs dry when the machine is busy (frame n is always heard at the same
// moment, and the beat cannot shift), the process wakes a few dozen times a
// second instead of a few hundred, and a tempo change or Stop is still
// heard within the lead: the queued silence delays nothing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sound/output/audio_backend.h"
#include "sound/output/pulse/pulse_library.h"
#include "sound/output/pulse/timing_report.h"
#include "sound/output/server_output.h"
#include "sound/output/stream_names.h"

namespace pendlo::sound::output::pulse {
namespace {

constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * static_cast<int>(sizeof(float));
// Connecting to a server that hangs must not hold up start-up for long.
constexpr pa_usec_t kConnectMicros = 3'000'000;
// The queue of silence the server holds, and how much it asks for at once.
constexpr Micros kQueueMicros = 700'000;
constexpr Micros kRequestMicros = 345'000;
// How often the queue is topped up and the sink's position asked for.
constexpr Micros kTickMicros = 400'000;
// Silence sent on with every click written into the queue (see WriteAt).
constexpr Micros kGuardMicros = 100'000;

class PulseBackend final : public ServerOutput, private ClickQueue {
 public:
  ~PulseBackend() override { Close(); }

  void Start() override {
    if (!stream_) return;
    pa_->ThreadedMainloopLock(loop_);
    SetStarted(true);
    Refill(stream_);
    pa_operation* op = pa_->StreamCork(stream_, 0, nullptr, nullptr);
    if (op) pa_->OperationUnref(op);
    op = pa_->StreamUpdateTimingInfo(stream_, &PulseBackend::OnTiming, this);
    if (op) pa_->OperationUnref(op);
    pa_->ThreadedMainloopUnlock(loop_);
  }

  void Close() override {
    if (loop_) pa_->ThreadedMainloopStop(loop_);  // no callback runs after this
    if (tick_) {
      pa_->ThreadedMainloopGetApi(loop_)->time_free(tick_);
      tick_ = nullptr;
    }
    if (stream_) {
      pa_->StreamSetWriteCallback(stream_, nullptr, nullptr);
      pa_->StreamSetStateCallback(stream_, nullptr, nullptr);
      pa_->StreamDisconnect(stream_);
      pa_->StreamUnref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_->ContextSetStateCallback(context_, nullptr, nullptr);
      pa_->ContextDisconnect(context_);
      pa_->ContextUnref(context_);
      context_ = nullptr;
    }
    if (loop_) {
      pa_->ThreadedMainloopFree(loop_);
      loop_ = nullptr;
    }
    frames_ = 0;
    // A refused or closed output does not keep the library mapped.
    if (pa_) {
      pa_ = nullptr;
      ReleasePulse();
    }
  }

  int BufferFrames() const override { return frames_; }
  std::string Name() const override { return "pulse"; }
  std::string ServerName() const override { return serverName_; }
  ClickQueue* Queue() override { return this; }
  Micros LatencyMicros() const override { return sinkMicros_.load(std::memory_order_relaxed); }

  // Any thread, under the main loop's lock: the server puts the frames in
  // place of the silence queued there.
  void WriteAt(std::int64_t first, const float* data, int frames) override {
    if (!loop_ || frames <= 0) return;
    pa_->ThreadedMainloopLock(loop_);
    if (stream_ && !Lost() && pa_->StreamGetState(stream_) == PA_STREAM_READY) {
      // A write into the queue leaves the server's write index at its end,
      // and the sink reads only up to there until the next write puts it
      // back at the queue's end. On a busy machine the server can take tens
      // of milliseconds between the two, so the click goes with 0.1 s of the
      // silence after it: ending only a little ahead of the sink, it would
      // let the stream run dry in that gap, shifting every later click.
      const std::int64_t end =
          std::min(queueEnd_, first + std::max<std::int64_t>(frames, guardFrames_));
      const float* out = data;
      std::int64_t count = frames;
      if (end > first + frames) {
        count = end - first;
        guarded_.assign(static_cast<std::size_t>(count) * kChannels, 0.0F);
        std::copy_n(data, static_cast<std::size_t>(frames) * kChannels, guarded_.begin());
        out = guarded_.data();
      }
      pa_->StreamWrite(stream_, out, static_cast<std::size_t>(count) * kFrameBytes, nullptr,
                       first * kFrameBytes, PA_SEEK_ABSOLUTE);
      if (first + count >= queueEnd_) {
        queueEnd_ = first + count;
      } else {
        // The server counts its queue up to the last write: one silent frame
        // at the end puts the write index back there.
        static constexpr float kSilentFrame[kChannels] = {};
        pa_->StreamWrite(stream_, kSilentFrame, kFrameBytes, nullptr, queueEnd_ * kFrameBytes,
                         PA_SEEK_ABSOLUTE);
        ++queueEnd_;
      }
    }
    pa_->ThreadedMainloopUnlock(loop_);
  }

 private:
  bool AcquireLibrary(std::string& error) override {
    pa_ = AcquirePulse(&error);
    return pa_ != nullptr;
  }

  bool StartLoop(std::string& error) override {
    queueEnd_ = 0;
    readAt_ = 0;
    loop_ = pa_->ThreadedMainloopNew();
    if (!loop_) return Refuse(error, "no main loop");
    pa_proplist* props = pa_->ProplistNew();
    pa_->ProplistSets(props, PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_->ProplistSets(props, PA_PROP_APPLICATION_ID, kApplicationId);
    pa_->ProplistSets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ =
        pa_->ContextNewWithProplist(pa_->ThreadedMainloopGetApi(loop_), kApplicationName, props);
    pa_->ProplistFree(props);
    if (!context_) return Refuse(error, "no context");
    pa_->ContextSetStateCallback(context_, &PulseBackend::OnContextState, this);
    if (pa_->ContextConnect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_->ThreadedMainloopStart(loop_) < 0) {
      return Refuse(error, ContextError());
    }
    return true;
  }
  void LockLoop() override { pa_->ThreadedMainloopLock(loop_); }
  void UnlockLoop() override { pa_->ThreadedMainloopUnlock(loop_); }

  // The reason the context gives for its last failure.
  const char* ContextError() const {
    const char* why = pa_->Strerror(pa_->ContextErrno(context_));
    return why ? why : "PulseAudio";
  }

  // Waits, with the loop locked, until `ready`, a failure or the timeout:
  // every callback that can change what `ready` looks at signals the loop.
  template <class Ready>
  bool Await(Ready ready) {
    timedOut_ = false;
    pa_time_event* timeout = pa_->ContextRttimeNew(
        context_, pa_->RtclockNow() + kConnectMicros,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
          auto* self = static_cast<PulseBackend*>(user);
          self->timedOut_ = true;
          self->pa_->ThreadedMainloopSignal(self->loop_, 0);
        },
        this);
    const bool ok = AwaitServer(
        ready, [&] { return ConnectionFailed() || timedOut_; },
        [&] {
          pa_->ThreadedMainloopWait(loop_);
          return true;  // the time running out is a failure (timedOut_)
        });
    if (timeout) pa_->ThreadedMainloopGetApi(loop_)->time_free(timeout);
    return ok;
  }

  // Whether the context, or the stream once made, has failed or ended.
  bool ConnectionFailed() const {
    const pa_context_state_t state = pa_->ContextGetState(context_);
    const bool streamFailed = stream_ && (pa_->StreamGetState(stream_) == PA_STREAM_FAILED ||
                                          pa_->StreamGetState(stream_) == PA_STREAM_TERMINATED);
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED || streamFailed;
  }

  // Waits for the answer to `op` (its callback signals the loop), then lets
  // it go.
  void AwaitOperation(pa_operation* op) {
    if (!op) return;
    Await([&] { return pa_->OperationGetState(op) != PA_OPERATION_RUNNING; });
    pa_->OperationCancel(op);
    pa_->OperationUnref(op);
  }

  bool ConnectStream(const StreamRequest& request, clips::StreamFormat& format,
                     std::string& error) override {
    if (!Await([&] { return pa_->ContextGetState(context_) == PA_CONTEXT_READY; })) {
      return Refuse(error, ContextError());
    }
    MarkAnswered();
    // Whose server this is (PipeWire's pulse server names itself).
    serverName_.clear();
    AwaitOperation(pa_->ContextGetServerInfo(context_, &PulseBackend::OnServerInfo, this));
    // The default sink's own rate spares the server a resampler.
    SinkInfo sink;
    sink.pa = pa_;
    sink.loop = loop_;
    AwaitOperation(pa_->ContextGetSinkInfoByName(context_, "@DEFAULT_SINK@",
                                                 &PulseBackend::OnSinkInfo, &sink));
    if (!sink.found) return Refuse(error, "the PulseAudio server has no sink");
    const int rate = PlayableRate(sink.rate);

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate), kChannels};
    stream_ = pa_->StreamNew(context_, kStreamName, &spec, nullptr);
    if (!stream_) return Refuse(error, ContextError());
    pa_->StreamSetStateCallback(stream_, &PulseBackend::OnStreamState, this);
    pa_->StreamSetWriteCallback(stream_, &PulseBackend::OnWrite, this);
    pa_->StreamSetUnderflowCallback(stream_, &PulseBackend::OnUnderflow, this);

    const auto bytes = [&](Micros micros) {
      return static_cast<std::uint32_t>(micros * rate / 1'000'000 * kFrameBytes);
    };
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytes(kQueueMicros);
    attr.prebuf = 0;  // after a stall, play on as soon as anything comes
    attr.minreq = bytes(kRequestMicros);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED);
    if (pa_->StreamConnectPlayback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
        !Await([&] { return pa_->StreamGetState(stream_) == PA_STREAM_READY; })) {
      return Refuse(error, ContextError());
    }
    (void)request;  // the queue's depth is this backend's own
    tick_ = pa_->ContextRttimeNew(context_, pa_->RtclockNow() + kTickMicros, &PulseBackend::OnTick,
                                  this);
    frames_ = static_cast<int>(pa_->StreamGetBufferAttr(stream_)->minreq / kFrameBytes);
    rate_ = rate;
    guardFrames_ = kGuardMicros * rate / 1'000'000;
    guarded_.reserve(static_cast<std::size_t>(guardFrames_) * kChannels);
    format = clips::StreamFormat{rate, kChannels};
    return true;
  }

  struct SinkInfo {
    const PulseLibrary* pa = nullptr;
    pa_threaded_mainloop* loop = nullptr;
    bool found = false;
    std::uint32_t rate = 0;
  };

  // PipeWire's PulseAudio service plays the queue exactly while its graph
  // keeps up, but a cycle its nodes miss on a busy machine can drop one
  // quantum of the stream after the server has read it: every later click
  // is heard a quantum (5.3 ms at 256/48000) early, and the stream's read
  // index and underrun reports show nothing a client could re-join on. So
  // the user hears of it once, not a silent step; PipeWire's own protocol
  // keeps exact time there.
  static void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* sink = static_cast<SinkInfo*>(user);
    if (!eol && info) {
      sink->found = true;
      sink->rate = info->sample_spec.rate;
    }
    sink->pa->ThreadedMainloopSignal(sink->loop, 0);
  }

  static void OnServerInfo(pa_context*, const pa_server_info* info, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    if (info && info->server_name) self->serverName_ = info->server_name;
    self->pa_->ThreadedMainloopSignal(self->loop_, 0);
  }

  static void OnContextState(pa_context* context, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_context_state_t state = self->pa_->ContextGetState(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) self->OnLost();
    self->pa_->ThreadedMainloopSignal(self->loop_, 0);
  }

  static void OnStreamState(pa_stream* stream, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_stream_state_t state = self->pa_->StreamGetState(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) self->OnLost();
    self->pa_->ThreadedMainloopSignal(self->loop_, 0);
  }

  // The server went away: tell the player once; no more write requests come.
  void OnLost() {
    if (stream_) ReportLost();
  }

  // On the main loop's thread: the server asks for more. The amount is
  // worked out in Refill, not taken from the request: writes into the queue
  // move the server's write index back and forth, and neither the library's
  // count of requested bytes nor the server's requests follow them closely
  // enough to keep the queue full; the loop's own tick refills it as well.
  static void OnWrite(pa_stream* stream, std::size_t, void* user) {
    static_cast<PulseBackend*>(user)->Refill(stream);
  }

  // On the main loop's thread, every kTickMicros: refill, and ask where the
  // sink stands.
  static void OnTick(pa_mainloop_api*, pa_time_event* event, const timeval*, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    self->Raise().OnCallback();  // once per stream, on its own thread
    if (self->stream_ && self->pa_->StreamGetState(self->stream_) == PA_STREAM_READY) {
      self->Refill(self->stream_);
      pa_operation* op =
          self->pa_->StreamUpdateTimingInfo(self->stream_, &PulseBackend::OnTiming, self);
      if (op) self->pa_->OperationUnref(op);
    }
    self->pa_->ContextRttimeRestart(self->context_, event, self->pa_->RtclockNow() + kTickMicros);
  }

  // Silence from the end of the queue up to a full queue ahead of the sink.
  void Refill(pa_stream* stream) {
    double read = 0;
    if (readAt_ != 0) read = readFrame_ + (steadyNowMicros() - readAt_) * 1e-6 * rate_;
    std::int64_t missing =
        static_cast<std::int64_t>(read) + kQueueMicros * rate_ / 1'000'000 - queueEnd_;
    while (missing > 0) {
      void* data = nullptr;
      std::size_t size = static_cast<std::size_t>(missing) * kFrameBytes;
      if (pa_->StreamBeginWrite(stream, &data, &size) < 0 || !data) return;
      const auto frames = std::min<std::int64_t>(missing, size / kFrameBytes);
      std::memset(data, 0, frames * kFrameBytes);
      pa_->StreamWrite(stream, data, frames * kFrameBytes, nullptr, queueEnd_ * kFrameBytes,
                       PA_SEEK_ABSOLUTE);
      queueEnd_ += frames;
      missing -= frames;
    }
  }

  // On the main loop's thread: where the listener is, in stream frames.
  static void OnTiming(pa_stream* stream, int success, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_timing_info* info = success ? self->pa_->StreamGetTimingInfo(stream) : nullptr;
    if (!info || info->read_index_corrupt || !info->playing) return;
    // Clicks are written beyond the read index (frames behind it would
    // need the sink to rewind, which not every sink does); the clock
    // follows the frame heard.
    const StreamPosition p = PositionOf(*info, kFrameBytes, self->rate_, steadyNowMicros());
    self->sinkMicros_.store(static_cast<Micros>(info->sink_usec), std::memory_order_relaxed);
    self->readFrame_ = p.readFrame;
    self->readAt_ = p.at;
    self->Target().Position_RT(p.heardFrame, p.at);
  }

  // The stream's queue ran dry: the next report, asked for at once, tells
  // the clock whether its frames moved (without a prebuffer the server plays
  // on in silence, and they keep their moments).
  static void OnUnderflow(pa_stream* stream, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    self->Target().Underrun_RT();
    pa_operation* op = self->pa_->StreamUpdateTimingInfo(stream, &PulseBackend::OnTiming, self);
    if (op) self->pa_->OperationUnref(op);
  }

  const PulseLibrary* pa_ = nullptr;  // held from Open to Close
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_time_event* tick_ = nullptr;
  bool timedOut_ = false;   // Await's time ran out
  std::string serverName_;  // set while opening
  int frames_ = 0;
  int rate_ = kFallbackRate;
  std::atomic<Micros> sinkMicros_{0};  // the sink's latency, last reported
  // Under the main loop's lock:
  std::int64_t queueEnd_ = 0;     // stream frame after the last one written
  std::int64_t guardFrames_ = 0;  // kGuardMicros at the stream's rate
  std::vector<float> guarded_;    // a click and the silence sent with it
  double readFrame_ = 0;          // the sink's read index, last reported...
  Micros readAt_ = 0;             // ...at this steady time (0: none yet)
};

}  // namespace

std::unique_ptr<AudioBackend> MakeBackend() {
  return std::make_unique<PulseBackend>();
}

}  // namespace pendlo::sound::output::pulse
