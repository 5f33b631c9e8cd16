// Scheduling for the thread that feeds the sound server.
#pragma once

namespace pendlo::sound::output {

// Real-time scheduling for the calling thread when the system grants it
// (root, or an rtprio limit), above the beat timer's thread: a starved
// audio thread is an audible gap that can shift every click after it, a
// late timer wake-up only eats into the lead. Quietly does nothing when
// refused.
void RaiseAudioThreadToRealtime();

// The raise of one stream's audio thread, done at its first callback: the
// thread belongs to the audio library and exists only once the stream runs.
class AudioThreadRaise {
 public:
  // What to do with a thread the library already scheduled above normal.
  enum class Given { kReplace, kKeep };

  // Before a new stream's first callback: its thread is raised anew.
  void Reset() { raised_ = false; }
  // On the stream's audio thread, at every callback: the first call raises
  // it (RaiseAudioThreadToRealtime); with Given::kKeep, only when the thread
  // runs at normal priority.
  void OnCallback(Given given = Given::kReplace);

 private:
  bool raised_ = false;  // the audio thread's own once the stream runs
};

}  // namespace pendlo::sound::output
