#include "app/dbus/pendlo_interface.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>

#include "app/dbus/window_remote.h"

namespace pendlo::app::dbus {

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// What introspection shows of the interface; Properties, Introspectable and
// Peer come from Qt.
const char kInterfaceXml[] = R"(<interface name="io.github.pendlo.Pendlo">
  <property name="Tempo" type="i" access="readwrite"/>
  <property name="Meter" type="i" access="readwrite"/>
  <property name="Running" type="b" access="read"/>
  <method name="Start"/>
  <method name="Stop"/>
</interface>
)";

QDBusMessage Error(const QDBusMessage& message, QDBusError::ErrorType type, const QString& text) {
  return message.createErrorReply(type, text);
}

}  // namespace

PendloInterface::PendloInterface(WindowRemote& remote, QObject* parent)
    : QDBusVirtualObject(parent), remote_(remote) {}

QString PendloInterface::Name() {
  return QStringLiteral("io.github.pendlo.Pendlo");
}

QVariantMap PendloInterface::Properties() const {
  return {{QStringLiteral("Tempo"), remote_.Tempo()},
          {QStringLiteral("Meter"), remote_.Meter()},
          {QStringLiteral("Running"), remote_.Running()}};
}

QString PendloInterface::introspect(const QString&) const {
  return QString::fromUtf8(kInterfaceXml);
}

bool PendloInterface::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
  const QString member = message.member();
  const QList<QVariant> args = message.arguments();
  QDBusMessage reply;
  if (message.interface() == kProperties) {
    const bool ours = !args.isEmpty() && args[0].toString() == Name();
    const QVariantMap all = Properties();
    if (member == QStringLiteral("GetAll") && args.size() == 1) {
      reply = ours ? message.createReply(all)
                   : Error(message, QDBusError::UnknownInterface, args[0].toString());
    } else if (member == QStringLiteral("Get") && args.size() == 2) {
      const QString name = args[1].toString();
      reply = ours && all.contains(name)
                  ? message.createReply(QVariant::fromValue(QDBusVariant(all[name])))
                  : Error(message, QDBusError::UnknownProperty, name);
    } else if (member == QStringLiteral("Set") && args.size() == 3) {
      reply =
          ours ? Set(message) : Error(message, QDBusError::UnknownInterface, args[0].toString());
    } else {
      return false;
    }
  } else if (message.interface() == Name() || message.interface().isEmpty()) {
    if (member == QStringLiteral("Start")) {
      remote_.Start();
    } else if (member == QStringLiteral("Stop")) {
      remote_.Stop();
    } else {
      return false;
    }
    reply = message.createReply();
  } else {
    return false;
  }
  connection.send(reply);
  return true;
}

QDBusMessage PendloInterface::Set(const QDBusMessage& message) {
  const QString name = message.arguments()[1].toString();
  const QVariant value = message.arguments()[2].value<QDBusVariant>().variant();
  if (name == QStringLiteral("Running")) {
    return Error(message, QDBusError::PropertyReadOnly, QStringLiteral("Running is read-only"));
  }
  if (name != QStringLiteral("Tempo") && name != QStringLiteral("Meter")) {
    return Error(message, QDBusError::UnknownProperty, name);
  }
  if (value.metaType() != QMetaType::fromType<int>()) {
    return Error(message, QDBusError::InvalidArgs, name + QStringLiteral(" takes an int32"));
  }
  const QString refusal = name == QStringLiteral("Tempo") ? remote_.SetTempo(value.toInt())
                                                          : remote_.SetMeter(value.toInt());
  return refusal.isEmpty() ? message.createReply()
                           : Error(message, QDBusError::InvalidArgs, refusal);
}

}  // namespace pendlo::app::dbus
