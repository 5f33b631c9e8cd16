// The PipeWire output: a mono playback stream whose process callback runs on
// PipeWire's real-time data thread, once per cycle of the graph. Each cycle
// hands the player the graph's own timeline (its frame count and the
// driver's time of the cycle), which the beat's clock follows, so every
// click lands on its exact frame without a queue of our own in the way.
#include <errno.h>
#include <spa/utils/dict.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sound/output/audio_backend.h"
#include "sound/output/pipewire/pipewire_library.h"
#include "sound/output/server_output.h"
#include "sound/output/stream_names.h"

namespace pendlo::sound::output::pipewire {
namespace {

// Mono: the clicks are mono, and a stereo stream folded down on a mono
// device gains 3 dB, which clips the accent and flattens the accent/plain
// ratio.
constexpr int kChannels = 1;
constexpr int kStride = kChannels * static_cast<int>(sizeof(float));
// The quantum asked for. A decision is heard once the buffer in the
// callback's hands has played (a take-back reaches every later one), so a
// cycle of 21.3 ms keeps that under 25 ms while the node, and the graph
// with it, wakes 47 times a second instead of 187.
constexpr int kQuantum = 1024;
// A daemon that hangs must not hold up start-up (or a reconnect) for long.
constexpr std::int64_t kConnectTimeoutNanos = 1'500'000'000;

class PipeWireBackend final : public ServerOutput {
 public:
  ~PipeWireBackend() override { Close(); }

  void Start() override { SetStarted(true); }

  void Close() override {
    if (loop_ != nullptr) StopLoop();
    SetStarted(false);
    Release();
  }

  // A new stream's first cycle comes within a few milliseconds of Open and
  // the clock joins it there: the first click after Start, a beat later, is
  // on its frame (bench/click_timing --rest at 600 BPM).
  bool ReleasableAtRest() const override { return true; }

  void SetActive(bool active) override {
    if (loop_ == nullptr) return;
    pw_->ThreadLoopLock(loop_);
    // Off the graph while paused: the data thread is no longer woken every
    // cycle.
    if (stream_ != nullptr) pw_->StreamSetActive(stream_, active);
    pw_->ThreadLoopUnlock(loop_);
  }

  int BufferFrames() const override { return frames_.load(std::memory_order_relaxed); }
  Micros DeviceLatencyMicros() const override { return delay_.load(std::memory_order_relaxed); }
  std::string Name() const override { return "pipewire"; }

 private:
  bool AcquireLibrary(std::string& error) override {
    // Without a daemon's socket there is nothing to ask: the library is not
    // loaded just to be refused.
    if (!PipeWireSocketPresent()) {
      error = std::string("no PipeWire daemon: ") + std::strerror(ENOENT);
      return false;
    }
    pw_ = AcquirePipeWire(&error);
    return pw_ != nullptr;
  }

  bool StartLoop(std::string& error) override {
    synced_ = false;
    failed_ = false;
    graphRate_ = 0;
    frames_ = 0;
    counted_ = 0;
    loop_ = pw_->ThreadLoopNew("pendlo-pipewire", nullptr);
    if (loop_ == nullptr) return Refuse(error, "no PipeWire loop");
    context_ = NewPlaybackContext(*pw_, pw_->ThreadLoopGetLoop(loop_));
    if (context_ == nullptr || pw_->ThreadLoopStart(loop_) < 0) {
      return Refuse(error, "no PipeWire context");
    }
    return true;
  }
  void LockLoop() override { pw_->ThreadLoopLock(loop_); }
  void UnlockLoop() override { pw_->ThreadLoopUnlock(loop_); }

  // Takes the stream and the connection down, then the loop and its thread.
  void StopLoop() {
    pw_->ThreadLoopLock(loop_);
    if (stream_ != nullptr) {
      // Takes the node off the data thread: no process callback after it.
      pw_->StreamDestroy(stream_);
      stream_ = nullptr;
    }
    if (core_ != nullptr) {
      spa_hook_remove(&coreListener_);
      pw_->CoreDisconnect(core_);
      core_ = nullptr;
    }
    pw_->ThreadLoopUnlock(loop_);
    pw_->ThreadLoopStop(loop_);
    if (context_ != nullptr) {
      pw_->ContextDestroy(context_);
      context_ = nullptr;
    }
    pw_->ThreadLoopDestroy(loop_);
    loop_ = nullptr;
  }

  // Lets the library go once nothing made with it is left; a refused or
  // closed output does not keep it mapped.
  void Release() {
    if (pw_ == nullptr) return;
    pw_ = nullptr;
    ReleasePipeWire();
  }

  // Waits, with the loop locked, until `ready`, a failure or the timeout.
  template <class Ready>
  bool Await(Ready ready) {
    timespec until{};
    pw_->ThreadLoopGetTime(loop_, &until, kConnectTimeoutNanos);
    return AwaitServer(
        ready, [&] { return failed_ || Lost(); },
        [&] { return pw_->ThreadLoopTimedWaitFull(loop_, &until) == 0; });
  }

  bool ConnectStream(const StreamRequest& request, clips::StreamFormat& format,
                     std::string& error) override {
    (void)request;  // the graph sets the cycle; see kQuantum
    core_ = pw_->ContextConnect(context_, nullptr, 0);
    if (core_ == nullptr) {
      error = std::string("no PipeWire daemon: ") + std::strerror(errno);
      return false;
    }
    // PipeWire's method macros cast in C style.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
    pw_core_add_listener(core_, &coreListener_, &kCoreEvents, this);
    // One round trip proves the daemon answers, and brings its clock rate.
    syncSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
#pragma GCC diagnostic pop
    if (!Await([&] { return synced_; })) {
      error = "the PipeWire daemon does not answer";
      return false;
    }
    MarkAnswered();
    const int rate = PlayableRate(graphRate_);
    rate_ = rate;

    const std::string latency = std::to_string(kQuantum) + "/" + std::to_string(rate);
    pw_properties* props = pw_->PropertiesNew(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, kApplicationName, PW_KEY_APP_ID, kApplicationId, PW_KEY_NODE_NAME,
        "pendlo", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    stream_ = pw_->StreamNew(core_, kStreamName, props);
    if (stream_ == nullptr) {
      error = "no PipeWire stream";
      return false;
    }
    pw_->StreamAddListener(stream_, &streamListener_, &kStreamEvents, this);

    if (!ConnectFloatStream(*pw_, stream_, PW_DIRECTION_OUTPUT, rate, kChannels)) {
      error = "the PipeWire stream cannot connect";
      return false;
    }
    // Linked to a sink by the session manager: without one nothing would
    // ever play, and another output serves better.
    if (!Await([&] {
          const pw_stream_state s = pw_->StreamGetState(stream_, nullptr);
          return s == PW_STREAM_STATE_PAUSED || s == PW_STREAM_STATE_STREAMING;
        })) {
      const char* why = nullptr;
      pw_->StreamGetState(stream_, &why);
      error = why != nullptr ? why : "the PipeWire stream is not linked to a sink";
      return false;
    }
    frames_ = kQuantum;
    format = clips::StreamFormat{rate, kChannels};
    return true;
  }

  static void OnCoreInfo(void* data, const pw_core_info* info) {
    auto* self = static_cast<PipeWireBackend*>(data);
    const char* rate = info->props ? spa_dict_lookup(info->props, "default.clock.rate") : nullptr;
    if (rate != nullptr) self->graphRate_ = std::atoi(rate);
  }

  static void OnCoreDone(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<PipeWireBackend*>(data);
    if (id == PW_ID_CORE && seq == self->syncSeq_) self->synced_ = true;
    self->pw_->ThreadLoopSignal(self->loop_, false);
  }

  // On the loop's thread. The connection broke: the daemon went away.
  static void OnCoreError(void* data, std::uint32_t id, int, int res, const char*) {
    auto* self = static_cast<PipeWireBackend*>(data);
    if (id != PW_ID_CORE) return;
    self->failed_ = true;
    if (res == -EPIPE) self->OnLost();
    self->pw_->ThreadLoopSignal(self->loop_, false);
  }

  static void OnStreamState(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto* self = static_cast<PipeWireBackend*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
      self->failed_ = true;
      self->OnLost();
    } else if (state == PW_STREAM_STATE_UNCONNECTED && self->Started()) {
      self->OnLost();
    }
    self->pw_->ThreadLoopSignal(self->loop_, false);
  }

  // On the loop's thread: tell the player once. The data thread no longer
  // calls back (the graph that drove it is gone); the acquire pairs with the
  // release at the end of each cycle.
  void OnLost() {
    (void)cycles_.load(std::memory_order_acquire);
    ReportLost();
  }

  // On PipeWire's data thread, once per cycle: no allocation, lock or I/O.
  static void OnProcess(void* data) {
    auto* self = static_cast<PipeWireBackend*>(data);
    // Without rtkit or a realtime module the library leaves its data
    // thread at normal priority, where a busy machine makes it miss cycles;
    // a priority it was given is kept.
    self->Raise().OnCallback(AudioThreadRaise::Given::kKeep);
    const PipeWireLibrary& pw = *self->pw_;
    pw_buffer* b = pw.StreamDequeueBuffer(self->stream_);
    if (b == nullptr) return;
    spa_data& d = b->buffer->datas[0];
    if (d.data == nullptr || d.chunk == nullptr) {
      pw.StreamQueueBuffer(self->stream_, b);
      return;
    }
    auto* out = static_cast<float*>(d.data);
    int frames = static_cast<int>(d.maxsize / kStride);
    if (b->requested > 0) frames = std::min(frames, static_cast<int>(b->requested));
    pw_time t{};
    pw.StreamGetTimeN(self->stream_, &t, sizeof t);
    if (self->Started() && !self->Lost()) {
      GraphCycle cycle;
      cycle.frame = self->counted_;
      cycle.at = t.now > 0 ? t.now / 1000 : steadyNowMicros();
      // When the rates agree the graph's count dates the buffer: the count
      // read here, also when it is not where the last buffer ended. When the
      // machine stalls and the graph runs cycles without us, the count jumps
      // and so do we, so the clicks after the gap keep their frames. A
      // callback that ran a cycle late can read the same count as the one
      // right after it; that one's buffer still plays at the count, not
      // after the previous buffer (measured on the graph's own recording of
      // the sink). Otherwise (the stream is resampled) the frames counted
      // here date it.
      if (t.rate.num == 1 && static_cast<int>(t.rate.denom) == self->rate_ && t.now > 0) {
        cycle.frame = static_cast<std::int64_t>(t.ticks);
        cycle.at = t.now / 1000;  // the driver's time of the cycle's first frame
      }
      if (t.rate.denom > 0) {
        cycle.delayMicros = t.delay * 1'000'000 * t.rate.num / t.rate.denom;
      }
      self->delay_.store(cycle.delayMicros, std::memory_order_relaxed);
      self->frames_.store(frames, std::memory_order_relaxed);
      self->Target().Cycle_RT(out, frames, cycle);
    } else {
      std::memset(out, 0, static_cast<std::size_t>(frames) * kStride);
    }
    self->counted_ += frames;
    d.chunk->offset = 0;
    d.chunk->stride = kStride;
    d.chunk->size = static_cast<std::uint32_t>(frames * kStride);
    pw.StreamQueueBuffer(self->stream_, b);
    self->cycles_.fetch_add(1, std::memory_order_release);
  }

  static constexpr pw_core_events MakeCoreEvents() {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.info = &OnCoreInfo;
    e.done = &OnCoreDone;
    e.error = &OnCoreError;
    return e;
  }
  static constexpr pw_stream_events MakeStreamEvents() {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = &OnStreamState;
    e.process = &OnProcess;
    return e;
  }
  static const pw_core_events kCoreEvents;
  static const pw_stream_events kStreamEvents;

  const PipeWireLibrary* pw_ = nullptr;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  spa_hook coreListener_{};
  spa_hook streamListener_{};
  // Under the loop's lock (or its thread):
  bool synced_ = false;
  bool failed_ = false;
  int syncSeq_ = 0;
  int graphRate_ = 0;
  int rate_ = kFallbackRate;
  // Data thread:
  std::int64_t counted_ = 0;  // frames rendered since the stream opened
  std::atomic<std::uint64_t> cycles_{0};
  std::atomic<int> frames_{0};
  std::atomic<Micros> delay_{0};
};

const pw_core_events PipeWireBackend::kCoreEvents = PipeWireBackend::MakeCoreEvents();
const pw_stream_events PipeWireBackend::kStreamEvents = PipeWireBackend::MakeStreamEvents();

}  // namespace

std::unique_ptr<AudioBackend> MakeBackend() {
  return std::make_unique<PipeWireBackend>();
}

}  // namespace pendlo::sound::output::pipewire
