// What the session bus sees of the main window and how it moves it. Every
// change goes through the control the user would use (the scroll bar, the
// meter group, the buttons), so the window's own handler runs, its beat
// rules hold and the close saves the change. GUI thread only.
#pragma once

#include <QString>
#include <functional>

namespace pendlo::ui {
class TMetronome;
}

namespace pendlo::app::dbus {

class WindowRemote {
 public:
  // `raise` shows the window and brings it to the front.
  WindowRemote(ui::TMetronome& window, std::function<void()> raise);

  int Tempo() const;
  // The meter group's index, 0 to 10 (-1: none chosen).
  int Meter() const;
  bool Running() const;
  // The tempo and the meter item's caption, "120 BPM · 4"; without a meter
  // the tempo alone.
  QString Title() const;

  // Moves the scroll bar (its change handler runs when the position
  // changes). Empty when done; otherwise why not, and nothing changed.
  QString SetTempo(int tempo);
  // Chooses meter item `index` (its click handler runs on a change). Empty
  // when done; otherwise why not, and nothing changed.
  QString SetMeter(int index);

  // The buttons' clicks, each after the bus call that asked has its answer:
  // an error box the handler shows must not hold the caller.
  void Start();
  void Stop();
  // Start unless the beat runs.
  void Play();
  // Stop when the beat runs, Start otherwise.
  void Toggle();
  // Exit: stops, closes and saves as the button does.
  void Exit();
  void Raise();

 private:
  // Runs `act` once the event loop is back, before any later bus call.
  void Later(std::function<void()> act);

  ui::TMetronome& window_;
  std::function<void()> raise_;
};

}  // namespace pendlo::app::dbus
