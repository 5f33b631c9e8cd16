// Pendlo's own interface for scripts and pedal tools
// (io.github.pendlo.Pendlo): Tempo (20 to 600) and Meter (the meter group's
// index, 0 to 10) read and set as the window's controls, Running, and Start
// and Stop as the buttons. A value out of range is refused with InvalidArgs
// and a message saying the range, and changes nothing. It answers the
// object's Properties calls itself: a property setter of Qt's own cannot
// refuse a value. GUI thread only.
#pragma once

#include <QDBusVirtualObject>
#include <QVariantMap>

namespace pendlo::app::dbus {

class WindowRemote;

class PendloInterface : public QDBusVirtualObject {
 public:
  PendloInterface(WindowRemote& remote, QObject* parent);

  // The interface's name and its properties as they are now.
  static QString Name();
  QVariantMap Properties() const;

  QString introspect(const QString& path) const override;
  // Answers Get, GetAll, Set, Start and Stop; false for any other call.
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  // The answer to Properties.Set.
  QDBusMessage Set(const QDBusMessage& message);

  WindowRemote& remote_;
};

}  // namespace pendlo::app::dbus
