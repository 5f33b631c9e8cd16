// Plays the metronome's clicks on one output stream: each click queued
// ahead of its due time starts on the exact frame of it, and the stream's
// frame count is the clock that the beat timer runs on.
//
// The player supervises the output: its own thread makes every call that
// opens, closes, pauses or resumes it, so no other thread ever waits on a
// sound server, and no lock of the player is held across a call into an
// audio library. It opens, reopens a lost output, rests a stopped one and
// tells of failures (FailureReport); the clicks and the stream's time go
// through its feed (StreamFeed).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "files/store/message_text.h"
#include "sound/clips/click_loader.h"
#include "sound/clock/audio_clock.h"
#include "sound/feed/stream_feed.h"
#include "sound/output/audio_backend.h"
#include "sound/player/failure_report.h"
#include "sound/player/rest_plan.h"

namespace pendlo::sound::player {

// Shown once when no sound can be had, with the system's reason appended.
inline constexpr const char* kNoSoundMessage =
    PENDLO_MESSAGE("pendlo::Messages", "ｻｳﾝﾄﾞを出力できません");
// Shown once when the sound output goes away while the program runs.
inline constexpr const char* kSoundLostMessage =
    PENDLO_MESSAGE("pendlo::Messages", "ｻｳﾝﾄﾞの出力が途切れました");
// UnusableClickMessage's template: the file's name, the decoder's reason.
inline constexpr const char* kUnusableClickFormat =
    PENDLO_MESSAGE("pendlo::Messages", "ﾌｧｲﾙ %1 は再生できません (%2)");

// Every template above, for the window to find a message's template by.
inline constexpr std::array kPlayerMessages{kNoSoundMessage, kSoundLostMessage,
                                            kUnusableClickFormat};

// Shown once for each version of a click file that holds no usable sound:
// "ﾌｧｲﾙ pi.wav は再生できません (<the decoder's reason>)"; the file's
// stand-in tone plays meanwhile.
std::string UnusableClickMessage(const clips::UnusableFile& file);

struct PlayerOptions {
  // Frames per callback, and the sound server's target buffer (0: the
  // audio library's choice, one callback's worth under SDL, where the
  // smallest delay of the audio thread would shift every later click). A
  // 13 ms target with 256-frame callbacks keeps about 7 ms in hand at a
  // 9.8 ms reported latency (bench/click_timing).
  int bufferFrames = 256;
  Micros serverBufferMicros = 13000;
  // What every output's lookahead holds for the timer's late wake-ups (up
  // to 7.3 ms on an idle machine, tens of ms on a busy one: bench/timer_jitter,
  // bench/click_timing). A longer lookahead delays no decision, since a
  // take-back reaches every click not yet begun; 75 ms keeps every lookahead
  // within 600 BPM's 100 ms beat, so that only tuplet notes wait for it.
  Micros wakeMarginMicros = 75000;
  // An output whose callbacks a server asks for (SDL): how long before its
  // due time a click must be queued to be rendered on its frame: one
  // callback and the server's uneven requests.
  Micros callbackAheadMicros = 25000;
  // An output fed by writes into the server's queue (PulseAudio): how far
  // beyond where the clock says the sink reads a write, or a take-back,
  // lands (plus 2 ms for the write itself), so the server never rewinds for
  // a click. The sink takes its queue in blocks (10 ms on a null sink) and
  // may have taken one beyond the clock's reading that it cannot rewind;
  // 5 ms let taken-back clicks sound (bench/click_timing --changes).
  Micros queueMarginMicros = 15000;
  // How soon a lost output is tried again (each try that fails doubles the
  // wait, up to 64 times this); 0: only by EnsureOpen, and the output never
  // rests.
  Micros reconnectMicros = 250000;
  // How long the beat is stopped before the stream is paused: long enough
  // for the last click to play out, short enough that a PulseAudio sink,
  // freed by the paused stream, is suspended by the server 5 s later.
  Micros restAfterMicros = 2000000;
  // How long the beat is stopped before an output that allows it is closed
  // (stream, connection and audio library) until Start. 0: never.
  Micros releaseAfterMicros = 2000000;
  clips::DecodeLimits limits;
};

struct PlayerStats : feed::FeedStats {
  std::string output;  // the output that plays ("pipewire", ...); "" none
};

class ClickPlayer final {
 public:
  // Starts the supervisor's thread; nothing is opened until EnsureOpen.
  explicit ClickPlayer(std::unique_ptr<output::AudioBackend> backend = output::MakeDefaultBackend(),
                       PlayerOptions options = {},
                       clock::AudioClock::SteadySource steady = &steadyNowMicros);
  // Closes the output and ends the supervisor's thread.
  ~ClickPlayer();
  ClickPlayer(const ClickPlayer&) = delete;
  ClickPlayer& operator=(const ClickPlayer&) = delete;

  // GUI thread (start-up and every Start): opens the output unless a stream
  // is running, and waits for that attempt; while the supervisor is
  // reopening a lost output, or the output is closed at rest, it does not
  // wait. True when a stream runs. A failure is kept for TakeError, and the
  // output is tried again by itself (PlayerOptions::reconnectMicros).
  bool EnsureOpen();
  // GUI thread: closes the output; the clock runs on at the monotonic pace.
  void Close();

  // GUI thread: the message of a sound failure not yet taken, once per
  // failure (repeated failed attempts tell nothing new), and of each click
  // file found unusable since, a line each; "" otherwise. Never waits for an
  // output being opened.
  std::string TakeError();
  // Called on the supervisor's thread when it finds a failure without a
  // call from the GUI (an output lost while playing), or on the click
  // loader's when it finds a file unusable: TakeError has news. Set before
  // the first EnsureOpen.
  void SetOnFailure(std::function<void()> onFailure);
  // Called on the supervisor's thread when the failure told is over: the
  // output plays again (FailureReport::SetOnRecovered). Set before the
  // first EnsureOpen.
  void SetOnRecovered(std::function<void()> onRecovered);

  // GUI thread, returns at once: the beat stopped (true) or is about to
  // start (false). After restAfterMicros at rest the stream is paused, so
  // that a stopped metronome does not wake the machine every cycle and its
  // sink may sleep (a PulseAudio stream is corked, and the clicks played
  // before it runs again wait for it); after releaseAfterMicros an output that allows it is
  // closed and its library unloaded. Rest(false) has it resumed or opened
  // again, and EnsureOpen does not wait for that. The clock runs on
  // meanwhile and re-joins the stream when it plays again.
  void Rest(bool resting);

  // Where the clicks are queued and taken back, and the clock is.
  feed::StreamFeed& Feed() { return feed_; }

  // Any thread: the stream's figures and the output that plays.
  PlayerStats Stats() const;

 private:
  // The supervisor is replacing a lost stream, or the stream failed.
  bool Lost() const { return lost_.load(std::memory_order_acquire) || feed_.Lost(); }

  // The supervisor's thread and what it does; only it calls the backend.
  void Supervise();
  // Opens the output and begins the feed; a failure is told as no sound, or
  // as a loss when `failureIsLoss`. `reconnecting`: after a loss.
  bool OpenOutput(bool reconnecting, bool failureIsLoss = false);
  void CloseOutput();
  // Tells of a lost stream once and tries to open the output again.
  void ReopenLost();
  // Pauses, resumes, closes or reopens the output as the rest asks.
  void ApplyRest();
  // Pauses (true) or resumes the open stream. A stream fed through its
  // queue keeps the clicks played meanwhile and writes them once it runs.
  void Pause(bool pause);
  // Under state_: how long the supervisor may sleep before it must look at
  // the output again (a rest's next step, a retry, a loss to notice); -1:
  // until asked.
  Micros NextLookMicros() const;
  // Opens again the output closed at rest; a failure is told as a loss.
  void Wake();

  const std::unique_ptr<output::AudioBackend> backend_;
  const PlayerOptions options_;
  feed::StreamFeed feed_;
  FailureReport failures_;

  // Requests to the supervisor.
  std::mutex state_;
  std::condition_variable wake_;  // the supervisor waits on it
  std::condition_variable done_;  // EnsureOpen and Close wait on it
  bool stop_ = false;
  bool openAsked_ = false;
  bool closeAsked_ = false;
  bool busy_ = false;         // the supervisor is calling the backend
  std::uint64_t served_ = 0;  // requests answered
  bool opened_ = false;       // the answer to the last open request
  bool wanted_ = false;       // EnsureOpen asked and no Close since
  bool restChanged_ = false;  // Rest was called since the supervisor looked

  // Supervisor: how long until it tries again to open an output that is away.
  Micros retryMicros_ = options_.reconnectMicros;

  RestPlan rest_{options_.restAfterMicros, options_.releaseAfterMicros};  // under state_
  bool paused_ = false;      // supervisor: the stream is paused
  bool releasable_ = false;  // supervisor: the open output may be closed at rest
  // The output was closed at rest and opens again at Start.
  std::atomic<bool> released_{false};

  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};  // the supervisor is replacing a lost stream
  std::thread supervisor_;
};

}  // namespace pendlo::sound::player
