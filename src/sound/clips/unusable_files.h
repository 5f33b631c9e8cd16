// What the click loader tells of the click files it cannot use: each file
// version once (ClickCache decides what is news), kept until taken, and a
// call that there is news, so the window can say it without asking.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "sound/clips/click_cache.h"

namespace pendlo::sound::clips {

class UnusableFileReport {
 public:
  // Any thread: `onNews` runs on the loader's thread, with no lock held,
  // after files were added. The hook replaced may still run once after this
  // returns.
  void SetOnNews(std::function<void()> onNews);

  // Loader thread: `files` are news; calls onNews when there are any.
  void Add(std::vector<UnusableFile> files);

  // Any thread: the files added and not yet taken, oldest first, once each.
  std::vector<UnusableFile> Take();

 private:
  // Kept when nobody takes them (no window): the latest few.
  static constexpr std::size_t kKept = 8;

  std::mutex mutex_;  // never held across onNews
  std::vector<UnusableFile> pending_;
  std::function<void()> onNews_;
};

}  // namespace pendlo::sound::clips
