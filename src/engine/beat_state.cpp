#include "engine/beat_state.h"

#include <cmath>

namespace pendlo {

int IntervalForTempo(int tempo) {
  if (tempo <= 0) return 0;
  // nearbyint honours the default rounding mode: to nearest, ties to even.
  return static_cast<int>(std::nearbyint(60000.0 / tempo));
}

int BeatEngine::ChangeTempo(int tempo) {
  std::lock_guard lock(mutex_);
  state_.Tempo = tempo;
  state_.BaseInterval = IntervalForTempo(tempo);
  return state_.BaseInterval;
}

void BeatEngine::SetMeterSelection(int index) {
  std::lock_guard lock(mutex_);
  meter_ = index;
}

int BeatEngine::MeterSelection() const {
  std::lock_guard lock(mutex_);
  return meter_;
}

void BeatEngine::ManageHyoushi(const std::vector<std::string>& displayLines) {
  std::lock_guard lock(mutex_);
  if (meter_ <= 8) {
    state_.GroupCount = 1;
    state_.Groups[1] = meter_ + 1;  // -1 (nothing selected) gives a bar of 0 beats
    return;
  }
  bool any = false;
  int count = 0;
  for (const std::string& line : displayLines) {
    if (line.empty() || line.front() == '/') continue;
    any = true;
    for (const char c : line) {
      if (c < '1' || c > '9') continue;
      if (count == kMaxGroups) break;  // the tables hold 1024 groups; the rest is ignored
      state_.Groups[++count] = c - '0';
    }
  }
  if (any) patternDefined_ = true;
  state_.GroupCount = count;
  SetIntervalLocked();
}

void BeatEngine::SetIntervalLocked() {
  for (int g = 1; g <= state_.GroupCount; ++g) {
    const int d = state_.Groups[g];
    const int q = state_.BaseInterval / d;
    int r = state_.BaseInterval - q * d;
    // The first r notes take the spare milliseconds, so the group adds up to
    // exactly one beat: 1000 in 3 gives 334, 333, 333.
    for (int k = 1; k <= d; ++k) {
      state_.SubIntervals[g][k] = r > 0 ? q + 1 : q;
      --r;
    }
  }
}

void BeatEngine::ResetPosition() {
  std::lock_guard lock(mutex_);
  state_.Beat = 1;
  state_.CurGroup = 1;
}

void BeatEngine::SetPosition(int beat, int group) {
  std::lock_guard lock(mutex_);
  state_.Beat = beat;
  state_.CurGroup = group;
}

bool BeatEngine::PatternDefined() const {
  std::lock_guard lock(mutex_);
  return patternDefined_;
}

BeatState BeatEngine::Snapshot() const {
  std::lock_guard lock(mutex_);
  return state_;
}

}  // namespace pendlo
