// Transport: the beat engine, the beat timer and the click output, and the
// one place a tick runs. On each tick the timer thread asks the sequencer
// what the tick decided and applies it here, in order: the coming period's
// length to the timer, then the click, then one hand-off of the bar to light
// and when its click is heard to whoever listens (the window's flash).
// Everything else is called from the GUI thread. No lock is held across a
// call into the timer or the sound output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/beat_state.h"
#include "engine/tick_sequencer.h"
#include "timer/mmtimer.h"
#include "sound/sound_link.h"

namespace pendlo {

class Transport {
 public:
  // Called on the timer thread; must return at once without waiting.
  using BarListener = std::function<void(int bar, Micros heardAt)>;
  using ErrorListener = std::function<void(const std::string& message)>;

  // The beat runs on the sound's clock; a null sound is the silent one.
  explicit Transport(std::unique_ptr<SoundLink> sound = nullptr);
  // Stops the beat: no tick runs once it returns.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The listeners and the click files may be set only while stopped: the
  // timer thread reads them without a lock.
  void SetBarListener(BarListener listener);
  void SetErrorListener(ErrorListener listener);
  void SetClickFiles(std::string accent, std::string plain);

  // Tempo -> Tempo and BaseInterval; the timer takes the new interval.
  // Returns the interval in ms.
  int ChangeTempo(int tempo);
  void SetMeterSelection(int index);
  // Meter and the definition text's display lines -> beat pattern.
  void ManageHyoushi(const std::vector<std::string>& displayLines);
  void ResetPosition();

  // The pattern from the first beat, the output opened if the beat was off,
  // the clicks read ahead and the timer on. A sound output that cannot be
  // opened is thrown after the beat has started: it then runs silently.
  void Start();
  // No tick runs once it returns (unless called from a tick).
  void Stop();
  bool Running() const;

  // Asks the output to read the click files ahead of their first tick.
  void PrepareClicks();

  BeatEngine& Engine() { return engine_; }
  const TMMTimer& Timer() const { return *timer_; }
  SoundLink& Sound() { return *sound_; }

 private:
  void OnTick(TMMTimer& sender);

  std::unique_ptr<SoundLink> sound_;
  BeatEngine engine_;
  TickSequencer sequencer_{engine_};
  BarListener onBar_;
  ErrorListener onError_;
  std::string accentFile_, plainFile_;
  std::unique_ptr<TMMTimer> timer_;
};

}  // namespace pendlo
