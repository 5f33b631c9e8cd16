// What a stream's feed needs to know of the player's options.
#pragma once

#include "sound/clips/wav_decoder.h"
#include "timer/clock.h"

namespace pendlo::sound::feed {

struct FeedOptions {
  Micros serverBufferMicros = 0;   // the server's target buffer; 0: the library's
  Micros wakeMarginMicros = 0;     // the timer's late wake-ups, in every lookahead
  Micros callbackAheadMicros = 0;  // what a callback output renders ahead
  Micros queueMarginMicros = 0;    // how far beyond the sink's reading a write lands
  clips::DecodeLimits limits;
};

}  // namespace pendlo::sound::feed
