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

TickDecision TickSequencer::MMTimerTimer(std::int64_t dueMicros) {
  TickDecision d;
  d.dueMicros = dueMicros;
  std::lock_guard lock(engine_.Mutex());
  BeatState& s = engine_.StateLocked();
  d.beat = s.Beat;
  d.group = s.CurGroup;
  // The period that begins now is the length of the note sounded now.
  if (engine_.PatternDefinedLocked() && engine_.MeterSelectionLocked() == kMeterTuplets) {
    d.nextInterval = static_cast<std::uint32_t>(NoteLength(s, s.CurGroup, s.Beat));
  }
  // The first beat of each group is the accent.
  d.click = s.Beat == 1 ? Click::Accent : Click::Plain;
  d.bar = d.click == Click::Accent ? 0 : 1;
  s.Beat += 1;
  if (GroupSize(s, s.CurGroup) < s.Beat) {
    s.Beat = 1;
    s.CurGroup += 1;
    if (s.CurGroup > s.GroupCount) s.CurGroup = 1;
  }
  return d;
}

}  // namespace pendlo
