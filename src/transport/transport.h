// Transport: the beat engine, the beat timer and the click output, and the
// one place a tick runs. Each tick is decided the output's lookahead before
// its due time: the timer thread asks the sequencer what the tick decided
// and applies it here, in order: the coming period's length to the timer,
// then the click queued on its due time, then one hand-off of the bar to
// light and when its click is heard to whoever listens (the window's flash).
// Every change the GUI thread makes (tempo, meter, pattern, Start, Stop)
// ends by taking back the ticks decided but not yet heard, as far as the
// output can still take their clicks back, so the beat goes on as if the
// change had come before they were decided. No lock is held
// across a call into the timer or the sound output.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/beat_state.h"
#include "engine/tick_sequencer.h"
#include "sound/link/sound_link.h"
#include "timer/mmtimer.h"

namespace pendlo {

class Transport {
 public:
  // Called on the timer thread; must return at once without waiting.
  using BarListener = std::function<void(int bar, Micros heardAt)>;
  using ErrorListener = std::function<void(const std::string& message)>;
  // Called on the thread making a change: every bar handed over with a
  // heardAt at or after `heardFrom` was taken back and must not be shown.
  using TakeBackListener = std::function<void(Micros heardFrom)>;

  // The beat runs on the sound's clock; a null sound is the silent one.
  explicit Transport(std::unique_ptr<sound::link::SoundLink> sound = nullptr);
  // Stops the beat: no tick runs once it returns.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The listeners and the click files may be set only while stopped: the
  // timer thread reads them without a lock.
  void SetBarListener(BarListener listener);
  void SetErrorListener(ErrorListener listener);
  void SetTakeBackListener(TakeBackListener listener);
  void SetClickFiles(std::string accent, std::string plain);

  // Holds the beat while the GUI thread makes one change of several calls
  // (a tempo change rebuilds the pattern too): once the outermost Change
  // ends, the ticks decided ahead are taken back once and decided again with
  // everything changed. Every call below that changes the beat opens one of
  // its own. GUI thread.
  class Change {
   public:
    explicit Change(Transport& transport);
    ~Change();
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

   private:
    Transport& transport_;
  };

  // Tempo -> Tempo and BaseInterval; the timer takes the new interval when
  // the change ends.
  // Returns the interval in ms.
  int ChangeTempo(int tempo);
  void SetMeterSelection(int index);
  // Meter and the definition text's display lines -> beat pattern.
  void ManageHyoushi(const std::vector<std::string>& displayLines);
  void ResetPosition();

  // The pattern from the first beat, the output opened and its lookahead
  // read if the beat was off, the clicks read ahead and the timer on. Never
  // waits for the output. A sound output that cannot be opened is thrown
  // after the beat has started: it then runs silently.
  void Start();
  // No tick runs once it returns (unless called from a tick), and no click
  // sounds after it but one already begun.
  void Stop();
  bool Running() const;

  // Asks the output to read the click files ahead of their first tick.
  void PrepareClicks();

  BeatEngine& Engine() { return engine_; }
  const TMMTimer& Timer() const { return *timer_; }
  sound::link::SoundLink& Sound() { return *sound_; }

 private:
  // A tick decided ahead whose click may not have been heard yet.
  struct Decided {
    Micros due;
    int beat, group;               // the position it started from
    std::uint32_t intervalBefore;  // the timer's period before it
    Micros heardAt;
  };

  void OnTick(TMMTimer& sender);
  // The end of the outermost Change: the take-back, then what the change
  // asked of the position and the period, which the take-back would undo.
  void EndChange();
  // Takes back every decided tick due from now on whose click the output
  // could still take back: its click, its flash, what it did to the
  // position and the period. No tick may run meanwhile.
  void TakeBack();

  std::unique_ptr<sound::link::SoundLink> sound_;
  BeatEngine engine_;
  TickSequencer sequencer_{engine_};
  BarListener onBar_;
  ErrorListener onError_;
  TakeBackListener onTakeBack_;
  int changes_ = 0;  // Changes open; GUI thread
  // What the open Change asked for that its end applies; GUI thread.
  bool restartBar_ = false;
  std::uint32_t newInterval_ = 0;
  // Ticks write it in their calls; the GUI thread touches it only while the
  // timer is held or disabled.
  std::deque<Decided> decided_;
  std::string accentFile_, plainFile_;
  std::unique_ptr<TMMTimer> timer_;
};

}  // namespace pendlo
