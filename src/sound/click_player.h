// Plays the metronome's clicks: one output stream opened at start-up and
// kept open, WAV files decoded once and cached, each click started on the
// exact frame of its due time plus a constant lead. The stream's frame count
// is the clock (clock()) that the beat timer runs on.
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
  // From a click's due time to its onset on the stream: room for the
  // timer's late wake-ups (up to 20 ms on a busy virtual machine), and for
  // SDL one callback and the server's uneven requests.
  Micros leadMicros = 25000;
  // For an output the server's graph paces (PipeWire) the lead is one cycle
  // of the graph, as large as the server makes it, plus this: the timer's
  // late wake-ups, up to 6.8 ms measured on an idle virtual machine. With
  // the 256-frame cycle asked for, a decided click is heard 11.8 ms later.
  Micros graphMarginMicros = 6500;
  // How often a lost output is tried again; 0: only by EnsureOpen (and the
  // output never rests).
  Micros reconnectMicros = 250000;
  // How long the beat is stopped before the output pauses its stream (Rest):
  // long enough for the last click to play out.
  Micros restAfterMicros = 2000000;
  DecodeLimits limits;
};

struct PlayerStats {
  std::uint64_t plays = 0;    // Play calls that reached a stream
  std::uint64_t late = 0;     // onsets that missed their frame
  std::uint64_t dropped = 0;  // onsets lost to a full queue
  std::uint64_t anchors = 0;  // times the clock joined the stream
  std::uint64_t buffers = 0;  // buffers the output's callbacks asked for
  Micros minSlackMicros = 0;  // least margin between scheduling and rendering
  int bufferFrames = 0;
  StreamFormat format;
  bool writesIntoQueue = false;  // clicks are written into the server's queue
  std::string output;            // the output that plays ("pipewire", ...); "" none
  Micros leadMicros = 0;         // from due time to onset on the stream
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
  // is running; reopens one that was lost. True when a stream runs. A failure
  // is kept for TakeError; nothing throws.
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

  // GUI thread: the beat stopped (true) or is about to start (false). Once it
  // has rested for restAfterMicros the output pauses its stream, so that a
  // stopped metronome does not wake the machine every cycle (and its sink
  // may sleep). Rest(false) resumes it and returns once the stream plays
  // again, so that the beat starts from there and its first click is not
  // lost to a sink still waking; it waits at most kWakeMicros.
  void Rest(bool resting);
  static constexpr Micros kWakeMicros = 500000;

  // Timer thread: starts the WAV file `path` on the frame of `due` (a time
  // on clock()) plus the lead, cutting off the click before it. Returns at
  // once with the clip the loader has ready (Clicks()): until a new file is
  // decoded, its previous version or the fallback tone. Without a stream it
  // does nothing.
  void Play(const std::string& path, Micros due);

  // The click files, read off the timer thread.
  ClickLoader& Clicks() { return clicks_; }

  // The clock to give TMMTimer: the stream's frames, or monotonic time.
  std::shared_ptr<AudioClock> clock() const { return clock_; }

  // The steady-clock microsecond (steadyNowMicros) at which the click due at
  // `due` reaches the listener; with no stream, the moment `due` falls on.
  Micros HeardAtSteady(Micros due) const;
  // Lead plus the device's latency, in microseconds; 0 with no stream.
  Micros OutputLatency() const;

  PlayerStats Stats() const;

 private:
  void Render_RT(float* out, int frames, Micros at) override;
  void Cycle_RT(float* out, int frames, const GraphCycle& cycle) override;
  void Lost_RT(float* out, int frames, Micros at) override;
  void Position_RT(double frame, Micros at) override;
  void Underrun_RT() override;
  void WriteClick(ClickQueue& queue, const SoundClip& clip, Micros due);
  Micros DeviceMicros() const;
  bool OpenLocked(bool reconnecting);
  void CloseLocked();
  // Whether a new message became pending.
  bool Report(std::string message);
  // The reconnecting thread: reopens an output that was lost while wanted.
  void Watch();
  void ReopenLost();
  // The reconnecting thread: pauses or resumes the stream as Rest asked.
  void ApplyRest();

  const std::unique_ptr<AudioBackend> backend_;
  const PlayerOptions options_;
  const std::shared_ptr<AudioClock> clock_;

  std::mutex control_;   // opening and closing (GUI thread, reconnecting thread)
  bool wanted_ = false;  // opened by EnsureOpen and not closed since

  mutable std::mutex report_;  // never held across a call into another module
  bool failing_ = false;
  std::string pending_;
  std::string output_;
  std::function<void()> onFailure_;
  std::chrono::steady_clock::time_point settleUntil_;  // see OpenLocked

  std::mutex watch_;  // the reconnecting thread's wake-ups
  std::condition_variable watchWake_;
  bool watchStop_ = false;
  bool restChanged_ = false;  // Rest was called since the thread last looked

  std::atomic<bool> resting_{false};
  std::atomic<Micros> restingSince_{0};  // steady time of the last Rest(true)
  std::atomic<bool> paused_{false};      // the stream is paused; set under control_
  std::thread watcher_;

  std::mutex producer_;  // Play against (re)opening; never taken by the callback
  ClickLoader clicks_;
  ClickMixer mixer_;
  std::vector<std::pair<std::shared_ptr<const SoundClip>, std::uint64_t>> held_;
  std::atomic<int> channels_{2};  // set while no callback runs
  // The output's queue when it is fed by writes: clicks go straight to it
  // from Play; null when the callbacks render them (mixer_).
  std::atomic<ClickQueue*> queue_{nullptr};
  std::int64_t soundingUntil_ = 0;  // end frame of the click last written
  std::vector<float> scratch_;      // the click being written, reused
  std::atomic<std::uint64_t> lateWrites_{0};

  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};
  std::atomic<Micros> leadMicros_{0};
  std::atomic<Micros> deviceMicros_{0};
  int graphQuantum_ = 0;        // callback: the cycle the lead was set for
  std::int64_t graphNext_ = 0;  // callback: the graph's frame the next cycle should begin at
  std::atomic<int> bufferFrames_{0};
  std::atomic<int> rate_{0};
  std::atomic<std::uint64_t> plays_{0};
  std::atomic<std::uint64_t> buffers_{0};
  std::atomic<Micros> minSlack_{INT64_MAX};
};

}  // namespace pendlo
