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
// How often a paused stream is looked at for a loss: 4 s at 0.25 s.
constexpr Micros kPausedLookLimit = 16;

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
  {
    std::lock_guard lock(state_);
    rest_.SetResting(resting, steadyNowMicros());
    restChanged_ = true;
  }
  wake_.notify_all();
}

Micros ClickPlayer::NextLookMicros() const {
  if (options_.reconnectMicros <= 0) return -1;
  Micros look = -1;
  if (open_.load() && !paused_) {
    look = options_.reconnectMicros;  // a stream lost while it plays is replaced soon
  } else if (open_.load()) {
    // A paused stream lost is told and replaced within a few seconds; its
    // thread wakes no more than that meanwhile.
    look = kPausedLookLimit * options_.reconnectMicros;
  } else if (wanted_ && !released_.load()) {
    look = retryMicros_;
  }
  const Micros now = steadyNowMicros();
  if (const std::optional<Micros> next = rest_.NextChange(now, releasable_)) {
    look = look < 0 ? *next - now : std::min(look, *next - now);
  }
  return look;
}

void ClickPlayer::Supervise() {
  std::unique_lock lock(state_);
  while (!stop_) {
    const auto asked = [this] { return stop_ || openAsked_ || closeAsked_ || restChanged_; };
    if (const Micros look = NextLookMicros(); look >= 0) {
      wake_.wait_for(lock, std::chrono::microseconds(look), asked);
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
  if (open_.load() && !Lost()) releasable_ = backend_->ReleasableAtRest();
  OutputAtRest wanted = OutputAtRest::kPlaying;
  if (options_.reconnectMicros > 0) {
    std::lock_guard lock(state_);
    wanted = rest_.Wanted(steadyNowMicros(), releasable_);
  }
  if (released_.load()) {
    if (wanted == OutputAtRest::kPlaying) Wake();
    return;
  }
  if (!open_.load() || Lost()) return;
  if (wanted == OutputAtRest::kReleased) {
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
  const bool pause = wanted == OutputAtRest::kPaused;
  if (pause != paused_) Pause(pause);
}

void ClickPlayer::Pause(bool pause) {
  paused_ = pause;
  // A stream fed through its queue stops reading it while paused, and the
  // clock joins it again as it resumes: no click is written meanwhile.
  const bool queued = backend_->Queue() != nullptr;
  if (pause && queued) feed_.Pause();
  backend_->SetActive(!pause);
  if (!pause && queued) feed_.Resume(backend_->Queue());
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
