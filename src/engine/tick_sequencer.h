// MMTimerTimer: one tick of the metronome, run on the timer thread. Plays the
// accent or plain click, lights a bar, advances through the pattern and, for
// tuplets, sets the length of the coming period. It takes microseconds: the
// bar's 16 ms flash is the window's, so a tuplet note of 11 ms lasts 11 ms.
#pragma once

#include <cstdint>

#include "engine/beat_state.h"

namespace pendlo {

enum class Click { Accent, Plain };  // "pi.wav" + left bar, "po.wav" + right bar

// What a tick does to the world; filled in by the sound and window layers.
// All are called on the timer thread and return at once, none with the
// beat-state lock held except SetTimerInterval (which never waits when called
// from the tick).
class TickEffects {
 public:
  virtual ~TickEffects() = default;
  // Step 1: the coming period's length. May throw (EMMTimerError).
  virtual void SetTimerInterval(std::uint32_t ms) = 0;
  // Step 2: start the click for the tick due at `dueMicros` (timer clock) and
  // return at once.
  virtual void PlayClick(Click click, std::int64_t dueMicros) = 0;
  // Step 2: flash the accent (left) or plain (right) bar for this tick: lit
  // about 16 ms from when its click is heard, then black again. Hands the
  // flash to the window and returns at once.
  virtual void LightBar(Click bar, std::int64_t dueMicros) = 0;
};

class TickSequencer {
 public:
  TickSequencer(BeatEngine& engine, TickEffects& effects) : engine_(engine), effects_(effects) {}

  // One tick due at dueMicros. Steps 1 to 3 run under the beat-state lock;
  // the click and the flash are handed on after it. An error from step 1
  // propagates and the rest of the tick does not run.
  void MMTimerTimer(std::int64_t dueMicros);

 private:
  BeatEngine& engine_;
  TickEffects& effects_;
};

}  // namespace pendlo
