// Plays the metronome's clicks: one output stream opened at start-up and
// kept open, WAV files decoded once and cached, each click queued ahead of
// its due time and started on the exact frame of it. The stream's frame
// count is the clock (clock()) that the beat timer runs on.
//
// The player is the output's supervisor: its own thread makes every call
// that opens, closes, pauses or resumes the output, so no other thread ever
// waits on a sound server, and no lock of the player is held across a call
// into an audio library. The clicks reach the output through one of two
// feeders: the mixer (ClickMixer) that the output's callback renders from,
// or the writes into a server's queue (QueueFeeder). The clock (AudioClock)
// follows whichever timeline the output gives.
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

#include "sound/audio_backend.h"
#include "sound/audio_clock.h"
#include "sound/click_loader.h"
#include "sound/click_mixer.h"
#include "sound/queue_feeder.h"
#include "sound/timeline_follower.h"

namespace pendlo {

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
  // The timer's late wake-ups: up to 7.3 ms measured on an idle virtual
  // machine (bench/timer_jitter, 30 s at 11 ms), and a wake-up 15 ms late
  // is still absorbed (bench/click_timing --late-every). Every output's
  // lookahead holds it.
  Micros wakeMarginMicros = 16000;
  // An output whose callbacks a server asks for (SDL): how long before its
  // due time a click must be queued to be rendered on its frame: one
  // callback and the server's uneven requests.
  Micros callbackAheadMicros = 25000;
  // An output fed by writes into the server's queue (PulseAudio): how far
  // ahead of where the sink reads a click is written at the latest, so that
  // the server never has to rewind for it: the sink's reads are known only
  // to a block, and a write within 10 ms of them was heard off its frame
  // (bench/click_timing --late-every 50).
  Micros writeAheadMicros = 9000;
  // How often a lost output is tried again; 0: only by EnsureOpen (and the
  // output never rests).
  Micros reconnectMicros = 250000;
  // How long the beat is stopped before the output pauses its stream (Rest):
  // long enough for the last click to play out.
  Micros restAfterMicros = 2000000;
  DecodeLimits limits;
};

struct PlayerStats {
  std::uint64_t plays = 0;      // Play calls that reached a stream
  std::uint64_t late = 0;       // onsets that missed their frame
  std::uint64_t dropped = 0;    // onsets lost to a full queue
  std::uint64_t takenBack = 0;  // onsets taken back before they began
  std::uint64_t anchors = 0;    // times the clock joined the stream
  std::uint64_t buffers = 0;    // buffers the output's callbacks asked for
  Micros minSlackMicros = 0;    // least margin between queueing and rendering
  int bufferFrames = 0;
  StreamFormat format;
  bool writesIntoQueue = false;  // clicks are written into the server's queue
  std::string output;            // the output that plays ("pipewire", ...); "" none
  Micros lookaheadMicros = 0;    // how long before its due time a click is queued
  Micros deviceMicros = 0;       // from the stream to the listener
};

class ClickPlayer final : private RenderTarget {
 public:
  explicit ClickPlayer(std::unique_ptr<AudioBackend> backend = MakeDefaultBackend(),
                       PlayerOptions options = {},
                       AudioClock::SteadySource steady = &steadyNowMicros);
  ~ClickPlayer() override;
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
  // every cycle (and its sink may sleep); Rest(false) has it resumed. The
  // clock runs on meanwhile and re-joins the stream when it plays again.
  void Rest(bool resting);

  // Timer thread: queues the WAV file `path` to start on the frame of `due`
  // (a time on clock(), up to a few lookaheads ahead), cutting off the click
  // before it. Returns at once with the clip the loader has ready
  // (Clicks()): until a new file is decoded, its previous version or the
  // fallback tone. Without a stream it does nothing.
  void Play(const std::string& path, Micros due);
  // Any thread, returns at once: every click queued for the returned time
  // or later is never heard: `from`, or later where the output has already
  // rendered, or its server may have read, the clicks due from `from` on
  // (those sound).
  Micros TakeBack(Micros from);
  // How long before its due time a click must reach Play: what the output
  // renders ahead plus the timer's late wake-ups. Any thread.
  Micros LookaheadMicros() const;

  // The click files, read off the timer thread.
  ClickLoader& Clicks() { return clicks_; }

  // The clock to give TMMTimer: the stream's frames, or monotonic time.
  std::shared_ptr<AudioClock> clock() const { return clock_; }

  // The steady-clock microsecond (steadyNowMicros) at which the click due at
  // `due` reaches the listener; with no stream, the moment `due` falls on.
  Micros HeardAtSteady(Micros due) const;

  PlayerStats Stats() const;

 private:
  void Render_RT(float* out, int frames, Micros at) override;
  void Cycle_RT(float* out, int frames, const GraphCycle& cycle) override;
  void Lost_RT(float* out, int frames, Micros at) override;
  void Position_RT(double frame, Micros at) override;
  void Underrun_RT() override;
  void HoldClip(std::shared_ptr<const SoundClip> clip, std::uint64_t seq);
  void NoteSlack(Micros slack);
  Micros DeviceMicros() const;

  // The supervisor's thread and what it does; only it calls the backend.
  void Supervise();
  bool OpenOutput(bool reconnecting);
  void CloseOutput();
  void ReopenLost();
  void ApplyRest();
  // Whether a new message became pending.
  bool Report(std::string message);

  const std::unique_ptr<AudioBackend> backend_;
  const PlayerOptions options_;
  const std::shared_ptr<AudioClock> clock_;
  CallbackFollower callbacks_{*clock_};
  GraphFollower cycles_{*clock_};
  PositionFollower positions_{*clock_};

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

  mutable std::mutex report_;  // never held across a call into another module
  bool failing_ = false;
  std::string pending_;
  std::string output_;
  std::function<void()> onFailure_;
  std::chrono::steady_clock::time_point settleUntil_;  // see OpenOutput

  std::atomic<bool> resting_{false};
  std::atomic<Micros> restingSince_{0};  // steady time of the last Rest(true)
  bool paused_ = false;                  // supervisor: the stream is paused

  // Play against (re)opening; never held across a call into the audio
  // library or taken by a callback.
  mutable std::mutex producer_;
  ClickLoader clicks_;
  ClickMixer mixer_;
  std::vector<std::pair<std::shared_ptr<const SoundClip>, std::uint64_t>> held_;
  std::atomic<int> channels_{2};  // set while no callback runs
  // The output's queue when it is fed by writes (writes_ then feeds it);
  // null when the callbacks render the clicks (mixer_).
  std::atomic<ClickQueue*> queue_{nullptr};
  QueueFeeder writes_;

  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};
  std::atomic<Micros> lookahead_{0};
  std::atomic<Micros> deviceMicros_{0};
  int graphQuantum_ = 0;        // callback: the cycle the lookahead was set for
  std::int64_t graphNext_ = 0;  // callback: the graph's frame the next cycle should begin at
  std::atomic<int> bufferFrames_{0};
  std::atomic<int> rate_{0};
  std::atomic<std::uint64_t> plays_{0};
  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<Micros> minSlack_{INT64_MAX};
  std::thread supervisor_;
};

}  // namespace pendlo
