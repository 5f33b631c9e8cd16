#include "sound/feed/stream_feed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "sound/link/sound_link.h"

namespace pendlo::sound::feed {
namespace {

// Clicks kept while a rested output reopens.
constexpr std::size_t kWaitingKept = 16;
// How long a write into a server's queue may take, beyond its margin.
constexpr Micros kQueueWriteMicros = 2000;

}  // namespace

StreamFeed::StreamFeed(FeedOptions options, clock::AudioClock::SteadySource steady)
    : options_(options),
      clock_(std::make_shared<clock::AudioClock>(steady)),
      clicks_(options.limits),
      writes_(clock_, options.queueMarginMicros) {}

void StreamFeed::Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
                       Micros knownLatency) {
  std::lock_guard producer(producer_);
  clicks_.SetFormat(format);
  mixer_.Reset(0);
  graphQuantum_ = 0;
  held_.clear();
  channels_ = format.channels;
  queue_ = queue;
  writes_.Attach(queue, format.rate, format.channels);
  clock_->BeginStream(format.rate);
  callbacks_.Begin(options_.serverBufferMicros);
  // A graph's output sets its lookahead from its first cycle (Cycle_RT).
  lookahead_ = options_.wakeMarginMicros + (queue ? options_.queueMarginMicros + kQueueWriteMicros
                                                  : options_.callbackAheadMicros);
  // Not visible through SDL: PulseAudio reports three quarters of the
  // stream's target buffer for such streams, plus about 1 ms in the sink.
  const double target = options_.serverBufferMicros > 0
                            ? static_cast<double>(options_.serverBufferMicros)
                            : frames * 1e6 / format.rate;
  deviceMicros_ =
      knownLatency > 0 ? knownLatency : static_cast<Micros>(std::llround(0.75 * target)) + 1000;
  bufferFrames_ = frames;
  rate_ = format.rate;
  lost_ = false;
  live_ = true;
  parked_ = false;
  // Clicks queued while the output reopened: into the new stream now,
  // before its first callback. Only an output whose callbacks render the
  // clicks is closed at rest (AudioBackend::ReleasableAtRest).
  for (const auto& [path, due] : std::exchange(waiting_, {})) {
    std::shared_ptr<const clips::SoundClip> clip = clicks_.Get(path);
    if (queue == nullptr) HoldClip(clip, mixer_.Schedule(clip.get(), due));
  }
}

void StreamFeed::Park(bool keep) {
  std::lock_guard producer(producer_);
  parked_ = keep;
  waiting_.clear();
}

void StreamFeed::Stop() {
  {
    std::lock_guard producer(producer_);
    live_ = false;
  }
  writes_.Detach();  // the writes under way end first
}

void StreamFeed::End() {
  std::lock_guard producer(producer_);
  queue_ = nullptr;
  mixer_.Reset(0);
  held_.clear();
  clock_->EndStream();
  rate_ = 0;
}

void StreamFeed::HoldClip(std::shared_ptr<const clips::SoundClip> clip, std::uint64_t seq) {
  // Keep every clip the callback may still read; release the rest here, on
  // this thread, never in the callback.
  const std::uint64_t done = mixer_.DoneBefore();
  std::erase_if(held_, [&](const auto& h) { return h.second < done && h.first != clip; });
  if (seq == 0) return;
  auto it = std::find_if(held_.begin(), held_.end(), [&](auto& h) { return h.first == clip; });
  if (it == held_.end()) {
    held_.emplace_back(std::move(clip), seq);
  } else {
    it->second = seq;
  }
}

bool StreamFeed::Play(const std::string& path, Micros due) {
  std::unique_lock producer(producer_);
  if (!live_.load(std::memory_order_relaxed)) {
    // A few beats at most pass while a rested output opens again.
    if (parked_ && waiting_.size() < kWaitingKept) waiting_.emplace_back(path, due);
    return true;
  }
  if (lost_.load(std::memory_order_relaxed)) return true;
  std::shared_ptr<const clips::SoundClip> clip = clicks_.Get(path);
  if (writes_.Attached()) {
    producer.unlock();
    const std::optional<Micros> slack = writes_.Write(*clip, due);
    if (!slack) return false;
    plays_.fetch_add(1, std::memory_order_relaxed);
    NoteSlack(*slack);
    return true;
  }
  const Micros slack = due - clock_->RenderedUpTo();
  if (slack < -link::kLateClickGraceMicros) return false;
  plays_.fetch_add(1, std::memory_order_relaxed);
  HoldClip(clip, mixer_.Schedule(clip.get(), due));
  producer.unlock();
  NoteSlack(slack);
  return true;
}

void StreamFeed::NoteSlack(Micros slack) {
  Micros least = minSlack_.load(std::memory_order_relaxed);
  while (slack < least && !minSlack_.compare_exchange_weak(least, slack)) {
  }
}

Micros StreamFeed::TakeBack(Micros from) {
  {
    std::lock_guard producer(producer_);
    std::erase_if(waiting_, [&](const auto& w) { return w.second >= from; });
  }
  return writes_.Attached() ? writes_.TakeBack(from) : mixer_.TakeBack(from);
}

void StreamFeed::Position_RT(double frame, Micros at) {
  positions_.OnPosition_RT(frame, at);
}

void StreamFeed::Underrun_RT() {
  positions_.OnUnderrun_RT();
}

void StreamFeed::Render_RT(float* out, int frames, Micros at) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = callbacks_.OnBuffer_RT(frames, at);
  if (clock_->Anchors() != anchors) mixer_.SkipBefore_RT(first, *clock_);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, *clock_);
}

void StreamFeed::Cycle_RT(float* out, int frames, const output::GraphCycle& cycle) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = cycles_.OnCycle_RT(cycle.frame, frames, cycle.at);
  // After a new timeline the clicks due meanwhile are stale: dropped, not
  // started in a heap. After cycles that passed us by, only those more than
  // kLateClickGraceMicros late are; the rest start at once.
  if (clock_->Anchors() != anchors) {
    mixer_.SkipBefore_RT(first, *clock_);
  } else if (first != graphNext_) {
    passedBy_.fetch_add(1, std::memory_order_relaxed);
    const int rate = rate_.load(std::memory_order_relaxed);
    mixer_.SkipBefore_RT(first - link::kLateClickGraceMicros * rate / 1'000'000, *clock_);
  }
  graphNext_ = first + frames;
  // The lookahead covers one cycle, whatever size the server gives; it
  // moves only when the cycle really changes, not when a resampled stream's
  // cycles differ by a frame.
  if (std::abs(frames - graphQuantum_) > graphQuantum_ / 8) {
    graphQuantum_ = frames;
    const int rate = rate_.load(std::memory_order_relaxed);
    lookahead_.store(options_.wakeMarginMicros + static_cast<Micros>(frames * 1'000'000LL / rate),
                     std::memory_order_relaxed);
  }
  deviceMicros_.store(cycle.delayMicros, std::memory_order_relaxed);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, *clock_);
}

void StreamFeed::Lost_RT(float* out, int frames, Micros at) {
  std::memset(
      out, 0,
      static_cast<std::size_t>(frames) * channels_.load(std::memory_order_relaxed) * sizeof(float));
  clock_->OnLost_RT(at);
  mixer_.Discard_RT();
  lost_.store(true, std::memory_order_release);
  // The supervisor reopens the output at its next look.
}

Micros StreamFeed::DeviceMicros() const {
  // A queue knows its sink's latency as it changes.
  const output::ClickQueue* queue = queue_.load(std::memory_order_relaxed);
  return queue ? queue->LatencyMicros() : deviceMicros_.load();
}

Micros StreamFeed::HeardAtSteady(Micros due) const {
  if (!clock_->Streaming()) return clock_->SteadyAt(due);
  return clock_->SteadyAt(due) + DeviceMicros();
}

FeedStats StreamFeed::Stats() const {
  FeedStats s;
  s.plays = plays_.load();
  s.late = mixer_.LateOnsets() + writes_.Late();
  s.dropped = mixer_.Dropped();
  s.takenBack = mixer_.TakenBack() + writes_.TakenBack();
  s.anchors = clock_->Anchors();
  s.buffers = buffers_.load();
  s.passedBy = passedBy_.load();
  const Micros least = minSlack_.load();
  s.minSlackMicros = least == INT64_MAX ? 0 : least;
  s.bufferFrames = bufferFrames_.load();
  s.format = clips::StreamFormat{rate_.load(), channels_.load()};
  s.writesIntoQueue = queue_.load() != nullptr;
  s.lookaheadMicros = lookahead_.load();
  s.deviceMicros = DeviceMicros();
  return s;
}

}  // namespace pendlo::sound::feed
