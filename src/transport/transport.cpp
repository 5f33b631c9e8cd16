#include "transport/transport.h"

#include <algorithm>
#include <stdexcept>

namespace pendlo {

Transport::Transport(std::unique_ptr<sound::link::SoundLink> sound)
    : sound_(sound ? std::move(sound) : sound::link::SilentSoundLink()),
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

Transport::Change::Change(Transport& transport) : transport_(transport) {
  if (transport_.changes_++ == 0) transport_.timer_->Hold();
}

Transport::Change::~Change() {
  if (--transport_.changes_ == 0) transport_.EndChange();
}

void Transport::EndChange() {
  // The take-back comes last, just before the timer runs again: a tick
  // decided again is then queued a moment after its click was taken back,
  // however long the change took. Ticks that fell due meanwhile have begun
  // to sound and stand.
  try {
    TakeBack();
  } catch (const std::exception& e) {
    if (onError_) onError_(e.what());
  }
  // Applied whatever the output said: the user's change stands.
  if (restartBar_) engine_.ResetPosition();
  if (newInterval_ != 0) timer_->SetInterval(newInterval_);
  restartBar_ = false;
  newInterval_ = 0;
  timer_->Release();
}

void Transport::SetBarListener(BarListener listener) {
  onBar_ = std::move(listener);
}

void Transport::SetErrorListener(ErrorListener listener) {
  onError_ = std::move(listener);
}

void Transport::SetTakeBackListener(TakeBackListener listener) {
  onTakeBack_ = std::move(listener);
}

void Transport::SetClickFiles(std::string accent, std::string plain) {
  accentFile_ = std::move(accent);
  plainFile_ = std::move(plain);
}

int Transport::ChangeTempo(int tempo) {
  Change change(*this);
  const int interval = engine_.ChangeTempo(tempo);
  newInterval_ = static_cast<std::uint32_t>(interval);
  return interval;
}

void Transport::SetMeterSelection(int index) {
  Change change(*this);
  engine_.SetMeterSelection(index);
}

void Transport::ManageHyoushi(const std::vector<std::string>& displayLines) {
  Change change(*this);
  engine_.ManageHyoushi(displayLines);
}

void Transport::ResetPosition() {
  Change change(*this);
  engine_.ResetPosition();
  restartBar_ = true;
}

void Transport::Start() {
  // While running this keeps the phase: the ticks taken back are decided
  // again from the first beat.
  Change change(*this);
  sound_->Rest(false);
  ResetPosition();
  std::string soundError;
  if (!timer_->Enabled()) {
    try {
      sound_->EnsureOpen();
    } catch (const std::exception& e) {
      soundError = e.what();
    }
    timer_->SetLookahead(sound_->LookaheadMicros());
  }
  PrepareClicks();
  timer_->StartTimer();
  if (!soundError.empty()) throw std::runtime_error(soundError);
}

void Transport::Stop() {
  timer_->SetEnabled(false);
  TakeBack();
  sound_->Rest(true);
}

bool Transport::Running() const {
  return timer_->Enabled();
}

void Transport::PrepareClicks() {
  // Read on the sound's own thread well before the first tick, which then
  // finds them decoded (a file replaced since is checked again).
  if (accentFile_.empty()) return;
  sound_->PrepareAccent(accentFile_);
  sound_->Prepare(plainFile_);
}

void Transport::TakeBack() {
  // A click due by now has begun to sound.
  const Micros from = timer_->clock().now() + 1;
  const auto after = [&](Micros t) {
    return std::find_if(decided_.begin(), decided_.end(),
                        [&](const Decided& d) { return d.due >= t; });
  };
  if (after(from) == decided_.end()) return;
  // The output may already hold the first clicks beyond its reach: they
  // sound, so their ticks stand and the beat goes on from after them.
  const auto first = after(std::max(from, sound_->TakeBack(from)));
  if (first == decided_.end()) return;
  engine_.SetPosition(first->beat, first->group);
  timer_->Rewind(first->due, first->intervalBefore);
  Micros heardFrom = first->heardAt;
  for (auto it = first; it != decided_.end(); ++it) heardFrom = std::min(heardFrom, it->heardAt);
  decided_.erase(first, decided_.end());
  if (onTakeBack_) onTakeBack_(heardFrom);
}

void Transport::OnTick(TMMTimer& sender) {
  try {
    const Micros due = sender.DueTime();
    const std::uint32_t intervalBefore = sender.Interval();
    const TickDecision d = sequencer_.MMTimerTimer(due);
    // The period first, so that the next tick is due at its right time even
    // if the click or the listener is slow.
    if (d.nextInterval != 0) timer_->SetInterval(d.nextInterval);
    const Micros now = sender.clock().now();
    while (!decided_.empty() && decided_.front().due <= now) decided_.pop_front();  // begun
    // After a stall the ticks missed are counted but not heard: no burst,
    // and the next click on time is where the beat would be anyway. The
    // output knows best whether a click called late can still start near
    // its frame; a link without one goes by the due time.
    if (now - due > sound::link::kLateClickGraceMicros) return;
    if (!sound_->Play(d.click == Click::Accent ? accentFile_ : plainFile_, due)) return;
    const Micros heardAt = sound_->HeardAt(due);
    decided_.push_back({due, d.beat, d.group, intervalBefore, heardAt});
    // No hold here: a 16 ms wait on this thread would stretch every shorter
    // tuplet note to 16 ms and slow the beat. The listener keeps the bar lit.
    if (onBar_) onBar_(d.bar, heardAt);
  } catch (const std::exception& e) {
    if (onError_) onError_(e.what());
  }
}

}  // namespace pendlo
