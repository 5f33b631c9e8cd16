// What the transport needs from the sound output: the clock the timer runs
// on, how far ahead of its due time a click must be handed over, queueing a
// click on the frame of its due time, taking queued clicks back, and when a
// click due at a clock time is heard.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "timer/clock.h"

namespace pendlo::sound::link {

// A click that can no longer start within this of its frame (a tick called
// late: the timer woke after a stall) is counted but not heard: a slightly
// late click is better than none, a burst of late ones after a stall is not.
inline constexpr Micros kLateClickGraceMicros = 10000;

class SoundLink {
 public:
  virtual ~SoundLink() = default;

  // The clock the beat timer runs on. Stays the same object for the link's
  // life.
  virtual std::shared_ptr<Clock> TimerClock() = 0;

  // How long before its due time a click must reach Play so that it still
  // sounds on its frame: one cycle of the output plus the timer's worst late
  // wake-up. May change when the output is (re)opened; read it at Start.
  // Any thread.
  virtual Micros LookaheadMicros() const { return 0; }

  // Queues the click file at `path` to start on the frame of `due`
  // (TimerClock() time, up to a few lookaheads ahead) and returns at once.
  // A click cuts off the one sounding before it. False when the output can
  // no longer start it within kLateClickGraceMicros of its frame: nothing
  // was queued. Timer thread.
  virtual bool Play(const std::string& path, Micros due) = 0;

  // Takes back the queued clicks due from `from` (TimerClock() time) on, as
  // far as the output still can: returns the due time (>= from) from which
  // every queued click was taken back and is never heard; a click due before
  // it may already be rendered or read by the server and will sound. Returns
  // at once. Any thread.
  virtual Micros TakeBack(Micros from) { return from; }

  // The steady-clock microsecond (std::chrono::steady_clock) at which a
  // click due at `due` reaches the listener. Timer thread.
  virtual Micros HeardAt(Micros due) = 0;

  // Asks for the click file at `path` to be read ahead of its first tick, off
  // the timer thread. Returns at once. GUI thread. A link that reads no files
  // has nothing to do.
  virtual void Prepare(const std::string& path) { (void)path; }
  // As Prepare, for the accent's file: while that cannot be used, the
  // accent is stood in for by a tone louder than the plain click, so the
  // bar's first beat stays its strongest. GUI thread.
  virtual void PrepareAccent(const std::string& path) { Prepare(path); }

  // The beat stopped (true) or is about to start (false): an output may
  // rest meanwhile. Never waits: a waking output keeps TimerClock() running
  // and joins it to the stream once it plays again. GUI thread.
  virtual void Rest(bool resting) { (void)resting; }

  // Tries again to open the output if it is not open (pressing Start).
  // Reports a failure once, by throwing the first time only. GUI thread.
  virtual void EnsureOpen() = 0;

  // What to call, on any thread, when a sound failure turns up by itself
  // (the output lost while playing, a click file found unusable). GUI
  // thread, before EnsureOpen.
  virtual void SetOnFailure(std::function<void()> onFailure) { (void)onFailure; }
  // What to call, on any thread, when the output plays again after a
  // failure (one told by itself or by EnsureOpen). GUI thread, before
  // EnsureOpen.
  virtual void SetOnRecovered(std::function<void()> onRecovered) { (void)onRecovered; }
  // Throws a failure that turned up by itself, once; never waits for the
  // output. GUI thread.
  virtual void ReportFailure() {}
};

// No sound: the beat runs on `clock` (the monotonic clock when null) and is
// seen at its due time. For tests and machines without audio.
std::unique_ptr<SoundLink> SilentSoundLink(std::shared_ptr<Clock> clock = nullptr);

}  // namespace pendlo::sound::link
