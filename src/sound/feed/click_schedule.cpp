#include "sound/feed/click_schedule.h"

#include <algorithm>
#include <optional>

#include "sound/link/sound_link.h"

namespace pendlo::sound::feed {
namespace {

// Clicks kept while a rested output reopens.
constexpr std::size_t kWaitingKept = 16;

}  // namespace

ClickSchedule::ClickSchedule(const FeedOptions& options, std::shared_ptr<clock::AudioClock> clock,
                             clips::ClickLoader& clicks, ClickMixer& mixer,
                             const StreamRender& render, FeedCounters& counters)
    : clock_(clock),
      clicks_(clicks),
      mixer_(mixer),
      render_(render),
      counters_(counters),
      writes_(std::move(clock), options.queueMarginMicros) {}

void ClickSchedule::Begin(const clips::StreamFormat& format, output::ClickQueue* queue) {
  std::lock_guard producer(producer_);
  mixer_.Reset();
  held_.clear();
  format_ = format;
  writes_.Attach(queue, format.rate, format.channels);
  live_ = true;
  parked_ = false;
  // Only an output whose callbacks render the clicks is closed at rest
  // (AudioBackend::ReleasableAtRest).
  for (const auto& [path, due] : std::exchange(waiting_, {})) {
    std::shared_ptr<const clips::SoundClip> clip = clicks_.Get(path);
    if (queue == nullptr) HoldClip(clip, mixer_.Schedule(clip.get(), due));
  }
}

void ClickSchedule::Park(bool keep) {
  std::lock_guard producer(producer_);
  parked_ = keep;
  waiting_.clear();
}

void ClickSchedule::Resume(output::ClickQueue* queue) {
  std::unique_lock producer(producer_);
  writes_.Attach(queue, format_.rate, format_.channels);
  // Still not live while the kept clicks are written, so that a click the
  // timer queues meanwhile is kept behind them, never written before one.
  while (!waiting_.empty()) {
    const std::vector<std::pair<std::string, Micros>> kept = std::exchange(waiting_, {});
    producer.unlock();
    for (const auto& [path, due] : kept) Write(*clicks_.Get(path), due);
    producer.lock();
  }
  live_ = true;
  parked_ = false;
}

bool ClickSchedule::Write(const clips::SoundClip& clip, Micros due) {
  const std::optional<Micros> slack = writes_.Write(clip, due);
  if (!slack) return false;
  counters_.NotePlay(*slack);
  return true;
}

void ClickSchedule::Stop() {
  {
    std::lock_guard producer(producer_);
    live_ = false;
  }
  writes_.Detach();  // the writes under way end first
}

void ClickSchedule::End() {
  std::lock_guard producer(producer_);
  mixer_.Reset();
  held_.clear();
}

void ClickSchedule::HoldClip(std::shared_ptr<const clips::SoundClip> clip, std::uint64_t seq) {
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

bool ClickSchedule::Play(const std::string& path, Micros due) {
  std::unique_lock producer(producer_);
  if (!live_.load(std::memory_order_relaxed)) {
    // A few beats at most pass while a rested output opens again.
    if (parked_ && waiting_.size() < kWaitingKept) waiting_.emplace_back(path, due);
    return true;
  }
  if (render_.Lost()) return true;
  std::shared_ptr<const clips::SoundClip> clip = clicks_.Get(path);
  if (writes_.Attached()) {
    producer.unlock();
    return Write(*clip, due);
  }
  const Micros slack = due - clock_->RenderedUpTo();
  if (slack < -link::kLateClickGraceMicros) return false;
  HoldClip(clip, mixer_.Schedule(clip.get(), due));
  producer.unlock();
  counters_.NotePlay(slack);
  return true;
}

Micros ClickSchedule::TakeBack(Micros from) {
  {
    std::lock_guard producer(producer_);
    std::erase_if(waiting_, [&](const auto& w) { return w.second >= from; });
  }
  return writes_.Attached() ? writes_.TakeBack(from) : mixer_.TakeBack(from);
}

}  // namespace pendlo::sound::feed
