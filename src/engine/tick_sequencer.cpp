#include "engine/tick_sequencer.h"

#include <algorithm>

namespace pendlo {
namespace {

// Size of group g as the sequencer sees it. An empty pattern has no groups:
// it counts as a bar of 0 beats, so every tick is an accent, instead of
// reading what an earlier pattern left in the tables.
int GroupSize(const BeatState& s, int g) {
  if (s.GroupCount == 0) return 0;
  return s.Groups[std::clamp(g, 1, kMaxGroups)];
}

// The length of note `beat` of group `g` in tuplet mode; BaseInterval when
// there is no such note (an empty pattern, or a table entry never written),
// since a zero interval would silently stop the clock.
int NoteLength(const BeatState& s, int g, int beat) {
  if (s.GroupCount == 0) return s.BaseInterval;
  const int ms = s.SubIntervals[std::clamp(g, 1, kMaxGroups)][std::clamp(beat, 1, kMaxNotes)];
  return ms > 0 ? ms : s.BaseInterval;
}

}  // namespace

void TickSequencer::MMTimerTimer(std::int64_t dueMicros) {
  Click click;
  {
    std::lock_guard lock(engine_.Mutex());
    BeatState& s = engine_.StateLocked();
    // Step 1: the period that begins now is the length of the note sounded now.
    if (engine_.PatternDefinedLocked() && engine_.MeterSelectionLocked() == kMeterTuplets) {
      effects_.SetTimerInterval(static_cast<std::uint32_t>(NoteLength(s, s.CurGroup, s.Beat)));
    }
    // Step 2 (choice): the first beat of each group is the accent.
    click = s.Beat == 1 ? Click::Accent : Click::Plain;
    // Step 3: advance.
    s.Beat += 1;
    if (GroupSize(s, s.CurGroup) < s.Beat) {
      s.Beat = 1;
      s.CurGroup += 1;
      if (s.CurGroup > s.GroupCount) s.CurGroup = 1;
    }
  }
  effects_.PlayClick(click, dueMicros);
  // No hold here: a 16 ms wait on this thread would stretch every shorter
  // tuplet note to 16 ms and slow the beat (600 BPM in nines played at
  // about 413). The window keeps the bar lit and darkens it.
  effects_.LightBar(click, dueMicros);
}

}  // namespace pendlo
