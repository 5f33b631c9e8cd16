// MMTimerTimer: one tick of the metronome, run on the timer thread. Chooses
// the accent or plain click and the bar to light, advances through the
// pattern and, for tuplets, gives the length of the coming period. It only
// decides: the transport applies the decision outside the beat-state lock.
// Lengths are in milliseconds, times in microseconds: the bar's 16 ms flash
// is the window's, so a tuplet note of 11 ms lasts 11 ms.
#pragma once

#include <cstdint>

#include "engine/beat_state.h"

namespace pendlo {

enum class Click { Accent, Plain };  // "pi.wav" + left bar, "po.wav" + right bar

// What one tick decided, in the order it is applied.
struct TickDecision {
  // The period that begins now, in ms; 0 leaves the timer's as it is.
  std::uint32_t nextInterval = 0;
  Click click = Click::Accent;
  int bar = 0;  // 0: the accent's (left) bar, 1: the plain click's (right)
  std::int64_t dueMicros = 0;
  // The position the tick sounded, before it advanced: where the beat goes
  // back to when the tick is taken back.
  int beat = 1, group = 1;
};

class TickSequencer {
 public:
  explicit TickSequencer(BeatEngine& engine) : engine_(engine) {}

  // One tick due at dueMicros: reads and advances the beat state under its
  // lock and calls nothing else.
  TickDecision MMTimerTimer(std::int64_t dueMicros);

 private:
  BeatEngine& engine_;
};

}  // namespace pendlo
