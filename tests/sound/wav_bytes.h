// Builds WAV files byte by byte for tests, including broken ones.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pendlo::testing {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
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

struct WavSpec {
  unsigned tag = 1;     // 1 PCM, 3 float, 0xFFFE extensible
  unsigned subTag = 1;  // extensible only
  unsigned channels = 1;
  std::uint32_t rate = 48000;
  unsigned bits = 16;
  unsigned blockAlign = 0;  // 0: channels * bits / 8
  Bytes data;
};

// A complete file: RIFF header, "fmt " chunk, optional extra chunk, "data".
inline Bytes MakeWav(const WavSpec& s, const Bytes& extraChunk = {}) {
  const unsigned align = s.blockAlign ? s.blockAlign : s.channels * s.bits / 8;
  Bytes fmt;
  PutU16(fmt, s.tag);
  PutU16(fmt, s.channels);
  PutU32(fmt, s.rate);
  PutU32(fmt, s.rate * align);
  PutU16(fmt, align);
  PutU16(fmt, s.bits);
  if (s.tag == 0xFFFE) {
    PutU16(fmt, 22);
    PutU16(fmt, s.bits);  // valid bits
    PutU32(fmt, 3);       // channel mask
    PutU16(fmt, s.subTag);
    const std::uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    for (std::uint8_t v : guidTail) fmt.push_back(v);
  }
  Bytes b;
  PutTag(b, "RIFF");
  PutU32(b, 0);  // patched below
  PutTag(b, "WAVE");
  Append(b, extraChunk);
  PutTag(b, "fmt ");
  PutU32(b, static_cast<std::uint32_t>(fmt.size()));
  Append(b, fmt);
  PutTag(b, "data");
  PutU32(b, static_cast<std::uint32_t>(s.data.size()));
  Append(b, s.data);
  const auto riff = static_cast<std::uint32_t>(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

inline Bytes Int16s(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) PutU16(b, static_cast<unsigned>(v));
  return b;
}

inline Bytes Floats(std::initializer_list<float> values) {
  Bytes b(values.size() * 4);
  std::memcpy(b.data(), values.begin(), b.size());
  return b;
}

// A float WAV at `rate` whose samples are `values` (mono): played at the
// stream's rate it reaches the output without any conversion.
inline Bytes FloatWav(const std::vector<float>& values, std::uint32_t rate) {
  WavSpec s;
  s.tag = 3;
  s.bits = 32;
  s.rate = rate;
  s.data.resize(values.size() * 4);
  std::memcpy(s.data.data(), values.data(), s.data.size());
  return MakeWav(s);
}

}  // namespace pendlo::testing
