#include "sound/clips/unusable_files.h"

#include <iterator>
#include <utility>

namespace pendlo::sound::clips {

void UnusableFileReport::SetOnNews(std::function<void()> onNews) {
  std::lock_guard lock(mutex_);
  onNews_ = std::move(onNews);
}

void UnusableFileReport::Add(std::vector<UnusableFile> files) {
  if (files.empty()) return;
  std::function<void()> notify;
  {
    std::lock_guard lock(mutex_);
    pending_.insert(pending_.end(), std::make_move_iterator(files.begin()),
                    std::make_move_iterator(files.end()));
    if (pending_.size() > kKept)
      pending_.erase(pending_.begin(), pending_.end() - static_cast<long>(kKept));
    notify = onNews_;
  }
  if (notify) notify();
}

std::vector<UnusableFile> UnusableFileReport::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(pending_, {});
}

}  // namespace pendlo::sound::clips
