#include "sound/clips/click_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sound/clips/fallback_tone.h"

namespace pendlo::sound::clips {
namespace {

std::int64_t Nanos(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

ClickCache::ClickCache(StreamFormat format, DecodeLimits limits)
    : format_(format),
      limits_(limits),
      fallback_(std::make_shared<const SoundClip>(FallbackTone(format))) {}

void ClickCache::SetFormat(StreamFormat format) {
  if (format == format_) return;
  format_ = format;
  fallback_ = std::make_shared<const SoundClip>(FallbackTone(format));
  entries_.clear();
}

std::shared_ptr<const SoundClip> ClickCache::Get(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    lastError_ = std::strerror(errno);
    return fallback_;
  }
  const Version now{st.st_dev, st.st_ino, st.st_size, Nanos(st.st_mtim), Nanos(st.st_ctim)};
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.path == path; });
  if (it != entries_.end() && it->version == now) {
    it->lastUse = ++uses_;
    return it->clip;
  }
  Version loaded;
  auto clip = Load(path, loaded);
  if (it == entries_.end()) {
    if (entries_.size() == kMaxEntries) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(),
                                      [](auto& a, auto& b) { return a.lastUse < b.lastUse; }));
    }
    entries_.push_back(Entry{path, {}, nullptr, 0});
    it = entries_.end() - 1;
  }
  // A failed open is not remembered (size -1 never matches), so a file made
  // readable again is picked up; a damaged file is, until it changes.
  it->version = loaded;
  it->clip = clip;
  it->lastUse = ++uses_;
  return clip;
}

std::shared_ptr<const SoundClip> ClickCache::Load(const std::string& path, Version& version) {
  ++decodes_;
  // Non-blocking, so a FIFO named like a click cannot hang the timer thread.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return fallback_;
  }
  struct stat st {};
  std::vector<std::uint8_t> bytes;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) lastError_ = "not a regular file";
  if (ok) {
    version = Version{st.st_dev, st.st_ino, st.st_size, Nanos(st.st_mtim), Nanos(st.st_ctim)};
    bytes.resize(std::min(static_cast<std::size_t>(st.st_size), limits_.maxBytes));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        lastError_ = std::strerror(errno);
        ok = false;
      }
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  ::close(fd);
  if (!ok) {
    version = Version{};
    return fallback_;
  }
  DecodeResult r = DecodeWav(bytes, format_, limits_);
  if (!r.clip) {
    lastError_ = r.error;
    return fallback_;
  }
  lastError_.clear();
  return std::make_shared<const SoundClip>(std::move(*r.clip));
}

}  // namespace pendlo::sound::clips
