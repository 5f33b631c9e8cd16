// MMTimerTimer: one tick of the metronome, run on the timer thread. Plays the
// accent or plain click, lights a bar, advances through the pattern and, for
// tuplets, sets the length of the coming period.
#pragma once

#include <cstdint>

#include "engine/beat_state.h"

namespace pendlo {

enum class Click { Accent, Plain };  // "pi.wav" + left bar, "po.wav" + right bar

// What a tick does to the world; filled in by the sound and window layers.
// All are called on the timer thread, none with the beat-state lock held
// except SetTimerInterval (which never waits when called from the tick).
class TickEffects {
 public:
  virtual ~TickEffects() = default;
  // Step 1: the coming period's length. May throw (EMMTimerError).
  virtual void SetTimerInterval(std::uint32_t ms) = 0;
  // Step 2: start the click for the tick due at `dueMicros` (timer clock) and
  // return at once.
  virtual void PlayClick(Click click, std::int64_t dueMicros) = 0;
  // Step 2: light the accent (left) or plain (right) bar for this tick.
  virtual void LightBar(Click bar, std::int64_t dueMicros) = 0;
  // Step 4: ask the window to paint now.
  virtual void RequestPaint() = 0;
  // Step 5: keep the handler occupied for at least 16 ms, sleeping.
  virtual void HoldLit() = 0;
  // Step 6: both bars back to black.
  virtual void Darken() = 0;
};

// Sleeps until at least `ms` milliseconds of the monotonic clock have passed.
void BusyWait(int ms);

class TickSequencer {
 public:
  TickSequencer(BeatEngine& engine, TickEffects& effects) : engine_(engine), effects_(effects) {}

  // One tick due at dueMicros. Steps 1 to 3 run under the beat-state lock;
  // the hold of step 5 does not. An error from step 1 propagates and the rest
  // of the tick does not run.
  void MMTimerTimer(std::int64_t dueMicros);

 private:
  BeatEngine& engine_;
  TickEffects& effects_;
};

}  // namespace pendlo
