// Builds WAV files byte by byte for tests, including broken ones.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace pendlo::testing {

using Bytes = std::vector<std::uint8_t>;

// Appends the `size` low bytes of `v`, little-endian as in a WAV file.
inline void Put(Bytes& b, std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// Appends a chunk's four-letter tag.
inline void PutTag(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}
// Appends with resize and memcpy (GCC 12 warns falsely about vector::insert
// at -O3).
inline void Append(Bytes& b, const Bytes& more) {
  const std::size_t at = b.size();
  b.resize(at + more.size());
  if (!more.empty()) std::memcpy(b.data() + at, more.data(), more.size());
}

// Appends a chunk: its tag, its size, its bytes.
inline void PutChunk(Bytes& b, const char* tag, const Bytes& chunk) {
  PutTag(b, tag);
  Put(b, chunk.size(), 4);
  Append(b, chunk);
}

// Integer samples of `size` bytes each (16, 24 or 32 bits), two's complement.
inline Bytes Ints(std::initializer_list<std::int64_t> values, int size) {
  Bytes b;
  for (std::int64_t v : values) Put(b, static_cast<std::uint64_t>(v), size);
  return b;
}
// Float samples as the machine stores them (little-endian IEEE, as in WAV).
template <class Float>
Bytes Floats(std::initializer_list<Float> values) {
  Bytes b(values.size() * sizeof(Float));
  std::memcpy(b.data(), values.begin(), b.size());
  return b;
}

struct WavSpec {
  unsigned tag = 1;     // 1 PCM, 3 float, 0xFFFE extensible
  unsigned subTag = 1;  // extensible only
  unsigned channels = 1;
  std::uint32_t rate = 48000;
  unsigned bits = 16;
  unsigned blockAlign = 0;  // 0: channels * bits / 8
  Bytes data;
};

// A complete file: RIFF header, optional extra chunk, "fmt " chunk, "data".
inline Bytes MakeWav(const WavSpec& s, const Bytes& extraChunk = {}) {
  const unsigned align = s.blockAlign ? s.blockAlign : s.channels * s.bits / 8;
  Bytes fmt;
  Put(fmt, s.tag, 2);
  Put(fmt, s.channels, 2);
  Put(fmt, s.rate, 4);
  Put(fmt, std::uint64_t{s.rate} * align, 4);
  Put(fmt, align, 2);
  Put(fmt, s.bits, 2);
  if (s.tag == 0xFFFE) {
    Put(fmt, 22, 2);
    Put(fmt, s.bits, 2);  // valid bits
    Put(fmt, 3, 4);       // channel mask
    Put(fmt, s.subTag, 2);
    Append(fmt, {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B,
                 0x71});  // the rest of the format's GUID
  }
  Bytes b;
  PutTag(b, "RIFF");
  Put(b, 0, 4);  // patched below
  PutTag(b, "WAVE");
  Append(b, extraChunk);
  PutChunk(b, "fmt ", fmt);
  PutChunk(b, "data", s.data);
  const auto riff = static_cast<std::uint32_t>(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

// A float WAV at `rate` whose samples are `values` (mono): played at the
// stream's rate it reaches the output without any conversion.
inline Bytes FloatWav(const std::vector<float>& values, std::uint32_t rate) {
  WavSpec s{.tag = 3, .rate = rate, .bits = 32, .data = Bytes(values.size() * 4)};
  std::memcpy(s.data.data(), values.data(), s.data.size());
  return MakeWav(s);
}

}  // namespace pendlo::testing
