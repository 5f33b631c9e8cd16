#include "sound/clips/wav_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sound/clips/resample.h"

namespace pendlo::sound::clips {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

struct Format {
  std::uint16_t tag = 0;
  int channels = 0;
  int rate = 0;
  int blockAlign = 0;
  int bits = 0;  // container bits per sample
};

DecodeResult Fail(std::string why) {
  return DecodeResult{std::nullopt, std::move(why)};
}

// One sample of `bytesPer` bytes at p, as -1..1.
float SampleAt(const std::uint8_t* p, const Format& f, int bytesPer) {
  if (f.tag == kFormatFloat) {
    double v;
    if (bytesPer == 4) {
      float x;
      std::memcpy(&x, p, 4);
      v = x;
    } else {
      std::memcpy(&v, p, 8);
    }
    return std::isfinite(v) ? static_cast<float>(std::clamp(v, -1.0, 1.0)) : 0.0f;
  }
  switch (bytesPer) {
    case 1:
      return (p[0] - 128) / 128.0f;
    case 2:
      return static_cast<std::int16_t>(U16(p)) / 32768.0f;
    case 3: {
      const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                               static_cast<std::uint32_t>(p[1]) << 16 |
                                               static_cast<std::uint32_t>(p[2]) << 24);
      return static_cast<float>(v / 2147483648.0);
    }
    default:
      return static_cast<float>(static_cast<std::int32_t>(U32(p)) / 2147483648.0);
  }
}

}  // namespace

DecodeResult DecodeWav(std::span<const std::uint8_t> bytes, StreamFormat out,
                       const DecodeLimits& limits) {
  bytes = bytes.first(std::min(bytes.size(), limits.maxBytes));
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
    return Fail("not a RIFF WAVE file");

  // Walk the chunks. The RIFF size is not trusted: writers that stream often
  // leave it 0 or too large, so the bytes at hand decide.
  std::optional<Format> fmt;
  std::span<const std::uint8_t> data;
  bool haveData = false;
  std::size_t pos = 12;
  while (pos + 8 <= bytes.size() && !haveData) {
    const std::uint8_t* chunk = bytes.data() + pos;
    const std::size_t size = U32(chunk + 4);
    const std::size_t avail = bytes.size() - pos - 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || avail < 16) return Fail("format chunk too short");
      const std::uint8_t* p = chunk + 8;
      Format f;
      f.tag = U16(p);
      f.channels = U16(p + 2);
      f.rate = static_cast<int>(std::min<std::uint32_t>(U32(p + 4), kMaxRate + 1));
      f.blockAlign = U16(p + 12);
      f.bits = U16(p + 14);
      if (f.tag == kFormatExtensible) {
        if (size < 40 || avail < 40) return Fail("extensible format chunk too short");
        f.tag = U16(p + 24);  // first two bytes of the sub-format GUID
      }
      fmt = f;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!fmt) return Fail("data before format chunk");
      data = bytes.subspan(pos + 8, std::min(size, avail));
      haveData = true;
    }
    pos += 8 + size + (size & 1);  // chunks are padded to even sizes
  }
  if (!fmt) return Fail("no format chunk");
  if (!haveData) return Fail("no data chunk");

  const Format& f = *fmt;
  if (f.tag != kFormatPcm && f.tag != kFormatFloat)
    return Fail("unsupported encoding " + std::to_string(f.tag));
  if (f.channels < 1 || f.channels > kMaxChannels) return Fail("bad channel count");
  if (f.rate < 1 || f.rate > kMaxRate) return Fail("bad sample rate");
  if (f.bits == 0 || f.bits % 8 != 0) return Fail("bad sample size");
  // The container size is the block size per channel; a 24-bit sample in a
  // 32-bit container (extensible files) reads as a 32-bit one.
  const int bytesPer = f.blockAlign / f.channels;
  if (f.blockAlign % f.channels != 0 || bytesPer < f.bits / 8 || bytesPer < 1)
    return Fail("bad block alignment");
  const bool floatOk = f.tag == kFormatFloat && (bytesPer == 4 || bytesPer == 8);
  const bool pcmOk = f.tag == kFormatPcm && bytesPer >= 1 && bytesPer <= 4;
  if (!floatOk && !pcmOk) return Fail("unsupported sample size");

  std::size_t frames = data.size() / static_cast<std::size_t>(f.blockAlign);
  frames = std::min(frames, static_cast<std::size_t>(limits.maxSeconds * f.rate));
  if (frames == 0) return Fail("no sound in data chunk");

  // Channels first (fewer samples to resample), then the rate.
  std::vector<float> mixed(frames * static_cast<std::size_t>(out.channels));
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint8_t* frame = data.data() + i * static_cast<std::size_t>(f.blockAlign);
    for (int c = 0; c < out.channels; ++c) {
      float v;
      if (out.channels == 1) {
        double sum = 0;  // mono: the average of every source channel
        for (int s = 0; s < f.channels; ++s) sum += SampleAt(frame + s * bytesPer, f, bytesPer);
        v = static_cast<float>(sum / f.channels);
      } else {
        // Mono is copied to every channel; extra source channels are dropped.
        v = SampleAt(frame + std::min(c, f.channels - 1) * bytesPer, f, bytesPer);
      }
      mixed[i * static_cast<std::size_t>(out.channels) + static_cast<std::size_t>(c)] = v;
    }
  }
  SoundClip clip;
  clip.format = out;
  clip.samples = Resample(mixed, out.channels, f.rate, out.rate);
  return DecodeResult{std::move(clip), {}};
}

}  // namespace pendlo::sound::clips
