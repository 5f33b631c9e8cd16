// Scheduling for the thread that feeds the sound server.
#pragma once

namespace pendlo::sound::output {

// Real-time scheduling for the calling thread when the system grants it
// (root, or an rtprio limit), above the beat timer's thread: a starved
// audio thread is an audible gap that can shift every click after it, a
// late timer wake-up only eats into the lead. Quietly does nothing when
// refused.
void RaiseAudioThreadToRealtime();

}  // namespace pendlo::sound::output
