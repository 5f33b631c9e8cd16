// The window drives the real transport on a fake clock: what pressing Start
// plays, how each tick flashes its bar, and how errors reach the user.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "support/fake_clock.h"
#include "support/recording_link.h"
#include "ui/threads/flash_scheduler.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using pendlo::testing::FakeClock;
using pendlo::testing::Gaps;
using pendlo::testing::RecordingLink;
using testing::TempDir;

struct Rig {
  TempDir dir;
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  RecordingLink* link = nullptr;
  std::unique_ptr<TMetronome> w;

  Rig() {
    auto recording = std::make_unique<RecordingLink>(clock);
    link = recording.get();
    w = testing::MakeWindow(dir.path(), std::move(recording));
    link->engine = &w->Beat().Engine();
  }
};

TEST(Beat, StartRunsTheMeterFromAnAccentOneFullPeriodAfterThePress) {
  const struct {
    const char* name;
    int meter;
    const char* text;
    int tempo;
    const char* clicks;
  } rows[] = {
      {"four", 3, "", 72, "ApppAppp"},
      {"one", 0, "", 120, "AAAA"},
      {"irregular 322", 9, "/ 7/8\n322", 72, "AppApApApp"},
      {"irregular 32", 9, "3 2", 120, "AppApApp"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    rig.w->memList->SetTextUtf8(row.text);
    rig.w->rgHyoushi->SetItemIndex(row.meter);
    rig.w->scrBarTempo->SetPosition(row.tempo);
    const Micros pressed = rig.clock->now();
    QTest::mouseClick(rig.w->btnStart, Qt::LeftButton);
    const Micros period = IntervalForTempo(row.tempo) * 1000;
    ASSERT_TRUE(rig.clock->awaitDeadline(pressed + period));
    const auto dues = rig.clock->steps(static_cast<int>(std::strlen(row.clicks)));
    EXPECT_EQ(rig.link->Clicks(), row.clicks);
    for (Micros gap : Gaps(dues)) EXPECT_EQ(gap, period);
    EXPECT_EQ(rig.link->Dues(), dues);
  }
}

// Records the fill each bar is painted with, and when.
class PaintLog : public QObject {
 public:
  std::vector<std::pair<QColor, Micros>> fills;

  bool Painted(QRgb colour) const {
    return std::any_of(fills.begin(), fills.end(), [&](auto& f) { return f.first == colour; });
  }
  // From the first frame painted in `lit` to the next painted black.
  Micros LitFor(QRgb lit) const {
    auto on = std::find_if(fills.begin(), fills.end(), [&](auto& f) { return f.first == lit; });
    auto off = std::find_if(on, fills.end(), [](auto& f) { return f.first == QColor(kBlack); });
    return off == fills.end() ? -1 : off->second - on->second;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      fills.emplace_back(static_cast<IndicatorBar*>(watched)->Fill(), steadyNowMicros());
    return false;
  }
};

TEST(Beat, EachTickFlashesItsBarInAPaintedFrameThenBlack) {
  Rig rig;
  PaintLog accent, plain;
  rig.w->Shape1->installEventFilter(&accent);
  rig.w->Shape2->installEventFilter(&plain);
  rig.w->rgHyoushi->SetItemIndex(1);  // 2: accent, plain
  rig.w->btnStartClick();
  rig.clock->steps(2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return accent.Painted(kFuchsia); }, 1000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return plain.Painted(kAqua); }, 1000));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return rig.w->Shape1->Fill() == QColor(kBlack) && rig.w->Shape2->Fill() == QColor(kBlack);
      },
      1000));
  // The tick does not wait for the flash, so the window alone keeps each bar
  // lit for its 16 ms (less a little for the moment of painting).
  EXPECT_TRUE(QTest::qWaitFor([&] { return accent.LitFor(kFuchsia) >= 0; }, 1000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return plain.LitFor(kAqua) >= 0; }, 1000));
  EXPECT_GE(accent.LitFor(kFuchsia), kFlashMicros - 1000);
  EXPECT_GE(plain.LitFor(kAqua), kFlashMicros - 1000);
}

TEST(Beat, AClickTakenBackByStopNeverFlashes) {
  TempDir dir;
  auto clock = std::make_shared<FakeClock>();
  constexpr Micros kLookahead = 50000;
  auto recording = std::make_unique<RecordingLink>(clock, kLookahead);
  RecordingLink* link = recording.get();
  auto w = testing::MakeWindow(dir.path(), std::move(recording));
  PaintLog accent;
  w->Shape1->installEventFilter(&accent);
  w->btnStartClick();
  // The first tick is decided a lookahead ahead; its flash is due 200 ms
  // from now on the steady clock.
  const Micros decided = *clock->awaitWaiter();
  link->heardShift = steadyNowMicros() + 200000 - (decided + kLookahead);
  clock->set(decided);
  ASSERT_TRUE(clock->awaitWaiter());
  EXPECT_EQ(link->Clicks(), "A");
  w->btnStopClick();
  EXPECT_EQ(link->Clicks(), "") << "taken back";
  QTest::qWait(400);
  EXPECT_FALSE(accent.Painted(kFuchsia));
}

// A sound link whose playing fails, as an error on the timer thread would.
class FailingLink final : public sound::link::SoundLink {
 public:
  explicit FailingLink(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  bool Play(const std::string&, Micros) override { throw std::runtime_error("No timer available"); }
  Micros HeardAt(Micros) override { return steadyNowMicros(); }
  void EnsureOpen() override {}

 private:
  std::shared_ptr<FakeClock> clock_;
};

TEST(Beat, AnErrorOnTheTimerThreadIsShownOnTheGuiThreadOnce) {
  TempDir dir;
  testing::CaughtBoxes boxes;
  auto clock = std::make_shared<FakeClock>();
  auto w = testing::MakeWindow(dir.path(), std::make_unique<FailingLink>(clock));
  w->btnStartClick();
  ASSERT_TRUE(clock->step().has_value());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.texts.isEmpty(); }, 2000));
  EXPECT_EQ(boxes.texts, QStringList{"No timer available."});
  EXPECT_EQ(boxes.captions, QStringList{"pendlo"});
  // The beat goes on and the window stays usable.
  ASSERT_TRUE(clock->step().has_value());
  EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 2; }, 2000));
  EXPECT_EQ(boxes.texts.size(), 2);
  w->btnStopClick();
  EXPECT_FALSE(w->Beat().Running());
}

// A sound output that is gone when Start tries to open it again, or that
// reports a failure by itself (lost while playing).
class UnopenableLink final : public sound::link::SoundLink {
 public:
  std::shared_ptr<Clock> TimerClock() override { return clock_; }
  bool Play(const std::string&, Micros) override { return true; }
  Micros HeardAt(Micros due) override { return due; }
  void EnsureOpen() override {
    if (++opens == 2) throw std::runtime_error("ｻｳﾝﾄﾞを出力できません");
  }
  void SetOnFailure(std::function<void()> f) override { onFailure = std::move(f); }
  void SetOnRecovered(std::function<void()> f) override { onRecovered = std::move(f); }
  void ReportFailure() override {
    if (!pending.empty()) throw std::runtime_error(std::exchange(pending, {}));
  }
  int opens = 0;
  std::function<void()> onFailure, onRecovered;
  std::string pending;

 private:
  std::shared_ptr<Clock> clock_ = std::make_shared<FakeClock>();
};

TEST(Beat, StartRetriesTheSoundAndRunsSilentlyWhenItFails) {
  TempDir dir;
  testing::CaughtBoxes boxes;
  auto link = std::make_unique<UnopenableLink>();
  UnopenableLink* sound = link.get();
  auto w = testing::MakeWindow(dir.path(), std::move(link));
  EXPECT_EQ(sound->opens, 1) << "opened at start-up";
  w->btnStart->click();
  EXPECT_EQ(sound->opens, 2);
  EXPECT_EQ(boxes.texts, QStringList{"ｻｳﾝﾄﾞを出力できません."});
  EXPECT_TRUE(w->Beat().Running());
  w->btnStart->click();  // running: the output is not touched
  EXPECT_EQ(sound->opens, 2);
  w->btnStopClick();
}

// Lost while playing: told once from another thread, in a box that leaves
// the window usable and goes when the output is back, or with the window.
TEST(Beat, AnOutputLostWhilePlayingIsShownUntilItIsBack) {
  TempDir dir;
  auto link = std::make_unique<UnopenableLink>();
  UnopenableLink* sound = link.get();
  auto w = testing::MakeWindow(dir.path(), std::move(link));
  const auto box = [&] { return w->findChild<QMessageBox*>(); };
  for (const bool back : {true, false}) {
    sound->pending = "ｻｳﾝﾄﾞの出力が途切れました";
    std::thread([&] { sound->onFailure(); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return box() != nullptr; }, 2000));
    std::thread([&] { sound->onFailure(); }).join();  // nothing new to say
    QTest::qWait(20);
    EXPECT_EQ(w->findChildren<QMessageBox*>().size(), 1);
    EXPECT_EQ(box()->text(), "ｻｳﾝﾄﾞの出力が途切れました.");
    EXPECT_FALSE(box()->isModal()) << "Exit and Stop stay usable";
    if (back) {
      std::thread([&] { sound->onRecovered(); }).join();
    } else {
      EXPECT_TRUE(w->close());
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return box() == nullptr; }, 2000));
  }
}

}  // namespace
}  // namespace pendlo::ui
