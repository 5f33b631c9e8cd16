// Click files read and decoded on a thread of their own, so that the tick
// never waits for a disk, a slow file system or a large file. The tick takes
// whatever clip is ready: the last good version of the file, or the fallback
// tone until the first one is decoded (louder for the accent's file). Files
// that cannot be used are told through Unusable(). Each look-up also asks the loader to
// check the file again, so a replaced file is heard a few clicks later.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/clips/click_cache.h"
#include "sound/clips/sound_clip.h"
#include "sound/clips/unusable_files.h"
#include "sound/clips/wav_decoder.h"

namespace pendlo::sound::clips {

class ClickLoader {
 public:
  explicit ClickLoader(DecodeLimits limits = {}, StreamFormat format = {});
  ~ClickLoader();
  ClickLoader(const ClickLoader&) = delete;
  ClickLoader& operator=(const ClickLoader&) = delete;

  // The clip ready for `path` in the current format, never null, and a
  // request to check the file again. Any thread; takes only a lock that the
  // loader holds to swap a pointer, never across a file access.
  std::shared_ptr<const SoundClip> Get(const std::string& path);

  // Asks for `path` to be read before its first click. Returns at once.
  void Request(const std::string& path);
  // As Request, and `path` is the accent's file from now on: until it is
  // decoded, or while it cannot be, Get gives AccentFallback() for it.
  void RequestAccent(const std::string& path);

  // Any thread: `onAnswered` runs on the loader's thread, with no lock of
  // the loader held, after each round of requests it has handled (what it
  // read now reaches Get). For whoever must know when a file is in; the
  // hook replaced may still run once after this returns.
  void SetOnAnswered(std::function<void()> onAnswered);

  // A new output format: clips in the old one are no longer given out, and
  // every known file is decoded again.
  void SetFormat(StreamFormat format);

  // The stand-ins in the current format: for any file, and for the
  // accent's, which peaks above every plain click.
  std::shared_ptr<const SoundClip> Fallback() const;
  std::shared_ptr<const SoundClip> AccentFallback() const;
  // The files found unusable, each version of a file once.
  UnusableFileReport& Unusable() { return unusable_; }
  // Files read and decoded so far.
  int Decodes() const;

 private:
  struct Entry {
    std::string path;
    std::shared_ptr<const SoundClip> clip;  // null: none ready yet
    bool wanted = false;                    // to be checked again
  };
  static constexpr std::size_t kMaxEntries = 8;

  // Under mutex_: the entry for `path`, made if missing (replacing one not
  // wanted when full); marks it wanted.
  Entry& WantLocked(const std::string& path);
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable work_;  // something wanted, or quit
  std::function<void()> onAnswered_;
  std::vector<Entry> entries_;
  StreamFormat format_;
  std::shared_ptr<const SoundClip> fallback_;
  std::shared_ptr<const SoundClip> accentFallback_;
  std::string accentPath_;
  std::uint64_t formatGeneration_ = 0;
  int decodes_ = 0;
  bool quit_ = false;

  UnusableFileReport unusable_;
  ClickCache cache_;  // the loader thread's alone
  std::thread thread_;
};

}  // namespace pendlo::sound::clips
