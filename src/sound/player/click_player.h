// Plays the metronome's clicks: one output stream opened at start-up and
// kept open, WAV files decoded once and cached, each click queued ahead of
// its due time and started on the exact frame of it. The stream's frame
// count is the clock that the beat timer runs on.
//
// The player is the output's supervisor: its own thread makes every call
// that opens, closes, pauses or resumes the output, so no other thread ever
// waits on a sound server, and no lock of the player is held across a call
// into an audio library. It opens, reconnects, rests and reports; the
// clicks and the stream's time go through its feed (StreamFeed).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sound/clips/click_loader.h"
#include "sound/clock/audio_clock.h"
#include "sound/feed/stream_feed.h"
#include "sound/output/audio_backend.h"

namespace pendlo::sound::player {

// Shown once when no sound can be had, with the system's reason appended.
inline constexpr const char* kNoSoundMessage = "ｻｳﾝﾄﾞを出力できません";
// Shown once when the sound output goes away while the program runs.
inline constexpr const char* kSoundLostMessage = "ｻｳﾝﾄﾞの出力が途切れました";

struct PlayerOptions {
  // Frames per callback, and the sound server's target buffer. SDL alone
  // asks PulseAudio to hold just one callback's worth, so the smallest delay
  // of the audio thread is a gap that shifts every later click; a 13 ms
  // target with 256-frame callbacks keeps about 7 ms in hand at the same
  // reported latency (9.8 ms). Measured with bench/click_timing.
  int bufferFrames = 256;
  Micros serverBufferMicros = 13000;  // 0: the audio library's choice
  // The timer's late wake-ups: up to 7.3 ms on an idle virtual machine
  // (bench/timer_jitter) and beside two CPU hogs and two compilers, but 26
  // to 74 ms at moments when other developers' builds and tests shared the
  // machine as well (bench/click_timing, traced).
  // Every output's lookahead holds this margin. A longer lookahead delays
  // no decision: a take-back reaches every click not yet begun, so only the
  // first tick after Start or a new tempo waits for it, after a note shorter
  // than it. 75 ms keeps every lookahead within 600 BPM's 100 ms beat, so
  // only tuplet notes wait.
  Micros wakeMarginMicros = 75000;
  // An output whose callbacks a server asks for (SDL): how long before its
  // due time a click must be queued to be rendered on its frame: one
  // callback and the server's uneven requests.
  Micros callbackAheadMicros = 25000;
  // An output fed by writes into the server's queue (PulseAudio): how far
  // beyond where the clock says the sink reads a write, or a take-back,
  // must land. The sink takes the queue in blocks (10 ms on a null sink) and
  // the clock is a line through its reports, so the sink may have taken a
  // block beyond the clock's reading; not every sink can rewind what it
  // took, so a click there would still be heard. With 5 ms, clicks 6 to 7 ms
  // beyond the reading sounded after their take-back (bench/click_timing
  // --changes, traced).
  // A click is written that margin and 2 ms for the write itself ahead of
  // where the sink reads, so the server never has to rewind for it.
  Micros queueMarginMicros = 15000;
  // How often a lost output is tried again at first (each try that fails
  // doubles the wait, up to 64 times this); 0: only by EnsureOpen (and the
  // output never rests).
  Micros reconnectMicros = 250000;
  // How long the beat is stopped before the output pauses its stream (Rest):
  // long enough for the last click to play out.
  Micros restAfterMicros = 2000000;
  // How long the beat is stopped before the output is closed instead
  // (Release): the stream, the connection and the audio library let go,
  // and opened again on the supervisor's thread at Start. 0: never.
  Micros releaseAfterMicros = 2000000;
  clips::DecodeLimits limits;
};

struct PlayerStats : feed::FeedStats {
  std::string output;  // the output that plays ("pipewire", ...); "" none
};

class ClickPlayer final {
 public:
  explicit ClickPlayer(std::unique_ptr<output::AudioBackend> backend = output::MakeDefaultBackend(),
                       PlayerOptions options = {},
                       clock::AudioClock::SteadySource steady = &steadyNowMicros);
  ~ClickPlayer();
  ClickPlayer(const ClickPlayer&) = delete;
  ClickPlayer& operator=(const ClickPlayer&) = delete;

  // GUI thread (start-up and every Start): opens the output unless a stream
  // is running, and waits for that attempt; while the supervisor is busy
  // reopening a lost output it does not wait. True when a stream runs. A
  // failure is kept for TakeError and the output is tried again every
  // reconnectMicros; nothing throws.
  bool EnsureOpen();
  // GUI thread: closes the output; the clock runs on at the monotonic pace.
  void Close();
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }

  // GUI thread: the message of a sound failure not yet reported, once per
  // failure (repeated failed attempts report nothing new); "" otherwise.
  // Never waits for an output being opened.
  std::string TakeError();

  // Called on another thread whenever a failure is found without a call
  // from the GUI (an output lost while playing): TakeError has news. Set
  // before the first EnsureOpen.
  void SetOnFailure(std::function<void()> onFailure);

  // GUI thread, returns at once: the beat stopped (true) or is about to
  // start (false). Once it has rested for restAfterMicros the supervisor
  // pauses the stream, so that a stopped metronome does not wake the machine
  // every cycle (and its sink may sleep), and after releaseAfterMicros it
  // closes the output and unloads its library; Rest(false) has it resumed or
  // opened again, and EnsureOpen does not wait for that. The clock runs on
  // meanwhile and re-joins the stream when it plays again.
  void Rest(bool resting);

  // Where the clicks are queued and taken back, and the clock is.
  feed::StreamFeed& Feed() { return feed_; }

  PlayerStats Stats() const;

 private:
  bool Lost() const { return lost_.load(std::memory_order_acquire) || feed_.Lost(); }

  // The supervisor's thread and what it does; only it calls the backend.
  void Supervise();
  bool OpenOutput(bool reconnecting, bool failureIsLoss = false);
  void CloseOutput();
  void ReopenLost();
  void ApplyRest();
  // Opens again the output closed at rest; a failure is said as a loss.
  void Wake();
  // Whether a new message became pending.
  bool Report(std::string message);

  const std::unique_ptr<output::AudioBackend> backend_;
  const PlayerOptions options_;
  feed::StreamFeed feed_;

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

  mutable std::mutex report_;  // never held across a call into another module
  bool failing_ = false;
  std::string pending_;
  std::string output_;
  std::function<void()> onFailure_;
  std::chrono::steady_clock::time_point settleUntil_;  // see OpenOutput

  std::atomic<bool> resting_{false};
  std::atomic<Micros> restingSince_{0};  // steady time of the last Rest(true)
  bool paused_ = false;                  // supervisor: the stream is paused
  // The output was closed at rest and opens again at Start.
  std::atomic<bool> released_{false};

  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};  // the supervisor is replacing a lost stream
  std::thread supervisor_;
};

}  // namespace pendlo::sound::player
