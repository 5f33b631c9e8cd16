// Pendlo on the session bus: MPRIS 2 (org.mpris.MediaPlayer2.pendlo) for
// the desktop's media controls and its own interface
// (io.github.pendlo.Pendlo) for scripts. Each change of tempo, meter or
// running, from any side, is announced as PropertiesChanged on both, at
// most ten times a second (a drag of the scroll bar would otherwise send
// hundreds). GUI thread only; nothing of it runs on the timer or audio
// threads.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace pendlo::ui {
class TMetronome;
}

namespace pendlo::app::dbus {

class MprisPlayer;
class PendloInterface;
class WindowRemote;

class BusService : public QObject {
 public:
  // Registers the objects and takes the names on `bus` (the session bus).
  // Without a connection nothing is registered; a taken MPRIS name gives way to
  // org.mpris.MediaPlayer2.pendlo.instance<pid>, a taken own name to none
  // (scripts reach the copy that holds it). `raise` brings the window up.
  BusService(ui::TMetronome& window, std::function<void()> raise, QDBusConnection bus);
  // Gives the names back and stops listening to the window.
  ~BusService() override;
  BusService(const BusService&) = delete;
  BusService& operator=(const BusService&) = delete;

  // Whether the MPRIS name and the own name are held.
  bool HoldsMprisName() const { return !mprisName_.isEmpty(); }
  bool HoldsOwnName() const { return ownName_; }

 private:
  struct Seen {
    int tempo = 0, meter = 0;
    bool running = false;
  };
  // Something may have changed: announced now, or when the quiet time
  // after the last announcement ends.
  void Changed();
  // PropertiesChanged for what differs from the last announcement.
  void Announce();
  void Register();

  ui::TMetronome& window_;
  QDBusConnection bus_;
  std::unique_ptr<WindowRemote> remote_;
  QObject* mpris_ = nullptr;  // carries the MPRIS adaptors
  MprisPlayer* player_ = nullptr;
  PendloInterface* own_ = nullptr;
  QString mprisName_;
  bool ownName_ = false;
  Seen seen_;
  QTimer quiet_;          // runs for 100 ms after each announcement
  bool pending_ = false;  // a change came while it ran
};

}  // namespace pendlo::app::dbus
