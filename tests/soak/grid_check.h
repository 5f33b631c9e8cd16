// Checks a stream of ticks against the due-time grid of TMMTimer: each due
// time must be the base of the period in force plus whole periods, where the
// base is the previous tick's due time (the grid runs on, also when a tick
// re-arms for a new note length) or the moment the window re-armed the timer
// (a tempo or meter change starts a fresh period, no shorter than the
// lookahead). Ticks taken back never reach the check. Every grid point gets a
// call, but one that came more than kSilentAfter after its due time played
// nothing: those are passed over, as many as the clock reading in the next
// call that played says; any other gap, any doubled tick and any shift of
// even one microsecond is a fault.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "timer/clock.h"

namespace pendlo::soak {

inline constexpr Micros kNoReading = std::numeric_limits<Micros>::min();
// How late after its due time a tick may be called and still play.
inline constexpr Micros kSilentAfter = 10000;

struct TickRecord {
  Micros due = 0;                 // the call's DueTime
  Micros started = 0;             // clock when the timer woke for the call (and decided it)
  Micros timerRead = kNoReading;  // the clock reading in this tick's call
  std::uint32_t note = 0;         // timer's interval read after the tick set its own; 0: unread
  Micros noteSetBy = 0;           // clock right after that reading
};

struct GridFigures {
  std::uint64_t ticks = 0;
  std::uint64_t passedOver = 0;  // grid points called too late to play
  std::uint64_t rearms = 0;      // re-arms made by the window
  std::uint64_t faults = 0;
  Micros maxErrorMicros = 0;  // largest distance of a faulty tick from its expected due time
  Micros maxLateMicros = 0;   // latest call after its due time, over ticks played
  std::string firstFault;
};

class GridCheck {
 public:
  // Window thread: the timer was re-armed by the window when its clock read
  // `at`, with period `interval` ms and calls `lookahead` ahead of their due
  // times. In the order made.
  void Rearmed(Micros at, std::uint32_t interval, Micros lookahead = 0) {
    rearms_.push_back({at, interval, lookahead});
    ++figures_.rearms;
  }

  // The next tick, in the order of the calls. Every re-arm made before the
  // call started must have been reported.
  void Tick(const TickRecord& t) {
    ++figures_.ticks;
    // Re-arms between the previous call and this one belong to this period;
    // a tick called before a re-arm and kept (its click was beyond the
    // take-back's reach) stays on the old grid, even when due after it.
    const Micros from = prev_ ? prev_->started : std::numeric_limits<Micros>::min();
    const Rearm* last = nullptr;
    for (const Rearm& r : rearms_) {
      if (r.at >= from && r.at < t.started) last = &r;
    }
    // Where the period may have started, and its length.
    struct Candidate {
      Micros base;
      std::uint32_t interval;
      Micros lookahead = 0;  // a re-arm's first period lasts at least this
    };
    std::array<Candidate, 2> candidates{};
    std::size_t count = 0;
    if (last) {
      candidates[count++] = {last->at, last->interval, last->lookahead};
      // The previous tick's own setting may have come after the window's;
      // one equal to the window's changed nothing.
      if (prev_ && prev_->note != 0 && prev_->note != last->interval &&
          last->at <= prev_->noteSetBy)
        candidates[count++] = {prev_->due, prev_->note};
    } else if (prev_) {
      candidates[count++] = {prev_->due, prev_->note != 0 ? prev_->note : interval_};
    }

    Micros error = count == 0 ? 0 : std::numeric_limits<Micros>::max();
    bool matched = false;
    for (std::size_t i = 0; i < count; ++i) {
      const Candidate& c = candidates[i];
      const Micros period = static_cast<Micros>(c.interval) * 1000;
      if (period <= 0) continue;
      const Micros first = c.base + std::max(period, c.lookahead);
      // A grid point before the reading less kSilentAfter was called too late
      // to play; one after it was not.
      const bool read = t.timerRead != kNoReading;
      const Micros silentBefore = read ? t.timerRead - kSilentAfter : first;
      const Micros skipped =
          read && first < silentBefore ? (silentBefore - first + period - 1) / period : 0;
      const Micros expected = first + skipped * period;
      error = std::min(error, std::abs(t.due - expected));
      // Ticks passed over in tuplets set note lengths no record shows, so
      // after them the grid is taken up again from this tick.
      const bool afterSilence = skipped > 0 && t.due > first && t.due <= silentBefore + period;
      if (t.due == expected || afterSilence) {
        matched = true;
        interval_ = c.interval;
        figures_.passedOver += static_cast<std::uint64_t>(skipped);
        break;
      }
    }
    if (!matched) {
      ++figures_.faults;
      figures_.maxErrorMicros = std::max(figures_.maxErrorMicros, error);
      if (figures_.firstFault.empty()) {
        figures_.firstFault = "tick " + std::to_string(figures_.ticks) + " due " +
                              std::to_string(t.due) + " us: " +
                              (count == 0 ? std::string("no period armed")
                                          : std::to_string(error) + " us off the grid");
      }
    }
    figures_.maxLateMicros = std::max(figures_.maxLateMicros, t.started - t.due);
    std::erase_if(rearms_, [&](const Rearm& r) { return r.at < t.started; });
    prev_ = t;
  }

  const GridFigures& Figures() const { return figures_; }

 private:
  struct Rearm {
    Micros at;
    std::uint32_t interval;
    Micros lookahead;
  };
  std::vector<Rearm> rearms_;
  std::optional<TickRecord> prev_;
  std::uint32_t interval_ = 0;  // the period in force after the last tick
  GridFigures figures_;
};

}  // namespace pendlo::soak
