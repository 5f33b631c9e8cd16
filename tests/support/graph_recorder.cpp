#include "support/graph_recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "sound/output/audio_thread.h"
#include "sound/output/pipewire/pipewire_library.h"
#include "support/watched.h"

namespace pendlo::testing {

using namespace sound::output::pipewire;  // the recorder is a PipeWire client of its own

struct GraphRecorder::Stream {
  const PipeWireLibrary* pw = nullptr;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  std::string sink;
  int rate = 48000;
  std::vector<float> samples;  // mono, indexed by the graph's frame count from the first buffer
  // Data thread only:
  bool raised = false;
  bool based = false;
  std::int64_t base = 0;
  std::int64_t next = 0;
  // Published by the data thread (release) for Stop and Gaps (acquire).
  std::atomic<std::int64_t> end{-1};
  std::atomic<int> gaps{0};
  // Told once, by the first buffer: Start waits for it.
  Watched began;
  std::atomic<bool> begun{false};

  static void OnProcess(void* data) {
    auto* self = static_cast<Stream*>(data);
    if (!self->raised) {
      self->raised = true;
      sound::output::RaiseAudioThreadToRealtime();
    }
    pw_buffer* b = self->pw->StreamDequeueBuffer(self->stream);
    if (b == nullptr) return;
    const spa_data& d = b->buffer->datas[0];
    pw_time t{};
    self->pw->StreamGetTimeN(self->stream, &t, sizeof t);
    if (d.data != nullptr && d.chunk != nullptr) {
      const auto* in = static_cast<const float*>(d.data) + d.chunk->offset / sizeof(float);
      const std::int64_t frames = d.chunk->size / (2 * sizeof(float));
      // The graph's count dates the buffer when it counts at our rate;
      // otherwise the buffers are laid end to end.
      const bool dated = t.rate.num == 1 && static_cast<int>(t.rate.denom) == self->rate;
      std::int64_t at = dated ? static_cast<std::int64_t>(t.ticks) : self->next;
      const bool first = !self->based;
      if (first) {
        self->based = true;
        self->base = at;
      } else if (at != self->next) {
        self->gaps.fetch_add(1, std::memory_order_relaxed);
      }
      self->next = at + frames;
      at -= self->base;
      const auto room = static_cast<std::int64_t>(self->samples.size());
      for (std::int64_t i = 0; i < frames && at + i < room; ++i) {
        if (at + i >= 0) self->samples[at + i] = 0.5F * (in[2 * i] + in[2 * i + 1]);
      }
      const std::int64_t reached = std::min(at + frames, room);
      if (reached > self->end.load(std::memory_order_relaxed)) {
        self->end.store(reached, std::memory_order_release);
      }
      if (first) self->Begin();
    }
    self->pw->StreamQueueBuffer(self->stream, b);
  }

  // The recorder's data thread takes the watch's lock once, at its first
  // buffer.
  void Begin() {
    begun = true;
    began.Changed();
  }

  static constexpr pw_stream_events MakeEvents() {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.process = &OnProcess;
    return e;
  }
  static const pw_stream_events kEvents;

  bool Connect(std::string* error) {
    core = pw->ContextConnect(context, nullptr, 0);
    if (core == nullptr) {
      *error = "no PipeWire daemon";
      return false;
    }
    // The sink's monitor, as the session manager links a capture of a sink.
    // The recorder asks for no small cycle: the program under test sets it.
    pw_properties* props = pw->PropertiesNew(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_NODE_NAME,
        "pendlo-recorder", PW_KEY_TARGET_OBJECT, sink.c_str(), PW_KEY_STREAM_CAPTURE_SINK, "true",
        PW_KEY_NODE_LATENCY, ("1024/" + std::to_string(rate)).c_str(), nullptr);
    stream = pw->StreamNew(core, "Recorder", props);
    if (stream == nullptr) {
      *error = "no PipeWire stream";
      return false;
    }
    pw->StreamAddListener(stream, &listener, &kEvents, this);
    if (!ConnectFloatStream(*pw, stream, PW_DIRECTION_INPUT, rate, 2)) {
      *error = "the recorder's stream cannot connect";
      return false;
    }
    return true;
  }

  void Close() {
    if (loop == nullptr) return;
    pw->ThreadLoopLock(loop);
    if (stream != nullptr) pw->StreamDestroy(stream);
    stream = nullptr;
    if (core != nullptr) pw->CoreDisconnect(core);
    core = nullptr;
    pw->ThreadLoopUnlock(loop);
    pw->ThreadLoopStop(loop);
    if (context != nullptr) pw->ContextDestroy(context);
    context = nullptr;
    pw->ThreadLoopDestroy(loop);
    loop = nullptr;
  }
};

const pw_stream_events GraphRecorder::Stream::kEvents = GraphRecorder::Stream::MakeEvents();

GraphRecorder::GraphRecorder(std::string sink, int rate, int seconds)
    : stream_(std::make_unique<Stream>()) {
  stream_->sink = std::move(sink);
  stream_->rate = rate;
  stream_->samples.assign(static_cast<std::size_t>(rate) * seconds, 0.0F);
}

GraphRecorder::~GraphRecorder() {
  Stop();
}

bool GraphRecorder::Start(std::string* error) {
  std::string why;
  Stream& s = *stream_;
  s.pw = LoadPipeWire(&why);
  if (s.pw != nullptr) {
    s.loop = s.pw->ThreadLoopNew("pendlo-recorder", nullptr);
    s.context = s.loop ? s.pw->ContextNew(s.pw->ThreadLoopGetLoop(s.loop), nullptr, 0) : nullptr;
    if (s.context == nullptr || s.pw->ThreadLoopStart(s.loop) < 0) {
      why = "no PipeWire loop";
    } else {
      s.pw->ThreadLoopLock(s.loop);
      const bool connected = s.Connect(&why);
      s.pw->ThreadLoopUnlock(s.loop);
      // Recording has begun once the first buffer came: whatever plays from
      // now on is on the recording.
      if (connected && s.began.Await([&] { return s.begun.load(); }, std::chrono::seconds(10)))
        return true;
      if (connected) why = "the recorder got nothing for 10 s";
    }
  }
  s.Close();
  if (error) *error = why;
  return false;
}

std::vector<float> GraphRecorder::Stop() {
  if (stream_->loop == nullptr) return {};
  stream_->Close();
  const std::int64_t end = stream_->end.load(std::memory_order_acquire);
  std::vector<float> out(stream_->samples.begin(),
                         stream_->samples.begin() + std::max<std::int64_t>(end, 0));
  return out;
}

int GraphRecorder::Gaps() const {
  return stream_->gaps.load(std::memory_order_relaxed);
}

}  // namespace pendlo::testing
