#include "transport/transport.h"

#include <stdexcept>

namespace pendlo {

Transport::Transport(std::unique_ptr<SoundLink> sound)
    : sound_(sound ? std::move(sound) : SilentSoundLink()),
      timer_(std::make_unique<TMMTimer>(sound_->TimerClock())) {
  timer_->SetEnabled(false);
  timer_->SetOnTimer([this](TMMTimer& sender) { OnTick(sender); });
  timer_->Loaded();
  sound_->Rest(true);  // until the first Start
}

Transport::~Transport() {
  try {
    timer_->SetEnabled(false);
  } catch (...) {
  }
  timer_.reset();
}

void Transport::SetBarListener(BarListener listener) {
  onBar_ = std::move(listener);
}

void Transport::SetErrorListener(ErrorListener listener) {
  onError_ = std::move(listener);
}

void Transport::SetClickFiles(std::string accent, std::string plain) {
  accentFile_ = std::move(accent);
  plainFile_ = std::move(plain);
}

int Transport::ChangeTempo(int tempo) {
  const int interval = engine_.ChangeTempo(tempo);
  timer_->SetInterval(static_cast<std::uint32_t>(interval));
  return interval;
}

void Transport::SetMeterSelection(int index) {
  engine_.SetMeterSelection(index);
}

void Transport::ManageHyoushi(const std::vector<std::string>& displayLines) {
  engine_.ManageHyoushi(displayLines);
}

void Transport::ResetPosition() {
  engine_.ResetPosition();
}

void Transport::Start() {
  // The output is back long before the first click, a beat from now.
  sound_->Rest(false);
  engine_.ResetPosition();
  std::string soundError;
  if (!timer_->Enabled()) {
    try {
      sound_->EnsureOpen();
    } catch (const std::exception& e) {
      soundError = e.what();
    }
  }
  PrepareClicks();
  timer_->StartTimer();
  if (!soundError.empty()) throw std::runtime_error(soundError);
}

void Transport::Stop() {
  timer_->SetEnabled(false);
  sound_->Rest(true);
}

bool Transport::Running() const {
  return timer_->Enabled();
}

void Transport::PrepareClicks() {
  // Read on the sound's own thread well before the first tick, which then
  // finds them decoded (a file replaced since is checked again).
  if (accentFile_.empty()) return;
  sound_->Prepare(accentFile_);
  sound_->Prepare(plainFile_);
}

void Transport::OnTick(TMMTimer& sender) {
  try {
    const TickDecision d = sequencer_.MMTimerTimer(sender.DueTime());
    // The period first, so that the next tick is due at its right time even
    // if the click or the listener is slow.
    if (d.nextInterval != 0) timer_->SetInterval(d.nextInterval);
    sound_->Play(d.click == Click::Accent ? accentFile_ : plainFile_, d.dueMicros);
    // No hold here: a 16 ms wait on this thread would stretch every shorter
    // tuplet note to 16 ms and slow the beat. The listener keeps the bar lit.
    if (onBar_) onBar_(d.bar, sound_->HeardAt(d.dueMicros));
  } catch (const std::exception& e) {
    if (onError_) onError_(e.what());
  }
}

}  // namespace pendlo
