#include "sound/click_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pendlo {
namespace {

// A click this late after cycles of the graph that passed the stream by is
// dropped rather than started off its beat.
constexpr Micros kStaleMicros = 20000;
// A reopened output that plays this long without failing has come back.
constexpr auto kSettle = std::chrono::seconds(2);

}  // namespace

ClickPlayer::ClickPlayer(std::unique_ptr<AudioBackend> backend, PlayerOptions options,
                         AudioClock::SteadySource steady)
    : backend_(std::move(backend)),
      options_(options),
      clock_(std::make_shared<AudioClock>(steady)),
      clicks_(options.limits),
      writes_(clock_) {
  supervisor_ = std::thread([this] { Supervise(); });
}

ClickPlayer::~ClickPlayer() {
  Close();
  {
    std::lock_guard lock(state_);
    stop_ = true;
  }
  wake_.notify_all();
  supervisor_.join();
}

void ClickPlayer::SetOnFailure(std::function<void()> onFailure) {
  std::lock_guard lock(report_);
  onFailure_ = std::move(onFailure);
}

bool ClickPlayer::EnsureOpen() {
  std::unique_lock lock(state_);
  wanted_ = true;
  if (open_.load() && !lost_.load()) return true;
  // Reopening a lost output can take a second with a server that hangs:
  // never wait for it.
  if (busy_) return false;
  openAsked_ = true;
  const std::uint64_t ask = served_;
  wake_.notify_all();
  done_.wait(lock, [&] { return served_ != ask || stop_; });
  return opened_;
}

void ClickPlayer::Close() {
  std::unique_lock lock(state_);
  wanted_ = false;
  closeAsked_ = true;
  const std::uint64_t ask = served_;
  wake_.notify_all();
  done_.wait(lock, [&] { return served_ != ask || stop_; });
}

void ClickPlayer::Rest(bool resting) {
  restingSince_.store(steadyNowMicros(), std::memory_order_relaxed);
  resting_.store(resting, std::memory_order_release);
  {
    std::lock_guard lock(state_);
    restChanged_ = true;
  }
  wake_.notify_all();
}

void ClickPlayer::Supervise() {
  std::unique_lock lock(state_);
  while (!stop_) {
    const auto asked = [this] { return stop_ || openAsked_ || closeAsked_ || restChanged_; };
    if (options_.reconnectMicros > 0) {
      wake_.wait_for(lock, std::chrono::microseconds(options_.reconnectMicros), asked);
    } else {
      wake_.wait(lock, asked);
    }
    if (stop_) break;
    const bool open = std::exchange(openAsked_, false);
    const bool close = std::exchange(closeAsked_, false);
    restChanged_ = false;
    // Reopening a lost output may take a second: EnsureOpen does not wait
    // for that.
    busy_ = !open && !close && wanted_ && options_.reconnectMicros > 0 &&
            (!open_.load() || lost_.load());
    lock.unlock();

    bool opened = false;
    if (close) {
      if (open_.load()) CloseOutput();
    } else if (open) {
      if (open_.load() && lost_.load()) CloseOutput();
      opened = open_.load() || OpenOutput(false);
    } else if (busy_) {
      ReopenLost();
    }
    ApplyRest();
    if (!lost_.load(std::memory_order_acquire)) {
      std::lock_guard report(report_);
      if (failing_ && open_.load() && std::chrono::steady_clock::now() > settleUntil_) {
        failing_ = false;
      }
    }

    lock.lock();
    busy_ = false;
    if (open || close) {
      opened_ = opened;
      ++served_;
      done_.notify_all();
    }
  }
  ++served_;
  done_.notify_all();
}

bool ClickPlayer::OpenOutput(bool reconnecting) {
  StreamFormat format;
  std::string error;
  const StreamRequest request{options_.bufferFrames, options_.serverBufferMicros};
  if (!backend_ || !backend_->Open(*this, request, format, error)) {
    Report(std::string(kNoSoundMessage) + (error.empty() ? "" : " (" + error + ")"));
    return false;
  }
  const int frames = backend_->BufferFrames();
  ClickQueue* queue = backend_->Queue();
  {
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
    lookahead_ = options_.wakeMarginMicros +
                 (queue ? options_.writeAheadMicros : options_.callbackAheadMicros);
    // Not visible through SDL: PulseAudio reports three quarters of the
    // stream's target buffer for such streams, plus about 1 ms in the sink.
    const double target = options_.serverBufferMicros > 0
                              ? static_cast<double>(options_.serverBufferMicros)
                              : frames * 1e6 / format.rate;
    const Micros known = backend_->DeviceLatencyMicros();
    deviceMicros_ = known > 0 ? known : static_cast<Micros>(std::llround(0.75 * target)) + 1000;
    bufferFrames_ = frames;
    rate_ = format.rate;
    lost_ = false;
    open_ = true;
    paused_ = false;  // a new stream runs until the next rest
  }
  {
    std::lock_guard lock(report_);
    // A server coming back may drop a new stream once more while it sets
    // itself up: that is still the same outage, said once. Failures count
    // as new again once the stream has played for a while.
    if (reconnecting) {
      settleUntil_ = std::chrono::steady_clock::now() + kSettle;
    } else {
      failing_ = false;
      pending_.clear();
    }
    output_ = backend_->Name();
  }
  backend_->Start();
  return true;
}

void ClickPlayer::CloseOutput() {
  {
    std::lock_guard producer(producer_);
    open_ = false;
  }
  writes_.Detach();   // the writes under way end first
  backend_->Close();  // no callback runs after this
  {
    std::lock_guard producer(producer_);
    queue_ = nullptr;
    mixer_.Reset(0);
    held_.clear();
    clock_->EndStream();
    rate_ = 0;
  }
  paused_ = false;  // nothing to wake
  std::lock_guard lock(report_);
  output_.clear();
}

bool ClickPlayer::Report(std::string message) {
  std::lock_guard lock(report_);
  if (failing_) return false;
  failing_ = true;
  pending_ = std::move(message);
  return true;
}

std::string ClickPlayer::TakeError() {
  if (open_.load() && lost_.load()) Report(kSoundLostMessage);
  std::lock_guard lock(report_);
  return std::exchange(pending_, {});
}

void ClickPlayer::ApplyRest() {
  if (!open_.load() || lost_.load()) return;
  const bool rest =
      options_.reconnectMicros > 0 && resting_.load(std::memory_order_acquire) &&
      steadyNowMicros() - restingSince_.load(std::memory_order_relaxed) >= options_.restAfterMicros;
  if (rest == paused_) return;
  paused_ = rest;
  backend_->SetActive(!rest);
}

void ClickPlayer::ReopenLost() {
  const bool lost = lost_.load();
  if (open_.load() && !lost) return;
  // Said once per loss; failed attempts after it add nothing.
  bool news = open_.load() && Report(kSoundLostMessage);
  if (open_.load()) CloseOutput();
  // Until a stream runs again the clock keeps time on the monotonic clock;
  // the new stream joins it where it stands, so the beat keeps its grid.
  lost_ = true;
  if (OpenOutput(true)) lost_ = false;
  std::function<void()> notify;
  {
    std::lock_guard lock(report_);
    news = news && !pending_.empty();
    if (news) notify = onFailure_;
  }
  if (notify) notify();
}

void ClickPlayer::HoldClip(std::shared_ptr<const SoundClip> clip, std::uint64_t seq) {
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

void ClickPlayer::Play(const std::string& path, Micros due) {
  if (!open_.load(std::memory_order_acquire) || lost_.load(std::memory_order_relaxed)) return;
  std::unique_lock producer(producer_);
  if (!open_.load(std::memory_order_relaxed)) return;
  std::shared_ptr<const SoundClip> clip = clicks_.Get(path);
  plays_.fetch_add(1, std::memory_order_relaxed);
  if (writes_.Attached()) {
    producer.unlock();
    NoteSlack(writes_.Write(*clip, due));
    return;
  }
  HoldClip(clip, mixer_.Schedule(clip.get(), due));
  producer.unlock();
  NoteSlack(due - clock_->RenderedUpTo());
}

void ClickPlayer::NoteSlack(Micros slack) {
  Micros least = minSlack_.load(std::memory_order_relaxed);
  while (slack < least && !minSlack_.compare_exchange_weak(least, slack)) {
  }
}

Micros ClickPlayer::TakeBack(Micros from) {
  return writes_.Attached() ? writes_.TakeBack(from) : mixer_.TakeBack(from);
}

Micros ClickPlayer::LookaheadMicros() const {
  return lookahead_.load(std::memory_order_relaxed);
}

void ClickPlayer::Position_RT(double frame, Micros at) {
  positions_.OnPosition_RT(frame, at);
}

void ClickPlayer::Underrun_RT() {
  positions_.OnUnderrun_RT();
}

void ClickPlayer::Render_RT(float* out, int frames, Micros at) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = callbacks_.OnBuffer_RT(frames, at);
  if (clock_->Anchors() != anchors) mixer_.SkipBefore_RT(first, *clock_);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, *clock_);
}

void ClickPlayer::Cycle_RT(float* out, int frames, const GraphCycle& cycle) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = cycles_.OnCycle_RT(cycle.frame, frames, cycle.at);
  // After a new timeline the clicks due meanwhile are stale: dropped, not
  // started in a heap. After cycles that passed us by, only those more than
  // kStaleMicros late are; the rest start at once.
  if (clock_->Anchors() != anchors) {
    mixer_.SkipBefore_RT(first, *clock_);
  } else if (first != graphNext_) {
    const int rate = rate_.load(std::memory_order_relaxed);
    mixer_.SkipBefore_RT(first - kStaleMicros * rate / 1'000'000, *clock_);
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

void ClickPlayer::Lost_RT(float* out, int frames, Micros at) {
  std::memset(
      out, 0,
      static_cast<std::size_t>(frames) * channels_.load(std::memory_order_relaxed) * sizeof(float));
  clock_->OnLost_RT(at);
  mixer_.Discard_RT();
  lost_.store(true, std::memory_order_release);
  // The supervisor reopens the output at its next look.
}

Micros ClickPlayer::DeviceMicros() const {
  // A queue knows its sink's latency as it changes.
  const ClickQueue* queue = queue_.load(std::memory_order_relaxed);
  return queue ? queue->LatencyMicros() : deviceMicros_.load();
}

Micros ClickPlayer::HeardAtSteady(Micros due) const {
  if (!clock_->Streaming()) return clock_->SteadyAt(due);
  return clock_->SteadyAt(due) + DeviceMicros();
}

PlayerStats ClickPlayer::Stats() const {
  PlayerStats s;
  s.plays = plays_.load();
  s.late = mixer_.LateOnsets() + writes_.Late();
  s.dropped = mixer_.Dropped();
  s.takenBack = mixer_.TakenBack() + writes_.TakenBack();
  s.anchors = clock_->Anchors();
  s.buffers = buffers_.load();
  const Micros least = minSlack_.load();
  s.minSlackMicros = least == INT64_MAX ? 0 : least;
  s.bufferFrames = bufferFrames_.load();
  s.format = StreamFormat{rate_.load(), channels_.load()};
  s.writesIntoQueue = queue_.load() != nullptr;
  s.lookaheadMicros = lookahead_.load();
  s.deviceMicros = DeviceMicros();
  std::lock_guard lock(report_);
  s.output = output_;
  return s;
}

}  // namespace pendlo
