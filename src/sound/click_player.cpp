#include "sound/click_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pendlo {
namespace {

// How far ahead of where the clock says the sink reads a write must land.
constexpr Micros kWriteMarginMicros = 5000;
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
      clicks_(options.limits) {
  if (options_.reconnectMicros > 0) watcher_ = std::thread([this] { Watch(); });
}

ClickPlayer::~ClickPlayer() {
  if (watcher_.joinable()) {
    {
      std::lock_guard lock(watch_);
      watchStop_ = true;
    }
    watchWake_.notify_all();
    watcher_.join();
  }
  Close();
}

void ClickPlayer::SetOnFailure(std::function<void()> onFailure) {
  std::lock_guard lock(report_);
  onFailure_ = std::move(onFailure);
}

bool ClickPlayer::EnsureOpen() {
  // The reconnecting thread may be opening the output (which can take a
  // second with a server that hangs): never wait for it.
  std::unique_lock control(control_, std::try_to_lock);
  if (!control.owns_lock()) return open_.load() && !lost_.load();
  if (open_.load() && !lost_.load()) return true;
  if (open_.load()) CloseLocked();
  if (!OpenLocked(false)) return false;
  wanted_ = true;
  std::lock_guard lock(report_);
  pending_.clear();
  return true;
}

bool ClickPlayer::OpenLocked(bool reconnecting) {
  StreamFormat format;
  std::string error;
  const StreamRequest request{options_.bufferFrames, options_.serverBufferMicros};
  if (!backend_ || !backend_->Open(*this, request, format, error)) {
    Report(std::string(kNoSoundMessage) + (error.empty() ? "" : " (" + error + ")"));
    return false;
  }
  const int frames = backend_->BufferFrames();
  {
    std::lock_guard producer(producer_);
    clicks_.SetFormat(format);
    const auto lead = static_cast<int>(
        std::llround(static_cast<double>(options_.leadMicros) * format.rate / 1e6));
    mixer_.Reset(lead);
    graphQuantum_ = 0;
    held_.clear();
    channels_ = format.channels;
    queue_ = backend_->Queue();
    soundingUntil_ = 0;
    clock_->BeginStream(format.rate, options_.serverBufferMicros);
    leadMicros_ = static_cast<Micros>(std::llround(lead * 1e6 / format.rate));
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
    }
    output_ = backend_->Name();
  }
  backend_->Start();
  return true;
}

void ClickPlayer::Close() {
  std::lock_guard control(control_);
  wanted_ = false;
  if (open_.load()) CloseLocked();
}

void ClickPlayer::CloseLocked() {
  // Held across the close: Play may be writing to the backend. Neither the
  // callbacks the close waits for nor the backend take this lock.
  std::lock_guard producer(producer_);
  open_ = false;
  backend_->Close();  // no callback runs after this
  queue_ = nullptr;
  mixer_.Reset(mixer_.LeadFrames());
  held_.clear();
  clock_->EndStream();
  rate_ = 0;
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

void ClickPlayer::Watch() {
  const auto period = std::chrono::microseconds(options_.reconnectMicros);
  std::unique_lock lock(watch_);
  while (!watchStop_) {
    watchWake_.wait_for(lock, period, [this] { return watchStop_ || restChanged_; });
    if (watchStop_) break;
    restChanged_ = false;
    lock.unlock();
    ApplyRest();
    lock.lock();
    if (!lost_.load(std::memory_order_acquire)) {
      std::lock_guard report(report_);
      if (failing_ && open_.load() && std::chrono::steady_clock::now() > settleUntil_) {
        failing_ = false;
      }
      continue;
    }
    lock.unlock();
    ReopenLost();
    lock.lock();
  }
}

void ClickPlayer::Rest(bool resting) {
  const std::uint64_t buffers = buffers_.load();
  restingSince_.store(steadyNowMicros(), std::memory_order_relaxed);
  resting_.store(resting, std::memory_order_release);
  {
    std::lock_guard lock(watch_);
    restChanged_ = true;
  }
  watchWake_.notify_all();
  if (resting || !paused_.load()) return;
  // The reconnecting thread resumes the stream; its first buffer comes once
  // the sink is awake (a suspended device can take a while).
  const Micros until = steadyNowMicros() + kWakeMicros;
  while (buffers_.load() == buffers && steadyNowMicros() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ClickPlayer::ApplyRest() {
  std::lock_guard control(control_);
  if (!open_.load() || lost_.load()) return;
  const bool rest =
      resting_.load(std::memory_order_acquire) &&
      steadyNowMicros() - restingSince_.load(std::memory_order_relaxed) >= options_.restAfterMicros;
  if (rest == paused_) return;
  // Paused is said before the pause, so that a Start meanwhile waits for
  // the stream (this thread resumes it next, having been woken).
  if (rest) paused_ = true;
  backend_->SetActive(!rest);
  if (!rest) paused_ = false;
}

void ClickPlayer::ReopenLost() {
  std::unique_lock control(control_);
  if (!wanted_ || !lost_.load()) return;
  // Said once per loss; failed attempts after it add nothing.
  bool news = open_.load() && Report(kSoundLostMessage);
  if (open_.load()) CloseLocked();
  // Until a stream runs again the clock keeps time on the monotonic clock;
  // the new stream joins it where it stands, so the beat keeps its grid.
  lost_ = true;
  if (OpenLocked(true)) lost_ = false;
  control.unlock();
  std::function<void()> notify;
  {
    std::lock_guard lock(report_);
    news = news && !pending_.empty();
    if (news) notify = onFailure_;
  }
  if (notify) notify();
}

void ClickPlayer::Play(const std::string& path, Micros due) {
  if (!open_.load(std::memory_order_acquire) || lost_.load(std::memory_order_relaxed)) return;
  std::lock_guard producer(producer_);
  if (!open_.load(std::memory_order_relaxed)) return;
  std::shared_ptr<const SoundClip> clip = clicks_.Get(path);
  plays_.fetch_add(1, std::memory_order_relaxed);
  if (ClickQueue* queue = queue_.load(std::memory_order_relaxed)) {
    WriteClick(*queue, *clip, due);
    return;
  }
  const std::uint64_t seq = mixer_.Schedule(clip.get(), due);

  // Keep every clip the callback may still read; release the rest here, on
  // this thread, never in the callback.
  const std::uint64_t done = mixer_.DoneBefore();
  std::erase_if(held_, [&](const auto& h) { return h.second < done && h.first != clip; });
  if (seq != 0) {
    auto it = std::find_if(held_.begin(), held_.end(), [&](auto& h) { return h.first == clip; });
    if (it == held_.end()) {
      held_.emplace_back(std::move(clip), seq);
    } else {
      it->second = seq;
    }
  }

  const Micros slack = due + leadMicros_.load(std::memory_order_relaxed) - clock_->RenderedUpTo();
  Micros least = minSlack_.load(std::memory_order_relaxed);
  while (slack < least && !minSlack_.compare_exchange_weak(least, slack)) {
  }
}

void ClickPlayer::WriteClick(ClickQueue& queue, const SoundClip& clip, Micros due) {
  std::int64_t first = 0, reading = 0;
  const Micros lead = leadMicros_.load(std::memory_order_relaxed);
  if (!clock_->FrameAt(due + lead, first) || !clock_->FrameAt(clock_->now(), reading)) return;
  // A click longer than the slowest beat (3 s at 20 BPM) would be cut off by
  // the next one anyway; writing all of a long file every beat would not be.
  const int rate = rate_.load(std::memory_order_relaxed);
  const auto length =
      std::min(static_cast<std::int64_t>(clip.frames()), static_cast<std::int64_t>(rate) * 7 / 2);
  // Silence over what is left of the click before, so that it is cut off at
  // this click's onset and not heard again after this one ends.
  // Never write where the sink may already have read: the server would
  // count the stream as run dry and shift it, and the beat with it. The
  // clock's idea of where the sink reads may lag by a block, hence the
  // margin. A late click starts at the earliest frame still safe.
  const std::int64_t earliest = reading + rate * kWriteMarginMicros / 1'000'000;
  if (first < earliest) {
    lateWrites_.fetch_add(1, std::memory_order_relaxed);
    first = earliest;
  }
  const std::int64_t frames = std::max(length, soundingUntil_ - first);
  soundingUntil_ = first + length;
  const int channels = channels_.load(std::memory_order_relaxed);
  scratch_.assign(static_cast<std::size_t>(frames * channels), 0.0f);
  std::copy_n(clip.samples.begin(), length * channels, scratch_.begin());
  queue.WriteAt(first, scratch_.data(), static_cast<int>(frames));

  const Micros slack = due + lead - clock_->now();
  Micros least = minSlack_.load(std::memory_order_relaxed);
  while (slack < least && !minSlack_.compare_exchange_weak(least, slack)) {
  }
}

void ClickPlayer::Position_RT(double frame, Micros at) {
  clock_->OnPosition_RT(frame, at);
}

void ClickPlayer::Underrun_RT() {
  clock_->OnUnderrun_RT();
}

void ClickPlayer::Render_RT(float* out, int frames, Micros at) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = clock_->OnBuffer_RT(frames, at);
  if (clock_->Anchors() != anchors) mixer_.SkipBefore_RT(first, *clock_);
  mixer_.Render_RT(out, frames, channels_.load(std::memory_order_relaxed), first, *clock_);
}

void ClickPlayer::Cycle_RT(float* out, int frames, const GraphCycle& cycle) {
  buffers_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t anchors = clock_->Anchors();
  const std::int64_t first = clock_->OnCycle_RT(cycle.frame, frames, cycle.at);
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
  // The lead covers one cycle, whatever size the server gives; it moves
  // only when the cycle really changes, not when a resampled stream's
  // cycles differ by a frame.
  if (std::abs(frames - graphQuantum_) > graphQuantum_ / 8) {
    graphQuantum_ = frames;
    const int rate = rate_.load(std::memory_order_relaxed);
    const auto lead = frames + static_cast<int>(std::llround(
                                   static_cast<double>(options_.graphMarginMicros) * rate / 1e6));
    mixer_.SetLead_RT(lead);
    leadMicros_.store(static_cast<Micros>(std::llround(lead * 1e6 / rate)),
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
}

Micros ClickPlayer::DeviceMicros() const {
  // A queue knows its sink's latency as it changes.
  const ClickQueue* queue = queue_.load(std::memory_order_relaxed);
  return queue ? queue->LatencyMicros() : deviceMicros_.load();
}

Micros ClickPlayer::HeardAtSteady(Micros due) const {
  if (!clock_->Streaming()) return clock_->SteadyAt(due);
  return clock_->SteadyAt(due + leadMicros_.load()) + DeviceMicros();
}

Micros ClickPlayer::OutputLatency() const {
  if (!clock_->Streaming()) return 0;
  return leadMicros_.load() + DeviceMicros();
}

PlayerStats ClickPlayer::Stats() const {
  PlayerStats s;
  s.plays = plays_.load();
  s.late = mixer_.LateOnsets() + lateWrites_.load();
  s.dropped = mixer_.Dropped();
  s.anchors = clock_->Anchors();
  s.buffers = buffers_.load();
  const Micros least = minSlack_.load();
  s.minSlackMicros = least == INT64_MAX ? 0 : least;
  s.bufferFrames = bufferFrames_.load();
  s.format = StreamFormat{rate_.load(), channels_.load()};
  s.writesIntoQueue = queue_.load() != nullptr;
  s.leadMicros = leadMicros_.load();
  s.deviceMicros = DeviceMicros();
  std::lock_guard lock(report_);
  s.output = output_;
  return s;
}

}  // namespace pendlo
