#include "app/dbus/bus_service.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "app/dbus/mpris_adaptors.h"
#include "app/dbus/pendlo_interface.h"
#include "app/dbus/window_remote.h"
#include "ui/window/metronome.h"

namespace pendlo::app::dbus {

namespace {

const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kMprisName = QStringLiteral("org.mpris.MediaPlayer2.pendlo");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kOwnPath = QStringLiteral("/io/github/pendlo/Pendlo");
const QString kOwnName = PendloInterface::Name();
constexpr int kQuietMs = 100;  // at most ten announcements a second

void EmitPropertiesChanged(QDBusConnection& bus, const QString& path, const QString& interface,
                           const QVariantMap& changed) {
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
  signal << interface << changed << QStringList();
  bus.send(signal);
}

}  // namespace

BusService::BusService(ui::TMetronome& window, std::function<void()> raise, QDBusConnection bus)
    : QObject(nullptr),
      window_(window),
      bus_(std::move(bus)),
      remote_(std::make_unique<WindowRemote>(window, std::move(raise))) {
  quiet_.setSingleShot(true);
  quiet_.setInterval(kQuietMs);
  connect(&quiet_, &QTimer::timeout, this, [this] {
    if (!pending_) return;
    pending_ = false;
    Announce();
  });
  seen_ = {remote_->Tempo(), remote_->Meter(), remote_->Running()};
  if (bus_.isConnected()) Register();
}

BusService::~BusService() {
  window_.SetOnStateChange({});
  if (!bus_.isConnected()) return;
  if (HoldsMprisName()) bus_.unregisterService(mprisName_);
  if (ownName_) bus_.unregisterService(kOwnName);
  bus_.unregisterObject(kMprisPath);
  bus_.unregisterObject(kOwnPath);
}

void BusService::Register() {
  mpris_ = new QObject(this);
  new MprisRoot(mpris_, *remote_);
  player_ = new MprisPlayer(mpris_, *remote_);
  own_ = new PendloInterface(*remote_, this);
  // The objects first: whoever sees a name appear finds them there.
  bus_.registerObject(kMprisPath, mpris_, QDBusConnection::ExportAdaptors);
  bus_.registerVirtualObject(kOwnPath, own_);
  window_.SetOnStateChange([this] { Changed(); });
  // A copy on another data directory runs beside this one: MPRIS names it
  // as a second instance.
  const QString instance = kMprisName + QStringLiteral(".instance%1").arg(getpid());
  if (bus_.registerService(kMprisName)) {
    mprisName_ = kMprisName;
  } else if (bus_.registerService(instance)) {
    mprisName_ = instance;
  }
  ownName_ = bus_.registerService(kOwnName);
}

void BusService::Changed() {
  if (quiet_.isActive()) {
    pending_ = true;
    return;
  }
  Announce();
}

void BusService::Announce() {
  const Seen now{remote_->Tempo(), remote_->Meter(), remote_->Running()};
  QVariantMap player, own;
  if (now.running != seen_.running) {
    player[QStringLiteral("PlaybackStatus")] = player_->PlaybackStatus();
    own[QStringLiteral("Running")] = now.running;
  }
  if (now.tempo != seen_.tempo) own[QStringLiteral("Tempo")] = now.tempo;
  if (now.meter != seen_.meter) own[QStringLiteral("Meter")] = now.meter;
  if (now.tempo != seen_.tempo || now.meter != seen_.meter) {
    player[QStringLiteral("Metadata")] = player_->Metadata();
  }
  seen_ = now;
  EmitPropertiesChanged(bus_, kMprisPath, kPlayerInterface, player);
  EmitPropertiesChanged(bus_, kOwnPath, kOwnName, own);
  quiet_.start();
}

}  // namespace pendlo::app::dbus
