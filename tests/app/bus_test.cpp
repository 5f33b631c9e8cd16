// The window on a private session bus, driven by the desktop's and the
// scripts' own clients (playerctl and busctl as child processes; QtDBus for
// error names and announcements) while its event loop runs.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "app/dbus/bus_service.h"
#include "support/session_bus.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window_fixture.h"

namespace {

using pendlo::app::dbus::BusService;
using pendlo::testing::ReadFile;
using pendlo::testing::SessionBus;
using pendlo::testing::TempDir;

const QString kOwn = QStringLiteral("io.github.pendlo.Pendlo");
const QString kOwnPath = QStringLiteral("/io/github/pendlo/Pendlo");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Every PropertiesChanged of the window's two objects, in order.
class Announcements : public QObject {
  Q_OBJECT
 public:
  explicit Announcements(QDBusConnection bus) {
    for (const QString& path : {kOwnPath, kMprisPath}) {
      bus.connect({}, path, kProperties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(Take(QString, QVariantMap, QStringList)));
    }
  }
  // Waits until `count` of `interface` have come; false after 10 s without one.
  bool AwaitCount(const QString& interface, int count) {
    QSignalSpy more(this, &Announcements::Arrived);
    while (Of(interface).size() < static_cast<std::size_t>(count)) {
      if (!more.wait(10000)) return false;
    }
    return true;
  }
  std::vector<QVariantMap> Of(const QString& interface) const {
    std::vector<QVariantMap> of;
    for (const auto& [name, changed] : seen_) {
      if (name == interface) of.push_back(changed);
    }
    return of;
  }

 signals:
  void Arrived();

 public slots:
  void Take(const QString& interface, const QVariantMap& changed, const QStringList&) {
    seen_.emplace_back(interface, changed);
    emit Arrived();
  }

 private:
  std::vector<std::pair<QString, QVariantMap>> seen_;
};

// The title in an announced Metadata (nested a{sv}).
QString AnnouncedTitle(const QVariantMap& changed) {
  const auto metadata = qdbus_cast<QVariantMap>(changed.value("Metadata").value<QDBusArgument>());
  return metadata.value("xesam:title").toString();
}

struct Answer {
  int status;
  QString out, err;
};

class Bus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(daemon_.Address().empty()) << daemon_.Error();
    const QString address = QString::fromStdString(daemon_.Address());
    service_ = QDBusConnection::connectToBus(address, QStringLiteral("pendlo-window"));
    client_ = QDBusConnection::connectToBus(address, QStringLiteral("pendlo-client"));
    ASSERT_TRUE(service_.isConnected() && client_.isConnected());
    window_ = pendlo::ui::testing::MakeWindow(dir_.path());
    bus_ = std::make_unique<BusService>(
        *window_, [this] { ++raised_; }, service_);
    ASSERT_TRUE(bus_->HoldsMprisName() && bus_->HoldsOwnName());
  }
  void TearDown() override {
    bus_.reset();
    window_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("pendlo-window"));
    QDBusConnection::disconnectFromBus(QStringLiteral("pendlo-client"));
  }

  // Runs a client on the bus; the window answers meanwhile.
  Answer Client(const QStringList& command) {
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(daemon_.Address()));
    client.setProcessEnvironment(env);
    QSignalSpy finished(&client, &QProcess::finished);
    client.start(command[0], command.mid(1));
    EXPECT_TRUE(finished.wait(20000)) << command.join(' ').toStdString();
    return {client.exitCode(), QString::fromUtf8(client.readAllStandardOutput()).trimmed(),
            QString::fromUtf8(client.readAllStandardError()).trimmed()};
  }
  QString Player(const QString& command, const QString& argument = {}) {
    QStringList args{"playerctl", "-p", "pendlo", command};
    if (!argument.isEmpty()) args << argument;
    return Client(args).out;
  }
  Answer Busctl(const QStringList& args) { return Client(QStringList{"busctl", "--user"} + args); }
  Answer Own(const QString& verb, const QStringList& args) {
    return Busctl(QStringList{verb, kOwn, kOwnPath, kOwn} + args);
  }
  // Properties.Set of the own interface through QtDBus: the error's name, or "".
  QString SetOwn(const QString& name, const QVariant& value) {
    QDBusMessage set = QDBusMessage::createMethodCall(kOwn, kOwnPath, kProperties, "Set");
    set << kOwn << name << QVariant::fromValue(QDBusVariant(value));
    return client_.call(set, QDBus::BlockWithGui).errorName();
  }

  SessionBus daemon_;
  QDBusConnection service_{QString()}, client_{QString()};
  TempDir dir_;
  std::unique_ptr<pendlo::ui::TMetronome> window_;
  std::unique_ptr<BusService> bus_;
  int raised_ = 0;
};

TEST_F(Bus, TheDesktopsMediaControlsDriveTheButtonsAndReadTheBeat) {
  pendlo::ui::TMetronome& w = *window_;
  w.scrBarTempo->SetPosition(150);  // a change on the window's side shows too
  EXPECT_EQ(Player("metadata", "xesam:title"), "150 BPM · 4");
  // An object path, as MPRIS asks (playerctl quotes what is not a string).
  EXPECT_EQ(Player("metadata", "mpris:trackid"), "'/io/github/pendlo/Pendlo/Beat'");

  const struct {
    const char* command;
    const char* status;
  } steps[] = {{"status", "Stopped"},     {"play", "Playing"},       {"play", "Playing"},
               {"play-pause", "Stopped"}, {"play-pause", "Playing"}, {"pause", "Stopped"},
               {"play", "Playing"},       {"stop", "Stopped"}};
  for (const auto& step : steps) {
    Player(step.command);
    EXPECT_EQ(Player("status"), step.status) << "after " << step.command;
    EXPECT_EQ(w.Beat().Running(), QString(step.status) == "Playing") << "after " << step.command;
  }

  const struct {
    const char* interface;
    const char* property;
    const char* value;
  } properties[] = {
      {"org.mpris.MediaPlayer2", "Identity", "s \"Pendlo\""},
      {"org.mpris.MediaPlayer2", "DesktopEntry", "s \"io.github.pendlo.Pendlo\""},
      {"org.mpris.MediaPlayer2", "CanRaise", "b true"},
      {"org.mpris.MediaPlayer2", "CanQuit", "b true"},
      {"org.mpris.MediaPlayer2", "HasTrackList", "b false"},
      {"org.mpris.MediaPlayer2.Player", "CanControl", "b true"},
      {"org.mpris.MediaPlayer2.Player", "CanPause", "b true"},
      {"org.mpris.MediaPlayer2.Player", "CanSeek", "b false"},
      {"org.mpris.MediaPlayer2.Player", "CanGoNext", "b false"},
  };
  for (const auto& p : properties) {
    EXPECT_EQ(Busctl({"get-property", "org.mpris.MediaPlayer2.pendlo", kMprisPath, p.interface,
                      p.property})
                  .out,
              p.value)
        << p.property;
  }
}

TEST_F(Bus, ScriptsMoveTheControlsAndValuesOutOfRangeAreRefused) {
  pendlo::ui::TMetronome& w = *window_;
  EXPECT_EQ(Own("set-property", {"Tempo", "i", "200"}).status, 0);
  EXPECT_EQ(w.scrBarTempo->Position(), 200);
  EXPECT_EQ(w.lblTempo->text(), "200") << "the scroll bar's handler ran";
  EXPECT_EQ(Own("get-property", {"Tempo"}).out, "i 200");

  const Answer refused = Own("set-property", {"Tempo", "i", "5"});
  EXPECT_NE(refused.status, 0);
  EXPECT_TRUE(refused.err.contains("Tempo 5 is out of range: 20 to 600 BPM"))
      << refused.err.toStdString();
  const struct {
    const char* name;
    QVariant value;
    const char* error;
  } refusals[] = {
      {"Tempo", 19, "org.freedesktop.DBus.Error.InvalidArgs"},
      {"Tempo", 601, "org.freedesktop.DBus.Error.InvalidArgs"},
      {"Tempo", QString("fast"), "org.freedesktop.DBus.Error.InvalidArgs"},
      {"Meter", -1, "org.freedesktop.DBus.Error.InvalidArgs"},
      {"Meter", 11, "org.freedesktop.DBus.Error.InvalidArgs"},
      {"Running", true, "org.freedesktop.DBus.Error.PropertyReadOnly"},
  };
  for (const auto& r : refusals) {
    EXPECT_EQ(SetOwn(r.name, r.value), r.error)
        << r.name << " " << r.value.toString().toStdString();
  }
  EXPECT_EQ(w.scrBarTempo->Position(), 200) << "a refusal changes nothing";
  EXPECT_EQ(w.rgHyoushi->ItemIndex(), 3);
  EXPECT_FALSE(w.Beat().Running());

  EXPECT_EQ(Own("set-property", {"Meter", "i", "9"}).status, 0);
  EXPECT_EQ(w.rgHyoushi->ItemIndex(), 9);
  EXPECT_EQ(Player("metadata", "xesam:title"), "200 BPM · " + w.rgHyoushi->Item(9)->text());
  Own("call", {"Start"});
  EXPECT_EQ(Own("get-property", {"Running"}).out, "b true");
  Own("call", {"Stop"});
  EXPECT_EQ(Own("get-property", {"Running"}).out, "b false");

  // Each call is answered before the next is read: the raise has run.
  Busctl({"call", "org.mpris.MediaPlayer2.pendlo", kMprisPath, "org.mpris.MediaPlayer2", "Raise"});
  Own("get-property", {"Running"});
  EXPECT_EQ(raised_, 1);
  // Quit is the Exit button: the window closes and saves what the script set.
  Busctl({"call", "org.mpris.MediaPlayer2.pendlo", kMprisPath, "org.mpris.MediaPlayer2", "Quit"});
  Own("get-property", {"Running"});
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(ReadFile(dir_.path() + "/init.sav").substr(0, 8), "200\r\n9\r\n");
}

TEST_F(Bus, ADragIsAnnouncedFirstAndLastAndEveryChangeOfRunning) {
  Announcements heard(client_);
  pendlo::ui::TMetronome& w = *window_;
  // One drag within the quiet time: its first and its last position alone.
  for (int tempo = 100; tempo <= 140; ++tempo) w.scrBarTempo->SetPosition(tempo);
  ASSERT_TRUE(heard.AwaitCount(kOwn, 2));
  const auto own = heard.Of(kOwn);
  EXPECT_EQ(own[0].value("Tempo").toInt(), 100);
  EXPECT_EQ(own[1].value("Tempo").toInt(), 140);
  const auto player = heard.Of("org.mpris.MediaPlayer2.Player");
  ASSERT_EQ(player.size(), 2u);
  EXPECT_EQ(AnnouncedTitle(player[1]), "140 BPM · 4");

  w.btnStart->click();
  ASSERT_TRUE(heard.AwaitCount(kOwn, 3));
  EXPECT_EQ(heard.Of(kOwn)[2], (QVariantMap{{"Running", true}}));
  EXPECT_EQ(heard.Of("org.mpris.MediaPlayer2.Player")[2].value("PlaybackStatus"), "Playing");
}

}  // namespace

#include "bus_test.moc"
