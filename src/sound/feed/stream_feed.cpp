#include "sound/feed/stream_feed.h"

namespace pendlo::sound::feed {

StreamFeed::StreamFeed(FeedOptions options, clock::AudioClock::SteadySource steady)
    : clock_(std::make_shared<clock::AudioClock>(steady)),
      clicks_(options.limits),
      render_(options, *clock_, mixer_, counters_),
      schedule_(options, clock_, clicks_, mixer_, render_, counters_) {}

void StreamFeed::Begin(const clips::StreamFormat& format, int frames, output::ClickQueue* queue,
                       Micros knownLatency) {
  clicks_.SetFormat(format);
  clock_->BeginStream(format.rate);
  counters_.SetBufferFrames(frames);
  render_.Begin(format, frames, queue, knownLatency);
  // Last: the timer's clicks reach the stream from here on.
  schedule_.Begin(format, queue);
}

void StreamFeed::End() {
  schedule_.End();
  render_.End();
  clock_->EndStream();
}

Micros StreamFeed::HeardAtSteady(Micros due) const {
  if (!clock_->Streaming()) return clock_->SteadyAt(due);
  return clock_->SteadyAt(due) + render_.DeviceMicros();
}

FeedStats StreamFeed::Stats() const {
  FeedStats s;
  s.plays = counters_.Plays();
  const OnsetCounters& rendered = mixer_.Counts();
  const OnsetCounters& written = schedule_.WriteCounts();
  s.late = rendered.Late() + written.Late();
  s.dropped = rendered.Dropped() + written.Dropped();
  s.takenBack = rendered.TakenBack() + written.TakenBack();
  s.anchors = clock_->Anchors();
  s.buffers = counters_.Buffers();
  s.passedBy = counters_.PassedBy();
  s.minSlackMicros = counters_.MinSlack();
  s.bufferFrames = counters_.BufferFrames();
  s.format = render_.Format();
  s.writesIntoQueue = render_.WritesIntoQueue();
  s.lookaheadMicros = render_.LookaheadMicros();
  s.deviceMicros = render_.DeviceMicros();
  return s;
}

}  // namespace pendlo::sound::feed
