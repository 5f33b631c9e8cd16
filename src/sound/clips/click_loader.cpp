#include "sound/clips/click_loader.h"

#include <algorithm>
#include <utility>

#include "sound/clips/fallback_tone.h"

namespace pendlo::sound::clips {
namespace {

std::shared_ptr<const SoundClip> Tone(StreamFormat format, double peak) {
  return std::make_shared<const SoundClip>(FallbackTone(format, peak));
}

}  // namespace

ClickLoader::ClickLoader(DecodeLimits limits, StreamFormat format)
    : format_(format),
      fallback_(Tone(format, kPlainFallbackPeak)),
      accentFallback_(Tone(format, kAccentFallbackPeak)),
      cache_(format, limits) {
  thread_ = std::thread([this] { Run(); });
}

ClickLoader::~ClickLoader() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  work_.notify_all();
  thread_.join();
}

ClickLoader::Entry& ClickLoader::WantLocked(const std::string& path) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.path == path; });
  if (it == entries_.end()) {
    if (entries_.size() < kMaxEntries) {
      it = entries_.insert(entries_.end(), Entry{path, nullptr, false});
    } else {
      it = std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.wanted; });
      if (it == entries_.end()) it = entries_.begin();
      *it = Entry{path, nullptr, false};
    }
  }
  it->wanted = true;
  return *it;
}

std::shared_ptr<const SoundClip> ClickLoader::Get(const std::string& path) {
  std::shared_ptr<const SoundClip> clip;
  {
    std::lock_guard lock(mutex_);
    const Entry& e = WantLocked(path);
    clip = e.clip ? e.clip : path == accentPath_ ? accentFallback_ : fallback_;
  }
  work_.notify_one();
  return clip;
}

void ClickLoader::Request(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    WantLocked(path);
  }
  work_.notify_one();
}

void ClickLoader::RequestAccent(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    accentPath_ = path;
    WantLocked(path);
  }
  work_.notify_one();
}

void ClickLoader::SetOnAnswered(std::function<void()> onAnswered) {
  std::lock_guard lock(mutex_);
  onAnswered_ = std::move(onAnswered);
}

void ClickLoader::SetFormat(StreamFormat format) {
  {
    std::lock_guard lock(mutex_);
    if (format == format_) return;
  }
  // Made before taking the lock, and the old clips dropped after it, so a
  // tick asking meanwhile is never held up by either.
  auto tone = Tone(format, kPlainFallbackPeak);
  auto accentTone = Tone(format, kAccentFallbackPeak);
  std::vector<std::shared_ptr<const SoundClip>> old;
  {
    std::lock_guard lock(mutex_);
    format_ = format;
    fallback_.swap(tone);
    accentFallback_.swap(accentTone);
    ++formatGeneration_;
    for (Entry& e : entries_) {
      old.push_back(std::move(e.clip));
      e.clip = nullptr;
      e.wanted = true;
    }
  }
  work_.notify_one();
}

std::shared_ptr<const SoundClip> ClickLoader::Fallback() const {
  std::lock_guard lock(mutex_);
  return fallback_;
}

std::shared_ptr<const SoundClip> ClickLoader::AccentFallback() const {
  std::lock_guard lock(mutex_);
  return accentFallback_;
}

int ClickLoader::Decodes() const {
  std::lock_guard lock(mutex_);
  return decodes_;
}

void ClickLoader::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] {
      return quit_ ||
             std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.wanted; });
    });
    if (quit_) return;
    const std::uint64_t generation = formatGeneration_;
    const StreamFormat format = format_;
    std::vector<std::pair<std::string, std::shared_ptr<const SoundClip>>> found;
    for (Entry& e : entries_) {
      if (!e.wanted) continue;
      found.emplace_back(e.path, nullptr);
      e.wanted = false;
    }
    lock.unlock();

    // The slow part, with no lock held: stat, read, decode.
    cache_.SetFormat(format);
    for (auto& [path, clip] : found) {
      clip = cache_.Get(path);
      if (clip == cache_.Fallback()) clip = nullptr;  // the tick's own fallback serves
    }
    const int decodes = cache_.Decodes();
    std::vector<UnusableFile> unusable = cache_.TakeUnusable();

    std::vector<std::shared_ptr<const SoundClip>> replaced;
    lock.lock();
    if (generation == formatGeneration_) {
      for (auto& [path, clip] : found) {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.path == path; });
        if (it == entries_.end() || it->clip == clip) continue;
        replaced.push_back(std::exchange(it->clip, std::move(clip)));
      }
    }
    decodes_ = decodes;
    const std::function<void()> onAnswered = onAnswered_;
    // Old clips are freed here, outside the lock.
    lock.unlock();
    replaced.clear();
    found.clear();
    unusable_.Add(std::move(unusable));
    if (onAnswered) onAnswered();
    lock.lock();
  }
}

}  // namespace pendlo::sound::clips
