// The followers of a stream's timeline, one per way an output tells its
// time, each feeding the AudioClock's line and joining the stream to it
// (AudioClock::Join_RT) when it starts or stalls. Each runs on the stream's
// callback thread only (or the control thread while no callback runs).
#pragma once

#include <array>
#include <cstdint>

#include "sound/clock/audio_clock.h"
#include "sound/clock/delay_locked_loop.h"

namespace pendlo::sound::clock {

// A stream whose callbacks a server asks for (SDL): frames counted by the
// program, the time between callbacks smoothed by a delay-locked loop.
class CallbackFollower {
 public:
  explicit CallbackFollower(AudioClock& clock);
  // Control thread, with AudioClock::BeginStream: a new stream; `buffered`
  // is what the server holds ahead: a callback that late has not yet left a
  // gap in the sound, so the clock keeps to the frames.
  void Begin(Micros buffered);
  // A buffer of `frames` frames is requested at steady time `at`. Returns
  // the stream frame number of its first frame.
  std::int64_t OnBuffer_RT(int frames, Micros at);

 private:
  AudioClock& clock_;
  Micros buffered_ = 0;
  std::int64_t nextFrame_ = 0;  // first frame of the next buffer
  DelayLockedLoop loop_;        // steady microseconds per frame
};

// A stream the sound server's graph paces itself (PipeWire): each buffer is
// a cycle that starts at the graph's own frame count (which may skip
// cycles), dated by the driver's clock. A frame count that jumps against
// its date (a dropout, a new driver, a sink woken from suspend) makes the
// clock re-join it from its present time, so the beat neither jumps nor
// bursts.
class GraphFollower {
 public:
  explicit GraphFollower(AudioClock& clock) : clock_(clock) {}
  // The cycle of `frames` frames from the graph's frame `frame`, begun at
  // steady time `at`. Returns `frame`.
  std::int64_t OnCycle_RT(std::int64_t frame, int frames, Micros at);

 private:
  AudioClock& clock_;
  double period_ = 0;           // steady microseconds per frame
  Micros joinSteady_ = 0;       // steady time of the frame joined at
  Micros lastCycle_ = 0;        // steady time of the last cycle...
  std::int64_t lastFrame_ = 0;  // ...and its first frame
};

// A stream the server keeps full from a deep queue (PulseAudio), where
// clicks are written ahead: reports that at steady time `at` the listener
// hears stream frame `frame`. The frame grid is fixed by the first report
// and never moves while the stream's frames keep their moments.
//
// A stream whose queue ran dry may have stood still meanwhile (PulseAudio
// stops its read index at the queue's end): it is re-joined from a few
// reports asked for at once. Each is dated a little late (the server's reply
// follows its reading), by tens of microseconds and more on a busy machine.
// The line before the stall sat in the middle of such reports, so the join
// takes the middle of these: the new grid is the old one moved by the frames
// the stream stood still. No click is written until then.
class PositionFollower {
 public:
  explicit PositionFollower(AudioClock& clock);
  // Control thread, with AudioClock::BeginStream: a new stream.
  void Begin() { rejoinTaken_ = 0; }
  // Returns true when another report is wanted at once.
  bool OnPosition_RT(double frame, Micros at);
  // The stream's queue ran dry: if the next report finds the stream's
  // frames moved (far from the clock's line), it re-joins the stream.
  void OnUnderrun_RT() { ranDry_ = true; }
  // The stream resumes after a pause (its frames stood still): `frame` is
  // taken from steady time `at`; the clock joins it there.
  void OnResume_RT(double frame, Micros at);

 private:
  // Joins the clock to the stream at the report (frame, steady time s).
  AudioClock::Line Join(double frame, double s);
  // `frames` stream frames in microseconds.
  double MicrosOf(double frames) const { return frames * 1e6 / clock_.Rate_RT(); }

  // One of the reports a re-join is made from; true when it was the last.
  bool TakeRejoinReport(double frame, double s);
  // Joins the clock at the last report taken, dated by the reports' middle
  // lead (a frame's time less its date).
  AudioClock::Line JoinAtMiddleLead();

  static constexpr int kRejoinReports = 8;

  AudioClock& clock_;
  DelayLockedLoop loop_;   // clock microseconds per steady microsecond
  double lastReport_ = 0;  // steady time of the last report
  bool ranDry_ = false;    // an underrun since the last report
  int rejoinTaken_ = 0;    // reports taken for a re-join; 0: none under way
  std::array<double, kRejoinReports> rejoinLeads_{};
  double rejoinFrame_ = 0;  // the frame of the last one taken
};

}  // namespace pendlo::sound::clock
