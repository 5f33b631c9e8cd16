#include "sound/output/audio_thread.h"

#include <pthread.h>
#include <sched.h>

namespace pendlo::sound::output {
namespace {

constexpr int kPriorityAboveMin = 15;

}  // namespace

void RaiseAudioThreadToRealtime() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + kPriorityAboveMin;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace pendlo::sound::output
