#include "app/dbus/window_remote.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/metronome.h"

namespace pendlo::app::dbus {

WindowRemote::WindowRemote(ui::TMetronome& window, std::function<void()> raise)
    : window_(window), raise_(std::move(raise)) {}

int WindowRemote::Tempo() const {
  return window_.scrBarTempo->Position();
}

int WindowRemote::Meter() const {
  return window_.rgHyoushi->ItemIndex();
}

bool WindowRemote::Running() const {
  return window_.Beat().Running();
}

QString WindowRemote::Title() const {
  const QString tempo = QStringLiteral("%1 BPM").arg(Tempo());
  if (Meter() < 0) return tempo;
  return tempo + QStringLiteral(" · ") + window_.rgHyoushi->Item(Meter())->text();
}

QString WindowRemote::SetTempo(int tempo) {
  const ui::TempoScrollBar& bar = *window_.scrBarTempo;
  if (tempo < bar.minimum() || tempo > bar.maximum()) {
    return QStringLiteral("Tempo %1 is out of range: %2 to %3 BPM")
        .arg(tempo)
        .arg(bar.minimum())
        .arg(bar.maximum());
  }
  window_.scrBarTempo->SetPosition(tempo);
  return {};
}

QString WindowRemote::SetMeter(int index) {
  const int last = window_.rgHyoushi->Count() - 1;
  if (index < 0 || index > last) {
    return QStringLiteral("Meter %1 is out of range: 0 to %2").arg(index).arg(last);
  }
  window_.rgHyoushi->SetItemIndex(index);
  return {};
}

void WindowRemote::Later(std::function<void()> act) {
  QTimer::singleShot(0, &window_, std::move(act));
}

void WindowRemote::Start() {
  Later([this] { window_.btnStart->click(); });
}

void WindowRemote::Stop() {
  Later([this] { window_.btnStop->click(); });
}

void WindowRemote::Play() {
  Later([this] {
    if (!Running()) window_.btnStart->click();
  });
}

void WindowRemote::Toggle() {
  Later([this] { window_.ToggleBeat(); });
}

void WindowRemote::Exit() {
  Later([this] { window_.btnOFF->click(); });
}

void WindowRemote::Raise() {
  Later(raise_);
}

}  // namespace pendlo::app::dbus
