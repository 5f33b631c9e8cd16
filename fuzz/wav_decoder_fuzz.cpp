// Any bytes as a click file, decoded into a stream format chosen by the first
// byte (so the resampler runs for most inputs). The decoder must never crash,
// must fail with a reason or give a clip in exactly the asked-for format,
// finite, within full scale and no longer than its time limit allows; reading
// only the first n bytes must be the same as being given only those.
//
// An input starting with 0xFF tests the resampler alone: interleaved samples
// between any two rates must come out the length the rates give, within full
// scale, each channel as if resampled alone.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "sound/clips/resample.h"
#include "sound/clips/wav_decoder.h"

namespace {

using pendlo::sound::clips::DecodeLimits;
using pendlo::sound::clips::DecodeResult;
using pendlo::sound::clips::StreamFormat;

constexpr std::array<int, 6> kStreamRates = {22050, 44100, 48000, 88200, 96000, 192000};
constexpr std::array<int, 4> kStreamChannels = {1, 2, 4, 6};
constexpr std::array<int, 13> kFileRates = {1000,  8000,  11025, 16000,  22050,  32000, 44100,
                                            48000, 88200, 96000, 176400, 192000, 384000};
// 5 ms keeps each run short (a click lasts about 11 ms); the
// limit's arithmetic is the same at any length.
constexpr pendlo::sound::clips::DecodeLimits kLimits{10u << 20, 0.005};

void Check(bool ok) {
  if (!ok) std::abort();
}

bool InRange(const std::vector<float>& samples) {
  return std::all_of(samples.begin(), samples.end(),
                     [](float v) { return std::isfinite(v) && std::abs(v) <= 1.0f; });
}

void FuzzDecoder(std::uint8_t choice, std::span<const std::uint8_t> file) {
  const pendlo::sound::clips::StreamFormat out{
      kStreamRates[choice % kStreamRates.size()],
      kStreamChannels[(choice / kStreamRates.size()) % kStreamChannels.size()]};
  const pendlo::sound::clips::DecodeResult r = pendlo::sound::clips::DecodeWav(file, out, kLimits);
  if (!r.clip) {
    Check(!r.error.empty());
  } else {
    const pendlo::sound::clips::SoundClip& clip = *r.clip;
    Check(clip.format == out);
    Check(clip.samples.size() % static_cast<std::size_t>(out.channels) == 0);
    Check(clip.frames() >= 1);
    Check(clip.frames() <= static_cast<std::size_t>(std::ceil(kLimits.maxSeconds * out.rate)) + 1);
    Check(InRange(clip.samples));
  }
  // A byte limit is the same as a file cut at that length.
  const std::size_t cut = file.size() / 2;
  pendlo::sound::clips::DecodeLimits shorter = kLimits;
  shorter.maxBytes = cut;
  const pendlo::sound::clips::DecodeResult limited =
      pendlo::sound::clips::DecodeWav(file, out, shorter);
  const pendlo::sound::clips::DecodeResult truncated =
      pendlo::sound::clips::DecodeWav(file.first(cut), out, kLimits);
  Check(limited.error == truncated.error);
  Check(limited.clip.has_value() == truncated.clip.has_value());
  if (limited.clip) Check(limited.clip->samples == truncated.clip->samples);
}

void FuzzResampler(std::span<const std::uint8_t> data) {
  if (data.size() < 3) return;
  const int channels = 1 + data[0] % 4;
  const int from = kFileRates[data[1] % kFileRates.size()];
  const int to = kStreamRates[data[2] % kStreamRates.size()];
  // Up to 128 frames: at 1 kHz to 192 kHz that is already 24,576 out.
  data = data.subspan(3, std::min<std::size_t>(data.size() - 3, 128u * channels));
  const std::size_t frames = data.size() / static_cast<std::size_t>(channels);
  std::vector<float> in(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = (data[i] - 128) / 128.0f;

  const std::vector<float> out = pendlo::sound::clips::Resample(in, channels, from, to);
  const auto expected = static_cast<std::size_t>(
      (static_cast<std::int64_t>(frames) * to + from - 1) / from * channels);
  Check(out.size() == expected);
  Check(InRange(out));
  if (from == to) Check(out == in);
  // Interleaving must not mix the channels.
  for (int c = 0; c < channels && channels > 1; ++c) {
    std::vector<float> alone(frames);
    for (std::size_t i = 0; i < frames; ++i) alone[i] = in[i * channels + c];
    const std::vector<float> single = pendlo::sound::clips::Resample(alone, 1, from, to);
    for (std::size_t i = 0; i < single.size(); ++i) Check(single[i] == out[i * channels + c]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (data[0] == 0xFF) {
    FuzzResampler(rest);
  } else {
    FuzzDecoder(data[0], rest);
  }
  return 0;
}
