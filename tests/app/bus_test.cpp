// The window on the session bus (a private one: see CMakeLists), driven by
// the desktop's and the scripts' own clients, playerctl and busctl, as child
// processes while its event loop runs; QtDBus for error names and
// announcements.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "app/dbus/bus_service.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window_fixture.h"

namespace {

const QString kOwn = QStringLiteral("io.github.pendlo.Pendlo");
const QString kOwnPath = QStringLiteral("/io/github/pendlo/Pendlo");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Relays PropertiesChanged to a signal a spy records.
class Announcements : public QObject {
  Q_OBJECT
 signals:
  void Changed(const QString& interface, const QVariantMap& changed, const QStringList& gone);
};

struct Answer {
  int status;
  QString out, err;
};

// Runs a client on the bus; the window answers meanwhile.
Answer Client(QStringList command) {
  QProcess client;
  QSignalSpy finished(&client, &QProcess::finished);
  client.start(command.takeFirst(), command);
  EXPECT_TRUE(finished.wait(20000)) << command.join(' ').toStdString();
  return {client.exitCode(), QString::fromUtf8(client.readAllStandardOutput()).trimmed(),
          QString::fromUtf8(client.readAllStandardError()).trimmed()};
}

QString Player(const QString& command, const QString& key = {}) {
  return Client(QStringList{"playerctl", "-p", "pendlo", command} + QStringList{key}).out;
}

Answer Own(const QString& verb, const QStringList& args) {
  return Client(QStringList{"busctl", "--user", verb, kOwn, kOwnPath, kOwn} + args);
}

TEST(Bus, DesktopAndScriptsDriveTheWindowThroughItsControls) {
  pendlo::testing::TempDir dir;
  auto window = pendlo::ui::testing::MakeWindow(dir.path());
  pendlo::ui::TMetronome& w = *window;
  int raised = 0;
  pendlo::app::dbus::BusService service(
      w, [&] { ++raised; }, QDBusConnection::sessionBus());
  ASSERT_TRUE(service.HoldsMprisName() && service.HoldsOwnName());
  QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");

  // The window's own changes: a drag within the quiet time is announced at
  // its first and its last position alone, a Start with it once the quiet
  // time is over.
  Announcements relay;
  client.connect({}, kOwnPath, kProperties, "PropertiesChanged", &relay,
                 SIGNAL(Changed(QString, QVariantMap, QStringList)));
  QSignalSpy heard(&relay, &Announcements::Changed);
  for (int tempo = 100; tempo <= 140; ++tempo) w.scrBarTempo->SetPosition(tempo);
  w.btnStart->click();
  while (heard.size() < 2) ASSERT_TRUE(heard.wait(10000));
  EXPECT_EQ(heard[0][1].toMap(), (QVariantMap{{"Tempo", 100}}));
  EXPECT_EQ(heard[1][1].toMap(), (QVariantMap{{"Tempo", 140}, {"Running", true}}));

  w.btnStop->click();
  EXPECT_EQ(Player("metadata", "xesam:title"), "140 BPM · 4");
  // An object path, as MPRIS asks (playerctl quotes what is not a string).
  EXPECT_EQ(Player("metadata", "mpris:trackid"), "'/io/github/pendlo/Pendlo/Beat'");
  const struct {
    const char *command, *status;
  } steps[] = {{"status", "Stopped"},     {"play", "Playing"},       {"play", "Playing"},
               {"play-pause", "Stopped"}, {"play-pause", "Playing"}, {"pause", "Stopped"},
               {"play", "Playing"},       {"stop", "Stopped"}};
  for (const auto& step : steps) {
    Player(step.command);
    EXPECT_EQ(Player("status"), step.status) << "after " << step.command;
    EXPECT_EQ(w.Beat().Running(), QString(step.status) == "Playing") << "after " << step.command;
  }

  EXPECT_EQ(Own("set-property", {"Tempo", "i", "200"}).status, 0);
  EXPECT_EQ(w.lblTempo->text(), "200") << "the scroll bar moved and its handler ran";
  EXPECT_EQ(Own("get-property", {"Tempo"}).out, "i 200");
  const Answer refused = Own("set-property", {"Tempo", "i", "5"});
  EXPECT_NE(refused.status, 0);
  EXPECT_TRUE(refused.err.contains("Tempo 5 is out of range: 20 to 600 BPM"))
      << refused.err.toStdString();
  const struct {
    const char* name;
    QVariant value;
    const char* error;
  } refusals[] = {{"Tempo", 601, "InvalidArgs"},
                  {"Tempo", "fast", "InvalidArgs"},
                  {"Meter", -1, "InvalidArgs"},
                  {"Meter", 11, "InvalidArgs"},
                  {"Running", true, "PropertyReadOnly"}};
  for (const auto& r : refusals) {
    QDBusMessage set = QDBusMessage::createMethodCall(kOwn, kOwnPath, kProperties, "Set");
    set << kOwn << r.name << QVariant::fromValue(QDBusVariant(r.value));
    EXPECT_EQ(client.call(set, QDBus::BlockWithGui).errorName(),
              QString("org.freedesktop.DBus.Error.") + r.error)
        << r.name << " " << r.value.toString().toStdString();
  }
  EXPECT_EQ(w.scrBarTempo->Position(), 200) << "a refusal changes nothing";
  EXPECT_EQ(w.rgHyoushi->ItemIndex(), 3);

  EXPECT_EQ(Own("set-property", {"Meter", "i", "9"}).status, 0);
  EXPECT_EQ(w.rgHyoushi->ItemIndex(), 9);
  EXPECT_EQ(Player("metadata", "xesam:title"), "200 BPM · " + w.rgHyoushi->Item(9)->text());
  Own("call", {"Start"});
  EXPECT_EQ(Own("get-property", {"Running"}).out, "b true");
  Own("call", {"Stop"});
  EXPECT_EQ(Own("get-property", {"Running"}).out, "b false");

  // Each call is answered before the next is read: the raise has run. Quit
  // is the Exit button: the window closes and saves what the script set.
  for (const char* method : {"Raise", "Quit"}) {
    Client({"busctl", "--user", "call", "org.mpris.MediaPlayer2.pendlo", "/org/mpris/MediaPlayer2",
            "org.mpris.MediaPlayer2", method});
  }
  Own("get-property", {"Running"});
  EXPECT_EQ(raised, 1);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(pendlo::testing::ReadFile(dir.path() + "/init.sav").substr(0, 8), "200\r\n9\r\n");
}

}  // namespace

#include "bus_test.moc"
