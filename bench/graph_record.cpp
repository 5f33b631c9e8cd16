// Records a PipeWire sink's monitor on the graph's timeline (cycles the
// recorder missed stay silent instead of pulling the rest earlier) until
// SIGINT or SIGTERM, then writes it as raw 16-bit mono to standard output:
// what parec --format=s16le --channels=1 gives, without its lost cycles.
//
//   graph_record SINK [SECONDS=600] [RATE=48000] > out.raw
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/graph_recorder.h"

namespace {
volatile sig_atomic_t stopped = 0;
void OnSignal(int) {
  stopped = 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: graph_record SINK [SECONDS=600] [RATE=48000] > out.raw\n");
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 48000;
  if (seconds <= 0 || rate <= 0) return 2;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  pendlo::testing::GraphRecorder recorder(argv[1], rate, seconds);
  std::string error;
  if (!recorder.Start(&error)) {
    std::fprintf(stderr, "graph_record: %s\n", error.c_str());
    return 1;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!stopped && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::vector<float> samples = recorder.Stop();
  std::vector<std::int16_t> pcm(samples.size());
  std::transform(samples.begin(), samples.end(), pcm.begin(), [](float v) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0F, 1.0F) * 32767.0F));
  });
  std::fwrite(pcm.data(), sizeof pcm[0], pcm.size(), stdout);
  std::fprintf(stderr, "graph_record: %zu frames, %d gaps in the graph's count\n", pcm.size(),
               recorder.Gaps());
  return 0;
}
