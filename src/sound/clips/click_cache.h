// Decoded click files by path. A file is decoded once and used again while
// its size, times and identity on disk are unchanged, so a click file the
// user replaces is heard at its next click without a restart. Not for the
// audio callback: it touches the file system, through the files module's
// FileSystem so that a test can make a read fail.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "files/store/file_system.h"
#include "sound/clips/sound_clip.h"
#include "sound/clips/wav_decoder.h"

namespace pendlo::sound::clips {

// A click file that was read but holds no sound the decoder can use.
struct UnusableFile {
  std::string path;
  std::string reason;  // the decoder's (DecodeResult::error)
  bool operator==(const UnusableFile&) const = default;
};

class ClickCache {
 public:
  // Reads through `fs`, which must outlive the cache.
  explicit ClickCache(StreamFormat format = {}, DecodeLimits limits = {},
                      FileSystem& fs = RealFileSystem());

  // The sound for `path`, never null. Costs one stat() when the cached copy
  // is still current; otherwise reads (at most limits.maxBytes) and decodes.
  // A missing, unreadable or damaged file gives the fallback tone. One thread
  // at a time.
  std::shared_ptr<const SoundClip> Get(const std::string& path);

  // Changes the output format; drops every decoded sound if it differs.
  void SetFormat(StreamFormat format);
  StreamFormat Format() const { return format_; }

  // The fallback tone in the current format.
  const std::shared_ptr<const SoundClip>& Fallback() const { return fallback_; }

  // Files read and decoded so far (a cache miss each).
  int Decodes() const { return decodes_; }

  // The files Get found unusable since the last call: each version of a
  // file once, however often it is looked at or decoded again for a new
  // format; a file replaced by another unusable one is news again.
  std::vector<UnusableFile> TakeUnusable() { return std::exchange(unusable_, {}); }

 private:
  // What identifies one version of a file: a replacement by rename changes
  // the inode, a rewrite in place the change time (which no tool can set back).
  struct Version {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    bool operator==(const Version&) const = default;
  };
  struct Entry {
    std::string path;
    Version version;
    std::shared_ptr<const SoundClip> clip;
    std::uint64_t lastUse = 0;
    Version told;  // the version last found unusable; kept across formats
  };
  static constexpr std::size_t kMaxEntries = 8;

  // Reads and decodes `path`: null when it cannot be read, the fallback
  // when it is no sound (and `unusable` says why).
  std::shared_ptr<const SoundClip> Load(const std::string& path, std::string& unusable);

  StreamFormat format_;
  DecodeLimits limits_;
  FileSystem& fs_;
  std::shared_ptr<const SoundClip> fallback_;
  std::vector<Entry> entries_;
  std::vector<UnusableFile> unusable_;
  std::uint64_t uses_ = 0;
  int decodes_ = 0;
};

}  // namespace pendlo::sound::clips
