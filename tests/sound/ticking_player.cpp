// A player on its own process, for a test that stops it (kill -STOP) and
// continues it as a machine that freezes does: plays CLIP every PERIOD_MS
// on the player's clock, as the beat timer does, for SECONDS, through
// OUTPUT (pulse or pipewire) on the server the environment names. Prints
// "ticking" once the first click is queued.
//
//   ticking_player OUTPUT CLIP PERIOD_MS SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "sound/player/click_player.h"
#include "support/loaded_clicks.h"
#include "support/sound_server.h"

namespace {

// As the test's tick loop queues its clicks (playback_test.cpp).
constexpr pendlo::Micros kAhead = 150000;

}  // namespace

int main(int argc, char** argv) {
  using namespace pendlo;
  if (argc != 5) {
    std::fprintf(stderr, "usage: ticking_player OUTPUT CLIP PERIOD_MS SECONDS\n");
    return 2;
  }
  const std::string output = argv[1], clip = argv[2];
  const Micros period = std::atoll(argv[3]) * 1000, span = std::atoll(argv[4]) * 1'000'000;
  sound::player::ClickPlayer player(output == "pipewire" ? sound::output::pipewire::MakeBackend()
                                                         : sound::output::pulse::MakeBackend(),
                                    sound::player::PlayerOptions{});
  if (!player.EnsureOpen()) {
    std::fprintf(stderr, "no output: %s\n", player.TakeError().c_str());
    return 1;
  }
  sound::clock::AudioClock& clock = *player.Feed().clock();
  if (!testing::WaitUntilLoaded(player.Feed().Clicks(), {clip}) ||
      !testing::WaitUntilStreaming(clock)) {
    std::fprintf(stderr, "the click or the stream never came\n");
    return 1;
  }
  const Micros first = clock.now() + kAhead;
  for (Micros due = first; due < first + span; due += period) {
    while (!clock.waitUntil(due - kAhead)) {
    }
    player.Feed().Play(clip, due);
    if (due == first) {
      std::printf("ticking\n");
      std::fflush(stdout);
    }
  }
  // The last click reaches the sink.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  return 0;
}
