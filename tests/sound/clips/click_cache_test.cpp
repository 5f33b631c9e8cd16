#include "sound/clips/click_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <thread>

#include "files/formats/click_images.h"
#include "sound/clips/click_loader.h"
#include "sound/link/player_link.h"
#include "sound/wav_bytes.h"
#include "support/files.h"
#include "support/loaded_clicks.h"

namespace pendlo {
namespace {

using testing::Bytes;
using testing::FloatWav;
using testing::MakeWav;
using testing::TempDir;

constexpr sound::clips::StreamFormat kFormat{48000, 2};

// Sets a file's modification time, as `cp -p` or `touch -r` would.
void SetMtime(const std::string& path, time_t seconds) {
  timeval times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(0, ::utimes(path.c_str(), times));
}

TEST(ClickCache, DecodesOnceAndServesHitsFromMemory) {
  TempDir dir;
  const std::string pi = dir.Write("pi.wav", PiWave);
  const std::string po = dir.Write("po.wav", PoWave);
  sound::clips::ClickCache cache(kFormat);
  const auto a = cache.Get(pi);
  const auto b = cache.Get(po);
  EXPECT_NE(a, cache.Fallback());
  EXPECT_NE(a, b);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(cache.Get(pi), a);
    EXPECT_EQ(cache.Get(po), b);
  }
  EXPECT_EQ(cache.Decodes(), 2);
  EXPECT_EQ(a->frames(), 525u);
}

TEST(ClickCache, AReplacedFileIsHeardAtItsNextClick) {
  TempDir dir;
  const std::string path = dir.File("pi.wav");
  const Bytes first = FloatWav({0.5f, 0.5f}, 48000);
  const Bytes second = FloatWav({-0.25f, -0.25f}, 48000);  // same size
  sound::clips::ClickCache cache(kFormat);

  struct Step {
    const char* how;
    std::function<void()> replace;
    float expect;
  };
  const Step steps[] = {
      {"first version", [&] { dir.Write("pi.wav", first); }, 0.5f},
      {"rewritten in place, same size, old mtime restored",
       [&] {
         struct stat st {};
         ::stat(path.c_str(), &st);
         dir.Write("pi.wav", second);
         SetMtime(path, st.st_mtim.tv_sec);
       },
       -0.25f},
      {"renamed over (new inode), same size and mtime",
       [&] {
         struct stat st {};
         ::stat(path.c_str(), &st);
         const std::string tmp = dir.Write("new.wav", first);
         SetMtime(tmp, st.st_mtim.tv_sec);
         std::filesystem::rename(tmp, path);
       },
       0.5f},
      {"deleted: the fallback", [&] { std::filesystem::remove(path); }, NAN},
      {"put back", [&] { dir.Write("pi.wav", second); }, -0.25f},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.how);
    // File times tick in steps of a few milliseconds: keep versions apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.replace();
    const auto clip = cache.Get(path);
    if (std::isnan(s.expect)) {
      EXPECT_EQ(clip, cache.Fallback());
    } else {
      ASSERT_NE(clip, cache.Fallback());
      EXPECT_EQ(clip->samples[0], s.expect);
    }
  }
}

const Bytes kNoFrames = MakeWav({.data = {}});

// A file not read, or read and unusable, plays the fallback tone; one read
// and unusable is also told, with the decoder's reason, once however often
// it is looked at or decoded again, and again once replaced.
TEST(ClickCache, BadFilesPlayTheFallbackToneAndTheUnusableAreToldOnce) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("dir.wav"));
  ASSERT_EQ(0, ::mkfifo(dir.File("fifo.wav").c_str(), 0600));
  dir.Write("locked.wav", PiWave);
  ::chmod(dir.File("locked.wav").c_str(), 0);
  const bool root = ::geteuid() == 0;  // root reads regardless of mode bits
  const struct {
    const char* name;
    Bytes file;          // none: as set up above
    const char* reason;  // null: decoded; "": not read, not told
  } cases[] = {
      {"missing.wav", {}, ""},
      {"dir.wav", {}, ""},
      {"fifo.wav", {}, ""},
      {"locked.wav", {}, root ? nullptr : ""},
      {"odd.wav", MakeWav({.bits = 8, .data = {255, 0, 128}}), nullptr},  // no pad byte at the end
      {"fmtcut.wav", Bytes(PiWave.begin(), PiWave.begin() + 30), "format chunk too short"},
      {"cut.wav", Bytes(PiWave.begin(), PiWave.begin() + 40), "no data chunk"},
      {"noframes.wav", kNoFrames, "no sound in data chunk"},
  };
  sound::clips::ClickCache cache(kFormat);
  using Told = std::vector<sound::clips::UnusableFile>;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.file.empty() ? dir.File(c.name) : dir.Write(c.name, c.file);
    EXPECT_EQ(cache.Get(path) == cache.Fallback(), c.reason != nullptr);
    cache.Get(path);
    EXPECT_EQ(cache.TakeUnusable(), (c.reason && *c.reason ? Told{{path, c.reason}} : Told{}));
  }
  const std::string noFrames = dir.File("noframes.wav");
  cache.SetFormat({44100, 2});
  cache.Get(noFrames);
  EXPECT_EQ(cache.TakeUnusable(), Told{}) << "decoded again for a new format";
  std::filesystem::rename(dir.Write("new.wav", Bytes{'h', 'i'}), noFrames);
  cache.Get(noFrames);
  EXPECT_EQ(cache.TakeUnusable(), (Told{{noFrames, "not a RIFF WAVE file"}}));

  // The fallback is a tone of its own: longer than either click, 2 kHz.
  const auto& tone = *cache.Fallback();
  EXPECT_EQ(tone.format.rate, 44100);
  EXPECT_EQ(tone.frames(), 1984u);
  int crossings = 0;
  for (std::size_t i = 1; i < tone.frames(); ++i)
    crossings += (tone.samples[2 * i - 2] < 0) != (tone.samples[2 * i] < 0);
  EXPECT_NEAR(crossings, 2 * 2000 * 0.045, 3);
}

TEST(ClickCache, AFormatChangeDecodesAgain) {
  TempDir dir;
  const std::string pi = dir.Write("pi.wav", PiWave);
  sound::clips::ClickCache cache(kFormat);
  EXPECT_EQ(cache.Get(pi)->frames(), 525u);
  cache.SetFormat({44100, 2});
  EXPECT_EQ(cache.Get(pi)->frames(), 483u);
  EXPECT_EQ(cache.Fallback()->format.rate, 44100);
  EXPECT_EQ(cache.Decodes(), 2);
}

// A file system whose reads fail while `failing` is set.
struct FailingReads final : FileSystem {
  bool failing = true;
  long Read(int fd, void* buf, std::size_t count) override {
    return failing ? -EIO : FileSystem::Read(fd, buf, count);
  }
};

// A read that fails gives the fallback and is not remembered: the same
// file, unchanged, is read again at the next look once reads work.
TEST(ClickCache, AFailedReadIsTriedAgainAtTheNextLook) {
  TempDir dir;
  const std::string pi = dir.Write("pi.wav", PiWave);
  FailingReads fs;
  sound::clips::ClickCache cache(kFormat, {}, fs);
  EXPECT_EQ(cache.Get(pi), cache.Fallback());
  fs.failing = false;
  EXPECT_EQ(cache.Get(pi)->frames(), 525u);
  EXPECT_EQ(cache.Decodes(), 2);
}

// The loader hands out only what is ready, and only in the stream's format:
// a clip decoded for the old format must never reach a new stream.
TEST(ClickLoader, GivesWhatIsReadyInTheCurrentFormatOrTheFallback) {
  TempDir dir;
  const std::string pi = dir.Write("pi.wav", PiWave);
  sound::clips::ClickLoader loader({}, kFormat);
  EXPECT_EQ(loader.Get(pi), loader.Fallback()) << "nothing read yet";
  ASSERT_TRUE(testing::WaitUntilLoaded(loader, {pi}));
  EXPECT_EQ(loader.Get(pi)->frames(), 525u);

  const sound::clips::StreamFormat mono{44100, 1};
  loader.SetFormat(mono);
  EXPECT_EQ(loader.Get(pi)->format, mono) << "the old format's clip, or the fallback in it";
  ASSERT_TRUE(testing::WaitUntilLoaded(loader, {pi}));
  EXPECT_EQ(loader.Get(pi)->frames(), 483u);
  EXPECT_EQ(loader.Decodes(), 2);

  std::filesystem::remove(pi);
  EXPECT_TRUE(testing::WaitForLoader(loader, [&] { return loader.Get(pi) == loader.Fallback(); }))
      << "a deleted file";
}

// The way to the window: an unusable accent file is said once, as the
// failure the window takes from the sound link, however many clicks look at
// it; meanwhile the accent's stand-in is louder than the plain click.
TEST(ClickLoader, AnUnusableAccentIsSaidOnceToTheWindowAndStaysTheLoudest) {
  TempDir dir;
  const std::string pi = dir.Write("pi.wav", kNoFrames);
  const std::string po = dir.Write("po.wav", PoWave);
  auto owned = std::make_unique<sound::player::ClickPlayer>(nullptr);  // no output
  sound::player::ClickPlayer& player = *owned;
  sound::clips::ClickLoader& clicks = player.Feed().Clicks();
  const auto link = sound::link::PlayerSoundLink(std::move(owned));
  std::atomic<int> failures{0};
  link->SetOnFailure([&] { ++failures; });
  link->PrepareAccent(pi);
  // Said in the first round; po is asked for only then, and each look asks
  // for pi again: it is checked again at least once before po is in.
  ASSERT_TRUE(testing::WaitForLoader(clicks, [&] {
    return clicks.Get(pi) && failures > 0 && clicks.Get(po) != clicks.Fallback();
  }));
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(player.TakeError(), "ﾌｧｲﾙ pi.wav は再生できません (no sound in data chunk)");
  EXPECT_EQ(player.TakeError(), "");

  const auto peak = [](const auto& clip) {
    return std::abs(std::ranges::max(clip->samples, {}, [](float v) { return std::abs(v); }));
  };
  EXPECT_GT(peak(clicks.Get(pi)), peak(clicks.Get(po))) << "the built-in plain click peaks at 0.61";
}

}  // namespace
}  // namespace pendlo
