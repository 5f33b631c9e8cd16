// The metronome's master clock while sound plays: the output stream's own
// frame count, in microseconds. TMMTimer waits on it, so every due time is a
// point of the audio timeline and a click can be placed on its exact frame,
// whatever the thread wake-up jitter. Between audio callbacks the time is
// extrapolated along a line that the follower of the stream's timeline
// (timeline_follower.h) sets. While no stream runs (none opened, lost, or
// stalled) it runs on from the monotonic clock without a jump, and re-joins
// the stream when callbacks come back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "sound/clock/seqlock.h"
#include "timer/clock.h"

namespace pendlo::sound::clock {

class AudioClock final : public SteadyMappedClock {
 public:
  using SteadySource = Micros (*)();  // steady-clock microseconds now

  // Clock time is linear in steady time between (t0, c0) and (t1, c1); the
  // line is extrapolated outside, which is what carries the clock through a
  // stall.
  struct Line {
    double t0 = 0, t1 = 1, c0 = 0, c1 = 1;
    double renderedTo = 0;  // clock time at the end of the last buffer; 0 = none
  };

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

  // Control thread, while no callback can run: the stream's follower joins
  // a stream of `rate` frames per second to the clock's present time.
  void BeginStream(int rate);
  // Control thread, while no callback can run: from now on the monotonic
  // clock's pace, continuing from the present time.
  void EndStream();

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

  // The stream's side, called by the follower of its timeline on the
  // callback's thread (or the control thread while no callback runs).
  int Rate_RT() const { return rate_; }
  // True when the stream must join the clock again: a new stream or a loss.
  bool MustJoin_RT() const { return needJoin_ || !streaming_.load(std::memory_order_relaxed); }
  // The one place a stream joins the clock: stream frame `frame` falls on
  // the time the clock shows at steady time `steady`, so the clock never
  // jumps; the grid of frames is published from there.
  void Join_RT(std::int64_t frame, double steady);
  // The grid: the clock time of stream frame `frame`, and the frame it was
  // joined at.
  double TimeOfFrame_RT(double frame) const;
  std::int64_t JoinFrame_RT() const { return anchorFrame_; }
  // The line the clock follows, as last set; Follow_RT sets a new one and
  // marks the stream as playing.
  const Line& Line_RT() const { return rt_; }
  double ClockAt_RT(double steady) const { return ClockAt(rt_, steady); }
  void Follow_RT(const Line& line);
  // Callback: the stream has failed for good (device lost); the clock falls
  // back to the monotonic pace from `at`.
  void OnLost_RT(Micros at);
  // Callback: the stream frame on which clock time t falls (rounded).
  std::int64_t FrameAt_RT(Micros t) const;
  // Callback: the earliest clock time whose frame (FrameAt_RT) is `frame`
  // or later; 0 while no stream runs.
  Micros TimeAt_RT(std::int64_t frame) const;

 protected:
  std::chrono::steady_clock::time_point steadyAt(Micros t) override;

 private:
  static double ClockAt(const Line& m, double steady);
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
  SeqLock<Line> mapping_;
  SeqLock<Grid> grid_;
  std::atomic<Micros> lastNow_{INT64_MIN};
  std::atomic<bool> streaming_{false};
  std::atomic<std::uint64_t> anchors_{0};

  // Callback side only (or the control thread while no callback runs).
  Line rt_;                       // the writer's copy of mapping_
  int rate_ = 0;                  // frames per second; 0 = no stream
  bool needJoin_ = false;         // first callback of a stream
  std::int64_t anchorFrame_ = 0;  // frame at which the clock read anchorTime_
  Micros anchorTime_ = 0;
};

}  // namespace pendlo::sound::clock
