#include "sound/output/audio_thread.h"

#include <pthread.h>
#include <sched.h>

namespace pendlo::sound::output {
namespace {

constexpr int kPriorityAboveMin = 15;

bool AtNormalPriority() {
  int policy = SCHED_OTHER;
  sched_param param{};
  return pthread_getschedparam(pthread_self(), &policy, &param) == 0 && policy == SCHED_OTHER;
}

}  // namespace

void RaiseAudioThreadToRealtime() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + kPriorityAboveMin;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void AudioThreadRaise::OnCallback(Given given) {
  if (raised_) return;
  raised_ = true;
  if (given == Given::kReplace || AtNormalPriority()) RaiseAudioThreadToRealtime();
}

}  // namespace pendlo::sound::output
