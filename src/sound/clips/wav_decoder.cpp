#include "sound/clips/wav_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sound/clips/resample.h"

namespace pendlo::sound::clips {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatALaw = 6;
constexpr std::uint16_t kFormatMuLaw = 7;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// G.711 expansion to 16-bit linear, at the scale of the ITU's reference
// code (and of most tools): mu-law 0x80 is 32124, A-law 0xAA is 32256, and
// each law's quietest code is 0 (mu-law) or +-8 (A-law).
constexpr std::int16_t MuLawToLinear(std::uint8_t code) {
  const int u = ~code & 0xFF;
  const int magnitude = ((((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4)) - 0x84;
  return static_cast<std::int16_t>((u & 0x80) ? -magnitude : magnitude);
}
constexpr std::int16_t ALawToLinear(std::uint8_t code) {
  const int a = code ^ 0x55;
  const int segment = (a & 0x70) >> 4;
  int magnitude = ((a & 0x0F) << 4) + (segment == 0 ? 8 : 0x108);
  if (segment > 1) magnitude <<= segment - 1;
  return static_cast<std::int16_t>((a & 0x80) ? magnitude : -magnitude);
}
// One table per law, made once at compile time: a sample is a look-up.
template <std::int16_t (*Expand)(std::uint8_t)>
constexpr std::array<std::int16_t, 256> CompandTable() {
  std::array<std::int16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = Expand(static_cast<std::uint8_t>(i));
  return table;
}
constexpr auto kMuLaw = CompandTable<MuLawToLinear>();
constexpr auto kALaw = CompandTable<ALawToLinear>();

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
  if (f.tag == kFormatALaw) return kALaw[p[0]] / 32768.0f;
  if (f.tag == kFormatMuLaw) return kMuLaw[p[0]] / 32768.0f;
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

// What the chunk walk found: the format, and the data chunk's bytes.
struct Chunks {
  std::optional<Format> fmt;
  std::span<const std::uint8_t> data;
  bool haveData = false;
};

// The "fmt " chunk at `p` of `size` bytes, `avail` of them at hand, into
// `f`: "" or why it is unusable.
std::string ReadFormatChunk(const std::uint8_t* p, std::size_t size, std::size_t avail, Format& f) {
  if (size < 16 || avail < 16) return "format chunk too short";
  f.tag = U16(p);
  f.channels = U16(p + 2);
  f.rate = static_cast<int>(std::min<std::uint32_t>(U32(p + 4), kMaxRate + 1));
  f.blockAlign = U16(p + 12);
  f.bits = U16(p + 14);
  if (f.tag == kFormatExtensible) {
    if (size < 40 || avail < 40) return "extensible format chunk too short";
    f.tag = U16(p + 24);  // first two bytes of the sub-format GUID
  }
  return "";
}

// Walks the chunks up to the first data chunk: "" or why the file is not
// one. The RIFF size is not trusted: writers that stream often leave it 0
// or too large, so the bytes at hand decide.
std::string FindChunks(std::span<const std::uint8_t> bytes, Chunks& found) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
    return "not a RIFF WAVE file";
  std::size_t pos = 12;
  while (pos + 8 <= bytes.size() && !found.haveData) {
    const std::uint8_t* chunk = bytes.data() + pos;
    const std::size_t size = U32(chunk + 4);
    const std::size_t avail = bytes.size() - pos - 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      Format f;
      if (std::string why = ReadFormatChunk(chunk + 8, size, avail, f); !why.empty()) return why;
      found.fmt = f;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!found.fmt) return "data before format chunk";
      found.data = bytes.subspan(pos + 8, std::min(size, avail));
      found.haveData = true;
    }
    pos += 8 + size + (size & 1);  // chunks are padded to even sizes
  }
  if (!found.fmt) return "no format chunk";
  if (!found.haveData) return "no data chunk";
  return "";
}

// Whether the samples of `f` can be read: "" with `bytesPer` set to the
// bytes of one sample, or why not.
std::string CheckFormat(const Format& f, int& bytesPer) {
  const bool companded = f.tag == kFormatALaw || f.tag == kFormatMuLaw;
  if (f.tag != kFormatPcm && f.tag != kFormatFloat && !companded)
    return "unsupported encoding " + std::to_string(f.tag);
  if (f.channels < 1 || f.channels > kMaxChannels) return "bad channel count";
  if (f.rate < 1 || f.rate > kMaxRate) return "bad sample rate";
  if (f.bits == 0 || f.bits % 8 != 0) return "bad sample size";
  // The container size is the block size per channel; a 24-bit sample in a
  // 32-bit container (extensible files) reads as a 32-bit one.
  bytesPer = f.blockAlign / f.channels;
  if (f.blockAlign % f.channels != 0 || bytesPer < f.bits / 8 || bytesPer < 1)
    return "bad block alignment";
  const bool floatOk = f.tag == kFormatFloat && (bytesPer == 4 || bytesPer == 8);
  const bool pcmOk = f.tag == kFormatPcm && bytesPer >= 1 && bytesPer <= 4;
  const bool companded8 = companded && f.bits == 8 && bytesPer == 1;
  if (!floatOk && !pcmOk && !companded8) return "unsupported sample size";
  return "";
}

// The first `frames` frames of `data` as `channels` interleaved floats: mono
// is the average of every source channel, a mono source is copied to every
// channel, extra source channels are dropped.
std::vector<float> MixChannels(std::span<const std::uint8_t> data, std::size_t frames,
                               const Format& f, int bytesPer, int channels) {
  std::vector<float> mixed(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint8_t* frame = data.data() + i * static_cast<std::size_t>(f.blockAlign);
    for (int c = 0; c < channels; ++c) {
      float v;
      if (channels == 1) {
        double sum = 0;
        for (int s = 0; s < f.channels; ++s) sum += SampleAt(frame + s * bytesPer, f, bytesPer);
        v = static_cast<float>(sum / f.channels);
      } else {
        v = SampleAt(frame + std::min(c, f.channels - 1) * bytesPer, f, bytesPer);
      }
      mixed[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
  }
  return mixed;
}

}  // namespace

DecodeResult DecodeWav(std::span<const std::uint8_t> bytes, StreamFormat out,
                       const DecodeLimits& limits) {
  Chunks chunks;
  if (std::string why = FindChunks(bytes.first(std::min(bytes.size(), limits.maxBytes)), chunks);
      !why.empty())
    return Fail(std::move(why));
  const Format& f = *chunks.fmt;
  int bytesPer = 0;
  if (std::string why = CheckFormat(f, bytesPer); !why.empty()) return Fail(std::move(why));

  std::size_t frames = chunks.data.size() / static_cast<std::size_t>(f.blockAlign);
  frames = std::min(frames, static_cast<std::size_t>(limits.maxSeconds * f.rate));
  if (frames == 0) return Fail("no sound in data chunk");

  // Channels first (fewer samples to resample), then the rate.
  const std::vector<float> mixed = MixChannels(chunks.data, frames, f, bytesPer, out.channels);
  SoundClip clip;
  clip.format = out;
  clip.samples = Resample(mixed, out.channels, f.rate, out.rate);
  return DecodeResult{std::move(clip), {}};
}

}  // namespace pendlo::sound::clips
