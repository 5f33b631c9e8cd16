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
#include "sound/output/pulse/silence_queue.h"
#include "sound/output/pulse/timing_report.h"
#include "sound/output/server_output.h"
#include "sound/output/stream_names.h"

namespace pendlo::sound::output::pulse {
namespace {

// Connecting to a server that hangs must not hold up start-up for long.
constexpr pa_usec_t kConnectMicros = 3'000'000;
// How much of its queue (kQueueMicros) the server asks for at once.
constexpr Micros kRequestMicros = 345'000;
// How often the queue is topped up and the sink's position asked for.
constexpr Micros kTickMicros = 400'000;

class PulseBackend final : public ServerOutput, private ClickQueue {
 public:
  ~PulseBackend() override { Close(); }

  void Start() override {
    if (!stream_) return;
    pa_->ThreadedMainloopLock(loop_);
    SetStarted(true);
    queue_.Refill(stream_);
    pa_operation* op = pa_->StreamCork(stream_, 0, nullptr, nullptr);
    if (op) pa_->OperationUnref(op);
    op = pa_->StreamUpdateTimingInfo(stream_, &PulseBackend::OnTiming, this);
    if (op) pa_->OperationUnref(op);
    pa_->ThreadedMainloopUnlock(loop_);
  }

  // Corked at rest, the stream leaves its sink idle, and the server's
  // suspend-on-idle lets the card sleep; the main loop's tick stops, so
  // neither the program nor the server wakes for it. Uncorked, the sink
  // reads on from the frame where it stopped, at its next block: the clock
  // joins the stream there before any click of the new beat is written.
  void SetActive(bool active) override {
    if (!stream_ || active != corked_) return;
    pa_->ThreadedMainloopLock(loop_);
    if (!active) {
      corked_ = true;
      // Where the sink stopped, as the clock has it, unless the server says
      // better: what it had taken and not played went back to the stream.
      queue_.Hold(queue_.Reading());
      AwaitOperation(pa_->StreamCork(stream_, 1, &PulseBackend::OnSuccess, this));
      AwaitOperation(pa_->StreamUpdateTimingInfo(stream_, &PulseBackend::OnPausedTiming, this));
    } else {
      corked_ = false;
      const Micros now = steadyNowMicros();
      const double frame = queue_.Reading();
      // The sink reads on from `frame`; it is heard a sink's latency later,
      // as the reports will say.
      Target().Resumed_RT(
          HeardFrame(frame, sinkMicros_.load(std::memory_order_relaxed), queue_.Rate()), now);
      queue_.Read(frame, now);
      queue_.Refill(stream_);
      pa_operation* op = pa_->StreamCork(stream_, 0, nullptr, nullptr);
      if (op) pa_->OperationUnref(op);
      op = pa_->StreamUpdateTimingInfo(stream_, &PulseBackend::OnTiming, this);
      if (op) pa_->OperationUnref(op);
      pa_->ContextRttimeRestart(context_, tick_, pa_->RtclockNow() + kTickMicros);
    }
    pa_->ThreadedMainloopUnlock(loop_);
  }

  void Close() override {
    if (loop_) pa_->ThreadedMainloopStop(loop_);  // no callback runs after this
    corked_ = false;
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
      queue_.WriteAt(stream_, first, data, frames);
    }
    pa_->ThreadedMainloopUnlock(loop_);
  }

 private:
  bool AcquireLibrary(std::string& error) override {
    pa_ = AcquirePulse(&error);
    return pa_ != nullptr;
  }

  bool StartLoop(std::string& error) override {
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
    // Before the stream connects: the server's first request, answered on
    // the main loop's thread, fills the queue at the stream's rate.
    queue_.Begin(pa_, rate);

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
    static_cast<PulseBackend*>(user)->queue_.Refill(stream);
  }

  // On the main loop's thread, every kTickMicros: refill, and ask where the
  // sink stands.
  static void OnTick(pa_mainloop_api*, pa_time_event* event, const timeval*, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    self->Raise().OnCallback();  // once per stream, on its own thread
    if (self->stream_ && self->pa_->StreamGetState(self->stream_) == PA_STREAM_READY) {
      self->queue_.Refill(self->stream_);
      pa_operation* op =
          self->pa_->StreamUpdateTimingInfo(self->stream_, &PulseBackend::OnTiming, self);
      if (op) self->pa_->OperationUnref(op);
    }
    // A corked stream needs neither (SetActive starts the tick again).
    if (!self->corked_)
      self->pa_->ContextRttimeRestart(self->context_, event, self->pa_->RtclockNow() + kTickMicros);
  }

  // On the main loop's thread: where the listener is, in stream frames.
  static void OnTiming(pa_stream* stream, int success, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_timing_info* info = success ? self->pa_->StreamGetTimingInfo(stream) : nullptr;
    if (!info || info->read_index_corrupt || !info->playing) return;
    // Clicks are written beyond the read index (frames behind it would
    // need the sink to rewind, which not every sink does); the clock
    // follows the frame heard.
    const StreamPosition p = PositionOf(*info, kFrameBytes, self->queue_.Rate(), steadyNowMicros());
    self->sinkMicros_.store(static_cast<Micros>(info->sink_usec), std::memory_order_relaxed);
    self->queue_.Read(p.readFrame, p.at);
    if (self->Target().Position_RT(p.heardFrame, p.at)) {
      pa_operation* op = self->pa_->StreamUpdateTimingInfo(stream, &PulseBackend::OnTiming, self);
      if (op) self->pa_->OperationUnref(op);
    }
  }

  static void OnSuccess(pa_stream*, int, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    self->pa_->ThreadedMainloopSignal(self->loop_, 0);
  }

  // On the main loop's thread, once corked: the frame the sink reads on
  // from when the stream is uncorked.
  static void OnPausedTiming(pa_stream* stream, int success, void* user) {
    auto* self = static_cast<PulseBackend*>(user);
    const pa_timing_info* info = success ? self->pa_->StreamGetTimingInfo(stream) : nullptr;
    if (info && !info->read_index_corrupt) {
      self->queue_.Hold(static_cast<double>(info->read_index) / kFrameBytes);
    }
    self->pa_->ThreadedMainloopSignal(self->loop_, 0);
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
  std::atomic<Micros> sinkMicros_{0};  // the sink's latency, last reported
  bool corked_ = false;                // supervisor: paused at rest
  SilenceQueue queue_;                 // under the main loop's lock
};

}  // namespace

std::unique_ptr<AudioBackend> MakeBackend() {
  return std::make_unique<PulseBackend>();
}

}  // namespace pendlo::sound::output::pulse
