#include "sound/player/rest_plan.h"

namespace pendlo::sound::player {

void RestPlan::SetResting(bool resting, Micros now) {
  resting_ = resting;
  since_ = now;
}

OutputAtRest RestPlan::Wanted(Micros now, bool releasable) const {
  if (!resting_) return OutputAtRest::kPlaying;
  const Micros rested = now - since_;
  if (releasable && releaseAfter_ > 0 && rested >= releaseAfter_) return OutputAtRest::kReleased;
  return rested >= pauseAfter_ ? OutputAtRest::kPaused : OutputAtRest::kPlaying;
}

std::optional<Micros> RestPlan::NextChange(Micros now, bool releasable) const {
  if (!resting_) return std::nullopt;
  std::optional<Micros> next;
  const auto consider = [&](Micros after) {
    const Micros at = since_ + after;
    if (at > now && (!next || at < *next)) next = at;
  };
  consider(pauseAfter_);
  if (releasable && releaseAfter_ > 0) consider(releaseAfter_);
  // A pause after the release would change nothing.
  if (next && Wanted(now, releasable) == OutputAtRest::kReleased) return std::nullopt;
  return next;
}

}  // namespace pendlo::sound::player
