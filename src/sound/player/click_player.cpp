#include "sound/player/click_player.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>

namespace pendlo::sound::player {
namespace {

// How far tries to open an output that stays away are spaced out: 16 s at
// the program's 0.25 s.
constexpr Micros kRetryLimit = 64;

feed::FeedOptions ForFeed(const PlayerOptions& o) {
  return feed::FeedOptions{o.serverBufferMicros, o.wakeMarginMicros, o.callbackAheadMicros,
                           o.queueMarginMicros, o.limits};
}

}  // namespace

std::string UnusableClickMessage(const clips::UnusableFile& file) {
  // The name alone: the data directory's files are known by it.
  const std::string name = std::filesystem::path(file.path).filename().string();
  return FormatMessage(kUnusableClickFormat, {name, file.reason});
}

ClickPlayer::ClickPlayer(std::unique_ptr<output::AudioBackend> backend, PlayerOptions options,
                         clock::AudioClock::SteadySource steady)
    : backend_(std::move(backend)),
      options_(options),
      feed_(ForFeed(options), steady),
      failures_(steady) {
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
  feed_.Clicks().Unusable().SetOnNews(onFailure);
  failures_.SetOnFailure(std::move(onFailure));
}

void ClickPlayer::SetOnRecovered(std::function<void()> onRecovered) {
  failures_.SetOnRecovered(std::move(onRecovered));
}

bool ClickPlayer::EnsureOpen() {
  std::unique_lock lock(state_);
  wanted_ = true;
  if (open_.load() && !Lost()) return true;
  // Reopening a lost output can take a second with a server that hangs:
  // never wait for it, nor for an output closed at rest, which the
  // supervisor opens again as the beat starts.
  if (busy_ || released_.load()) return false;
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
      wake_.wait_for(lock, std::chrono::microseconds(retryMicros_), asked);
    } else {
      wake_.wait(lock, asked);
    }
    if (stop_) break;
    const bool open = std::exchange(openAsked_, false);
    const bool close = std::exchange(closeAsked_, false);
    restChanged_ = false;
    // Reopening a lost output may take a second: EnsureOpen does not wait
    // for that.
    busy_ = !open && !close && wanted_ && options_.reconnectMicros > 0 && !released_.load() &&
            (!open_.load() || Lost());
    lock.unlock();

    bool opened = false;
    if (close) {
      if (open_.load()) CloseOutput();
      released_ = false;
    } else if (open) {
      if (open_.load() && Lost()) CloseOutput();
      opened = open_.load() || OpenOutput(false);
    } else if (busy_) {
      ReopenLost();
      // An output that stays away is tried ever less often: on a machine
      // without sound each try costs a few milliseconds of loading and
      // probing. A Start still tries at once.
      if (!open_.load())
        retryMicros_ = std::min(retryMicros_ * 2, kRetryLimit * options_.reconnectMicros);
    }
    if (open_.load() && !Lost()) retryMicros_ = options_.reconnectMicros;
    ApplyRest();
    if (open_.load() && !Lost()) failures_.Playing();

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

bool ClickPlayer::OpenOutput(bool reconnecting, bool failureIsLoss) {
  clips::StreamFormat format;
  std::string error;
  const output::StreamRequest request{options_.bufferFrames, options_.serverBufferMicros};
  if (!backend_ || !backend_->Open(feed_.Target(), request, format, error)) {
    std::string message = failureIsLoss ? kSoundLostMessage : kNoSoundMessage;
    if (!failureIsLoss && !error.empty()) message = FormatMessage(kReasonFormat, {message, error});
    failures_.Report(message);
    return false;
  }
  feed_.Begin(format, backend_->BufferFrames(), backend_->Queue(), backend_->DeviceLatencyMicros());
  lost_ = false;
  open_ = true;
  paused_ = false;  // a new stream runs until the next rest
  failures_.Opened(backend_->Name(), reconnecting);
  backend_->Start();
  return true;
}

void ClickPlayer::CloseOutput() {
  open_ = false;
  feed_.Stop();
  backend_->Close();  // no callback runs after this
  feed_.End();
  paused_ = false;  // nothing to wake
  failures_.Closed();
}

std::string ClickPlayer::TakeError() {
  // A stream lost since the supervisor last looked is told at once.
  if (open_.load() && Lost()) failures_.Report(kSoundLostMessage);
  std::string message = failures_.Take();
  for (const clips::UnusableFile& file : feed_.Clicks().Unusable().Take()) {
    if (!message.empty()) message.push_back('\n');
    message.append(UnusableClickMessage(file));
  }
  return message;
}

void ClickPlayer::ApplyRest() {
  const bool resting = options_.reconnectMicros > 0 && resting_.load(std::memory_order_acquire);
  if (released_.load()) {
    if (!resting) Wake();
    return;
  }
  if (!open_.load() || Lost()) return;
  const Micros rested = steadyNowMicros() - restingSince_.load(std::memory_order_relaxed);
  if (resting && options_.releaseAfterMicros > 0 && rested >= options_.releaseAfterMicros &&
      backend_->ReleasableAtRest()) {
    // Everything the output holds goes until Start: the stream, the
    // connection, the library and the threads serving them. Released
    // first, so that a Start meanwhile does not wait for an open.
    released_ = true;
    feed_.Park(true);
    CloseOutput();
    // The memory the output's threads took from malloc stays in their
    // arenas after they end, freed but resident: given back here.
    malloc_trim(0);
    return;
  }
  const bool rest = resting && rested >= options_.restAfterMicros;
  if (rest == paused_) return;
  paused_ = rest;
  backend_->SetActive(!rest);
}

void ClickPlayer::Wake() {
  // Still released while it opens: EnsureOpen does not wait for this.
  const bool opened = OpenOutput(false, true);
  released_ = false;
  if (opened) return;
  // Said once, as a loss; it is tried again as a lost output is, and the
  // beat goes on silently meanwhile.
  feed_.Park(false);
  lost_ = true;
  failures_.NotifyIfPending();
}

void ClickPlayer::ReopenLost() {
  const bool lost = Lost();
  if (open_.load() && !lost) return;
  // Said once per loss; failed attempts after it add nothing.
  const bool news = open_.load() && failures_.Report(kSoundLostMessage);
  if (open_.load()) CloseOutput();
  // Until a stream runs again the clock keeps time on the monotonic clock;
  // the new stream joins it where it stands, so the beat keeps its grid.
  lost_ = true;
  if (OpenOutput(true)) lost_ = false;
  if (news) failures_.NotifyIfPending();
}

PlayerStats ClickPlayer::Stats() const {
  PlayerStats s;
  static_cast<feed::FeedStats&>(s) = feed_.Stats();
  s.output = failures_.Output();
  return s;
}

}  // namespace pendlo::sound::player
