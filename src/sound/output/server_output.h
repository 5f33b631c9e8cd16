// What the outputs to a sound server (PipeWire, PulseAudio) do alike: the
// order in which they open, the one report of a stream the server lost,
// and whether the server answered. Each server's output fills in the steps.
#pragma once

#include <atomic>
#include <string>

#include "sound/output/audio_backend.h"
#include "sound/output/audio_thread.h"

namespace pendlo::sound::output {

class ServerOutput : public AudioBackend {
 public:
  // Closes what is open, then takes the steps below in order: the library,
  // the loop's thread, and with the loop locked the stream. When one fails
  // the output is closed again and `error` says why.
  bool Open(RenderTarget& target, const StreamRequest& request, clips::StreamFormat& format,
            std::string& error) final;
  // Whether the last Open reached the server (MarkAnswered).
  bool ServerAnswered() const final { return answered_; }

 protected:
  // Takes a hold on the server's library (let go in Close); false, the
  // reason in `error`, when it cannot be had.
  virtual bool AcquireLibrary(std::string& error) = 0;
  // Makes the loop and the connection's context, and starts the loop's
  // thread; false, the reason in `error`, when one cannot be had.
  virtual bool StartLoop(std::string& error) = 0;
  // Takes and lets go the loop's lock, which its callbacks run under.
  virtual void LockLoop() = 0;
  virtual void UnlockLoop() = 0;
  // With the loop locked: reaches the server (MarkAnswered) and connects
  // the stream, setting `format`; false, the reason in `error`, otherwise.
  virtual bool ConnectStream(const StreamRequest& request, clips::StreamFormat& format,
                             std::string& error) = 0;

  // Sets `error` to `why` and returns false: a step that failed.
  static bool Refuse(std::string& error, const char* why) {
    error = why;
    return false;
  }

  // In ConnectStream: the server answered, whether or not a stream follows.
  void MarkAnswered() { answered_ = true; }
  // Whether Start has been called on the open stream (Open clears it).
  // Any thread.
  void SetStarted(bool started) { started_.store(started, std::memory_order_release); }
  bool Started() const { return started_.load(std::memory_order_acquire); }
  // On the loop's thread: the server or the stream has gone for good. Tells
  // the player (Lost_RT) once, when the stream had started.
  void ReportLost();
  // Whether ReportLost told the player. Any thread.
  bool Lost() const { return lost_; }
  // The player the open stream feeds.
  RenderTarget& Target() const { return *target_; }
  // The stream's audio thread's raise, reset by Open.
  AudioThreadRaise& Raise() { return raise_; }

 private:
  RenderTarget* target_ = nullptr;
  std::atomic<bool> started_{false};
  std::atomic<bool> lost_{false};
  bool answered_ = false;  // the last Open reached a server
  AudioThreadRaise raise_;
};

// Waits, with the server's loop locked, until `ready()`: false as soon as
// `failed()`, and when `wait()`, one wait for the loop's signal, reports
// that the time is up, whatever `ready()` then says. Every callback that
// changes what `ready` or `failed` look at signals the loop.
template <class Ready, class Failed, class Wait>
bool AwaitServer(Ready ready, Failed failed, Wait wait) {
  while (!ready()) {
    if (failed()) return false;
    if (!wait()) return ready();
  }
  return true;
}

}  // namespace pendlo::sound::output
