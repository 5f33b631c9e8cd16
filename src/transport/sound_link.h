// What the transport needs from the sound output: play a click for a tick,
// the clock the timer runs on, and when a click due at a clock time is heard.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "timer/clock.h"

namespace pendlo {

class SoundLink {
 public:
  virtual ~SoundLink() = default;

  // The clock the beat timer runs on. Stays the same object for the link's
  // life.
  virtual std::shared_ptr<Clock> TimerClock() = 0;

  // Starts the click file at `path` for the tick due at `due` (TimerClock()
  // time) and returns at once. Timer thread.
  virtual void Play(const std::string& path, Micros due) = 0;

  // The steady-clock microsecond (std::chrono::steady_clock) at which a
  // click due at `due` reaches the listener. Timer thread.
  virtual Micros HeardAt(Micros due) = 0;

  // Asks for the click file at `path` to be read ahead of its first tick, off
  // the timer thread. Returns at once. GUI thread. A link that reads no files
  // has nothing to do.
  virtual void Prepare(const std::string& path) { (void)path; }

  // The beat stopped (true) or is about to start (false): an output may
  // rest meanwhile. Waking, it may wait (briefly) until it plays again, so
  // that the beat starts from there. GUI thread.
  virtual void Rest(bool resting) { (void)resting; }

  // Tries again to open the output if it is not open (pressing Start).
  // Reports a failure once, by throwing the first time only. GUI thread.
  virtual void EnsureOpen() = 0;

  // What to call, on any thread, when a sound failure turns up by itself
  // (the output lost while playing). GUI thread, before EnsureOpen.
  virtual void SetOnFailure(std::function<void()> onFailure) { (void)onFailure; }
  // Throws a failure that turned up by itself, once; never waits for the
  // output. GUI thread.
  virtual void ReportFailure() {}
};

// No sound: the beat runs on `clock` (the monotonic clock when null) and is
// seen at its due time. For tests and machines without audio.
std::unique_ptr<SoundLink> SilentSoundLink(std::shared_ptr<Clock> clock = nullptr);

}  // namespace pendlo
