#include "sound/clips/click_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <span>

#include "sound/clips/fallback_tone.h"

namespace pendlo::sound::clips {
namespace {

std::int64_t Nanos(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

ClickCache::ClickCache(StreamFormat format, DecodeLimits limits, FileSystem& fs)
    : format_(format),
      limits_(limits),
      fs_(fs),
      fallback_(std::make_shared<const SoundClip>(FallbackTone(format))) {}

void ClickCache::SetFormat(StreamFormat format) {
  if (format == format_) return;
  format_ = format;
  fallback_ = std::make_shared<const SoundClip>(FallbackTone(format));
  // Every file is decoded again; what was told of each stays told.
  for (Entry& e : entries_) {
    e.version = {};
    e.clip = nullptr;
  }
}

std::shared_ptr<const SoundClip> ClickCache::Get(const std::string& path) {
  struct stat st {};
  if (fs_.Stat(path, &st) != 0) return fallback_;
  const Version now{st.st_dev, st.st_ino, st.st_size, Nanos(st.st_mtim), Nanos(st.st_ctim)};
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.path == path; });
  if (it != entries_.end() && it->version == now) {
    it->lastUse = ++uses_;
    return it->clip;
  }
  std::string unusable;
  std::shared_ptr<const SoundClip> clip = Load(path, unusable);
  const bool unread = clip == nullptr;
  if (unread) clip = fallback_;
  if (it == entries_.end()) {
    if (entries_.size() == kMaxEntries) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(),
                                      [](auto& a, auto& b) { return a.lastUse < b.lastUse; }));
    }
    entries_.push_back(Entry{path, {}, nullptr, 0, {}});
    it = entries_.end() - 1;
  }
  // A file that could not be read is not remembered (size -1 never
  // matches), so a file made readable again is picked up; a damaged file
  // is, until it changes. The version is the one seen before the read: a
  // file replaced meanwhile is read again at the next look.
  it->version = unread ? Version{} : now;
  it->clip = clip;
  it->lastUse = ++uses_;
  if (!unusable.empty() && it->told != now) {
    it->told = now;
    unusable_.push_back(UnusableFile{path, std::move(unusable)});
  }
  return clip;
}

std::shared_ptr<const SoundClip> ClickCache::Load(const std::string& path, std::string& unusable) {
  ++decodes_;
  // Never opens a FIFO or a device named like a click, nor waits on one.
  std::string bytes;
  bool tooLarge = false;
  if (ReadRegularFile(fs_, path, limits_.maxBytes, OverLimit::kHead, &bytes, &tooLarge) != 0)
    return nullptr;
  const std::span<const std::uint8_t> wav(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size());
  DecodeResult r = DecodeWav(wav, format_, limits_);
  if (!r.clip) {
    unusable = std::move(r.error);
    return fallback_;
  }
  return std::make_shared<const SoundClip>(std::move(*r.clip));
}

}  // namespace pendlo::sound::clips
