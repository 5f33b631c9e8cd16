// The metronome's master clock while sound plays: the output stream's own
// frame count, in microseconds. TMMTimer waits on it, so every due time is a
// point of the audio timeline and a click can be placed on its exact frame,
// whatever the thread wake-up jitter. Between audio callbacks the time is
// extrapolated through a delay-locked loop over the callback times. While no
// stream runs (none opened, lost, or stalled) it runs on from the monotonic
// clock without a jump, and re-joins the stream when callbacks come back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "sound/delay_locked_loop.h"
#include "sound/seqlock.h"
#include "timer/clock.h"

namespace pendlo {

class AudioClock final : public SteadyMappedClock {
 public:
  using SteadySource = Micros (*)();  // steady-clock microseconds now

  // Starts as the monotonic clock (now() == steadySource()). Tests pass a
  // fake steady source and drive the callback side themselves.
  explicit AudioClock(SteadySource steadySource = &steadyNowMicros);

  // Any thread, lock-free; never goes backwards.
  Micros now() override;

  // The steady-clock microsecond (steadyNowMicros' timeline) at which now()
  // reaches t, by the current mapping. Any thread, lock-free.
  Micros SteadyAt(Micros t) const;

  // True from the first callback of a stream until EndStream or loss.
  bool Streaming() const { return streaming_.load(std::memory_order_acquire); }

  // Control thread, while no callback can run: the next callback starts a
  // stream of `rate` frames per second, anchored to the clock's present time.
  // `bufferedMicros` is what the server holds ahead: a callback that late has
  // not yet left a gap in the sound, so the clock keeps to the frames.
  void BeginStream(int rate, Micros bufferedMicros = 0);
  // Control thread, while no callback can run: from now on the monotonic
  // clock's pace, continuing from the present time.
  void EndStream();

  // Callback: a buffer of `frames` frames is requested at steady time `at`.
  // Returns the stream frame number of its first frame.
  std::int64_t OnBuffer_RT(int frames, Micros at);
  // Callback of a stream the sound server's graph paces itself: the buffer
  // of `frames` frames that starts at stream frame `frame` (the graph's own
  // count, which may skip cycles) is the graph's cycle that began at steady
  // time `at`. The clock follows that timeline; a frame count that jumps
  // against `at` (a dropout, a new driver, a sink woken from suspend) makes
  // the clock re-join it from its present time, so the beat neither jumps
  // nor bursts. Returns `frame`.
  std::int64_t OnCycle_RT(std::int64_t frame, int frames, Micros at);
  // Callback: the stream has failed for good (device lost); the clock falls
  // back to the monotonic pace from `at`.
  void OnLost_RT(Micros at);
  // Callback: the stream frame on which clock time t falls (rounded).
  std::int64_t FrameAt_RT(Micros t) const;
  // Callback: the earliest clock time whose frame (FrameAt_RT) is `frame`
  // or later; 0 while no stream runs.
  Micros TimeAt_RT(std::int64_t frame) const;

  // For a stream the server keeps full from a deep queue, where clicks are
  // written ahead rather than rendered per callback: at steady time `at` the
  // listener hears stream frame `frame`. The clock follows these reports
  // through the same kind of loop; the frame grid is fixed by the first one
  // and never moves while the stream plays on without a gap.
  void OnPosition_RT(double frame, Micros at);
  // The stream ran dry and shifted: the next position report re-joins it.
  void OnUnderrun_RT() { needAnchor_ = true; }
  // Any thread, lock-free: the stream frame on which clock time t falls
  // (rounded), into `frame`; false while the grid is not yet known.
  bool FrameAt(Micros t, std::int64_t& frame) const;
  // Any thread, lock-free: the earliest clock time whose frame (FrameAt) is
  // `frame` or later, into `t`; false while the grid is not yet known.
  bool TimeAt(std::int64_t frame, Micros& t) const;

  // The clock time up to which the stream has been rendered (the end of the
  // last buffer requested); with no stream, now(). Any thread, lock-free.
  Micros RenderedUpTo();

  // Times the clock re-joined a stream after a stall or a new start.
  std::uint64_t Anchors() const { return anchors_.load(std::memory_order_relaxed); }

 protected:
  std::chrono::steady_clock::time_point steadyAt(Micros t) override;

 private:
  // Clock time is linear in steady time between (t0, c0) and (t1, c1); the
  // line is extrapolated outside, which is what carries the clock through a
  // stall.
  struct Mapping {
    double t0 = 0, t1 = 1, c0 = 0, c1 = 1;
    double renderedTo = 0;  // clock time at the end of the last buffer; 0 = none
  };
  static double ClockAt(const Mapping& m, double steady);
  // The one place a stream joins the clock: stream frame `frame` falls on
  // the time the clock shows at steady time `steady`, so the clock never
  // jumps; the grid of frames is published from there.
  void Join_RT(std::int64_t frame, double steady);
  // A callback-paced stream joins at its next frame; its loop starts over.
  void Anchor_RT(int frames, Micros at);

  // Where clock time meets stream frames: frame anchorFrame is heard at
  // clock time anchorTime, every later frame 1/rate after the one before.
  struct Grid {
    Micros anchorTime = 0;
    std::int64_t anchorFrame = 0;
    int rate = 0;  // 0: no grid yet
  };
  static std::int64_t FrameOnGrid(const Grid& g, Micros t);
  static Micros TimeOnGrid(const Grid& g, std::int64_t frame);
  void PublishGrid() { grid_.Store(Grid{anchorTime_, anchorFrame_, rate_}); }

  SteadySource steady_;
  SeqLock<Mapping> mapping_;
  SeqLock<Grid> grid_;
  std::atomic<Micros> lastNow_{INT64_MIN};
  std::atomic<bool> streaming_{false};
  std::atomic<std::uint64_t> anchors_{0};

  // Callback side only (or the control thread while no callback runs).
  Mapping rt_;                    // the writer's copy of mapping_
  int rate_ = 0;                  // frames per second; 0 = no stream
  Micros buffered_ = 0;           // see BeginStream
  bool needAnchor_ = false;       // first callback of a stream
  std::int64_t nextFrame_ = 0;    // first frame of the next buffer
  std::int64_t anchorFrame_ = 0;  // frame at which the clock read anchorTime_
  Micros anchorTime_ = 0;
  // Callback-paced: steady microseconds per frame, smoothed.
  DelayLockedLoop callbackLoop_;
  // Position reports: clock microseconds per steady microsecond.
  DelayLockedLoop positionLoop_;
  double graphPeriod_ = 0;      // graph-paced: steady microseconds per frame
  Micros anchorSteady_ = 0;     // graph-paced: steady time of anchorFrame_
  Micros lastCycle_ = 0;        // graph-paced: steady time of the last cycle...
  std::int64_t lastFrame_ = 0;  // ...and its first frame
  double lastReport_ = 0;       // steady time of the last position report
};

}  // namespace pendlo
