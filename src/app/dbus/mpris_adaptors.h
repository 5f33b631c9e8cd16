// MPRIS 2 (org.mpris.MediaPlayer2 and its Player interface): the desktop's
// media controls, headset buttons and pedals start and stop the beat and
// read the tempo and meter as the track's title. A metronome has no
// position, tracks or rate: Pause stops, and seeking, next and previous do
// nothing (their Can* properties say so). GUI thread only.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace pendlo::app::dbus {

class WindowRemote;

// The root interface: identity, Raise and Quit.
class MprisRoot : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ Yes)
  Q_PROPERTY(bool CanRaise READ Yes)
  Q_PROPERTY(bool HasTrackList READ No)
  Q_PROPERTY(bool Fullscreen READ No)
  Q_PROPERTY(bool CanSetFullscreen READ No)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ None)
  Q_PROPERTY(QStringList SupportedMimeTypes READ None)

 public:
  // Attaches to `object`, which is registered with its adaptors.
  MprisRoot(QObject* object, WindowRemote& remote);

  bool Yes() const { return true; }
  bool No() const { return false; }
  QString Identity() const;
  QString DesktopEntry() const;
  QStringList None() const { return {}; }

 public slots:
  // Shows the window and brings it to the front.
  void Raise();
  // Exits as the Exit button does, saving.
  void Quit();

 private:
  WindowRemote& remote_;
};

// The Player interface: PlaybackStatus and the title of the beat.
class MprisPlayer : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Rate READ One)
  Q_PROPERTY(double MinimumRate READ One)
  Q_PROPERTY(double MaximumRate READ One)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanPlay READ Yes)
  Q_PROPERTY(bool CanPause READ Yes)
  Q_PROPERTY(bool CanControl READ Yes)
  Q_PROPERTY(bool CanGoNext READ No)
  Q_PROPERTY(bool CanGoPrevious READ No)
  Q_PROPERTY(bool CanSeek READ No)

 public:
  // Attaches to `object`, which is registered with its adaptors.
  MprisPlayer(QObject* object, WindowRemote& remote);

  // "Playing" or "Stopped".
  QString PlaybackStatus() const;
  // mpris:trackid and xesam:title ("120 BPM · 4").
  QVariantMap Metadata() const;
  double One() const { return 1.0; }
  qlonglong Position() const { return 0; }
  bool Yes() const { return true; }
  bool No() const { return false; }

 public slots:
  // Start and Stop as their buttons do; Play while playing and Stop while
  // stopped change nothing.
  void Play();
  void Pause();
  void PlayPause();
  void Stop();
  // Nothing to go to or seek in.
  void Next() {}
  void Previous() {}
  void Seek(qlonglong) {}
  void SetPosition(const QDBusObjectPath&, qlonglong) {}
  void OpenUri(const QString&) {}

 private:
  WindowRemote& remote_;
};

}  // namespace pendlo::app::dbus
