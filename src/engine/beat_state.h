// The metronome's musical state and the operations that derive it from the
// user's settings: tempo -> beat interval, meter + definition text -> beat
// pattern, tuplet beats -> note intervals. Pure C++, shared by the GUI thread
// (which changes it) and the timer thread (which reads and advances it).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace pendlo {

inline constexpr int kMaxGroups = 1024;  // rows of Groups and SubIntervals
inline constexpr int kMaxNotes = 9;      // a digit names at most 9 notes
inline constexpr int kTempoMin = 20;
inline constexpr int kTempoMax = 600;
inline constexpr int kMeterIrregular = 9;  // "変拍子"
inline constexpr int kMeterTuplets = 10;   // "連符"

// The beat state. Tables are 1-based as the pattern is counted by musicians;
// row and column 0 are unused. Entries beyond GroupCount are never cleared.
struct BeatState {
  int Tempo = 0;
  int Beat = 0;        // 1-based position of the next tick inside the group
  int GroupCount = 0;  // valid entries in Groups
  int CurGroup = 0;    // 1-based current group
  std::array<int, kMaxGroups + 1> Groups{};
  std::array<std::array<int, kMaxNotes + 1>, kMaxGroups + 1> SubIntervals{};
  int BaseInterval = 0;  // milliseconds per beat
};

// 60000 / tempo rounded to the nearest integer, ties to even: 192 -> 312,
// 64 -> 938, 320 -> 188.
int IntervalForTempo(int tempo);

// The beat state behind one lock, with the three operations that rebuild it.
// GUI-thread methods lock internally and never call out while locked, so the
// caller then re-arms or disarms the timer without holding the lock.
class BeatEngine {
 public:
  // Tempo := tempo, BaseInterval := IntervalForTempo(tempo). Returns
  // BaseInterval, which the caller gives the timer as its Interval.
  int ChangeTempo(int tempo);

  // The meter selection, -1..10 (the radio group's index). Set on every
  // change of the index, also when no meter handler runs.
  void SetMeterSelection(int index);
  int MeterSelection() const;

  // Rebuilds Groups and GroupCount from the meter selection and the
  // definition text's display lines (UTF-8 or Shift-JIS bytes: only "1".."9"
  // count; a line whose very first byte is "/" is a comment). Digits beyond
  // the 1024th are ignored. Meters 9 and 10 also run SetInterval.
  void ManageHyoushi(const std::vector<std::string>& displayLines);

  // Beat := 1, CurGroup := 1.
  void ResetPosition();
  // Beat := beat, CurGroup := group: the position a tick started from, given
  // back when that tick is taken back.
  void SetPosition(int beat, int group);

  // A definition text with some content has been read this run.
  bool PatternDefined() const;

  // A copy of the state, for display and tests.
  BeatState Snapshot() const;

  // The one lock around the beat state; the tick sequencer holds it while
  // it decides a tick. Never held across a call into the timer or the sound.
  std::mutex& Mutex() const { return mutex_; }
  // Direct access for holders of Mutex().
  BeatState& StateLocked() { return state_; }
  int MeterSelectionLocked() const { return meter_; }
  bool PatternDefinedLocked() const { return patternDefined_; }

 private:
  void SetIntervalLocked();

  mutable std::mutex mutex_;
  BeatState state_;
  int meter_ = 3;  // "4", as the window is built
  bool patternDefined_ = false;
};

}  // namespace pendlo
