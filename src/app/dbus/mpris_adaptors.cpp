#include "app/dbus/mpris_adaptors.h"

#include <QDBusObjectPath>

#include "app/dbus/window_remote.h"

namespace pendlo::app::dbus {

MprisRoot::MprisRoot(QObject* object, WindowRemote& remote)
    : QDBusAbstractAdaptor(object), remote_(remote) {}

QString MprisRoot::Identity() const {
  return QStringLiteral("Pendlo");
}

QString MprisRoot::DesktopEntry() const {
  return QStringLiteral("io.github.pendlo.Pendlo");
}

void MprisRoot::Raise() {
  remote_.Raise();
}

void MprisRoot::Quit() {
  remote_.Exit();
}

MprisPlayer::MprisPlayer(QObject* object, WindowRemote& remote)
    : QDBusAbstractAdaptor(object), remote_(remote) {}

QString MprisPlayer::PlaybackStatus() const {
  return remote_.Running() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisPlayer::Metadata() const {
  // One track, the beat, whatever its tempo and meter.
  return {{QStringLiteral("mpris:trackid"),
           QVariant::fromValue(QDBusObjectPath(QStringLiteral("/io/github/pendlo/Pendlo/Beat")))},
          {QStringLiteral("xesam:title"), remote_.Title()}};
}

void MprisPlayer::Play() {
  remote_.Play();
}

void MprisPlayer::Pause() {
  // Nothing to hold: the beat starts from the bar's first beat again.
  remote_.Stop();
}

void MprisPlayer::PlayPause() {
  remote_.Toggle();
}

void MprisPlayer::Stop() {
  remote_.Stop();
}

}  // namespace pendlo::app::dbus
