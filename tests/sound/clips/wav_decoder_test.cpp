#include "sound/clips/wav_decoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "files/formats/click_images.h"
#include "sound/wav_bytes.h"

namespace pendlo {
namespace {

using testing::Bytes;
using testing::Floats;
using testing::Ints;
using testing::MakeWav;
using testing::WavSpec;

constexpr sound::clips::StreamFormat kStereo48k{48000, 2};

struct GoodCase {
  const char* name;
  Bytes file;
  std::size_t frames;              // output frames at 48 kHz
  std::vector<float> firstFrames;  // interleaved L R of the first frames
};

const GoodCase kGood[] = {
    {"8-bit unsigned mono, copied to both channels",
     MakeWav({.bits = 8, .data = {128, 255, 0, 64}}),
     4,
     {0, 0, 127 / 128.0f, 127 / 128.0f, -1, -1, -0.5f, -0.5f}},
    {"16-bit stereo keeps left and right",
     MakeWav({.channels = 2, .data = Ints({16384, -16384, -32768, 8192}, 2)}),
     2,
     {0.5f, -0.5f, -1, 0.25f}},
    {"24-bit packed",
     MakeWav({.bits = 24, .data = Ints({0x400000, -0x400000, 0x7FFFFF}, 3)}),
     3,
     {0.5f, 0.5f, -0.5f, -0.5f, 8388607 / 8388608.0f, 8388607 / 8388608.0f}},
    {"32-bit integer",
     MakeWav({.bits = 32, .data = Ints({0x40000000, -0x20000000}, 4)}),
     2,
     {0.5f, 0.5f, -0.25f, -0.25f}},
    {"32-bit float; NaN silenced, overs clamped",
     MakeWav({.tag = 3, .bits = 32, .data = Floats({0.25f, -0.75f, NAN, 2.0f})}),
     4,
     {0.25f, 0.25f, -0.75f, -0.75f, 0, 0, 1, 1}},
    {"64-bit float stereo",
     MakeWav({.tag = 3, .channels = 2, .bits = 64, .data = Floats({0.5, -0.5})}),
     1,
     {0.5f, -0.5f}},
    {"extensible, PCM 16-bit",
     MakeWav({.tag = 0xFFFE, .subTag = 1, .data = Ints({-16384}, 2)}),
     1,
     {-0.5f, -0.5f}},
    {"extensible, float",
     MakeWav({.tag = 0xFFFE, .subTag = 3, .bits = 32, .data = Floats({0.125f})}),
     1,
     {0.125f, 0.125f}},
    {"six channels: the front pair is kept",
     MakeWav({.channels = 6, .data = Ints({8192, 16384, 1, 2, 3, 4}, 2)}),
     1,
     {0.25f, 0.5f}},
    {"odd-sized chunk before fmt is skipped with its pad byte",
     [] {
       Bytes list;
       testing::PutTag(list, "LIST");
       testing::Put(list, 3, 4);
       for (char ch : {'a', 'b', 'c', '\0'}) list.push_back(static_cast<std::uint8_t>(ch));
       return MakeWav({.data = Ints({16384}, 2)}, list);
     }(),
     1,
     {0.5f, 0.5f}},
    // G.711 codes as the ITU's reference code expands them, at 16 bits.
    {"mu-law stereo: both full scales, zero, a middle code",
     MakeWav({.tag = 7, .channels = 2, .bits = 8, .data = {0x00, 0x80, 0x7F, 0x9F}}),
     2,
     {-32124 / 32768.0f, 32124 / 32768.0f, 0, 8316 / 32768.0f}},
    {"A-law stereo, extensible: the quietest codes, both full scales",
     MakeWav(
         {.tag = 0xFFFE, .subTag = 6, .channels = 2, .bits = 8, .data = {0xD5, 0x55, 0xAA, 0x2A}}),
     2,
     {8 / 32768.0f, -8 / 32768.0f, 32256 / 32768.0f, -32256 / 32768.0f}},
    {"RIFF size 0 as left by streaming writers",
     [] {
       Bytes b = MakeWav({.data = Ints({16384, 16384}, 2)});
       std::memset(b.data() + 4, 0, 4);
       return b;
     }(),
     2,
     {0.5f, 0.5f}},
    {"data chunk cut short: what is there plays",
     [] {
       Bytes b = MakeWav({.data = Ints({16384, 16384, 16384, 16384}, 2)});
       b.resize(b.size() - 3);  // one and a half samples missing
       return b;
     }(),
     2,
     {0.5f, 0.5f}},
    {"the built-in accent at 16 kHz is tripled to 48 kHz",
     Bytes(PiWave.begin(), PiWave.end()),
     525,
     {}},
};

TEST(WavDecoder, DecodesEveryCommonVariantToTheStreamFormat) {
  for (const GoodCase& c : kGood) {
    SCOPED_TRACE(c.name);
    const Bytes file = c.file;
    const sound::clips::DecodeResult r = sound::clips::DecodeWav(file, kStereo48k);
    ASSERT_TRUE(r.clip) << r.error;
    EXPECT_EQ(r.clip->format, kStereo48k);
    EXPECT_EQ(r.clip->frames(), c.frames);
    for (std::size_t i = 0; i < c.firstFrames.size(); ++i)
      EXPECT_NEAR(r.clip->samples[i], c.firstFrames[i], 1e-6) << "value " << i;
  }
}

struct BadCase {
  const char* name;
  Bytes file;
  const char* error;
};

Bytes Patched(Bytes b, std::size_t at, std::initializer_list<std::uint8_t> values) {
  std::copy(values.begin(), values.end(), b.begin() + static_cast<long>(at));
  return b;
}

const Bytes kPlain = MakeWav({.data = Ints({1, 2, 3, 4}, 2)});

const BadCase kBad[] = {
    {"empty file", Bytes{}, "not a RIFF WAVE file"},
    {"header only", Bytes(kPlain.begin(), kPlain.begin() + 12), "no format chunk"},
    {"big-endian RIFX", Patched(kPlain, 0, {'R', 'I', 'F', 'X'}), "not a RIFF WAVE file"},
    {"AVI, not WAVE", Patched(kPlain, 8, {'A', 'V', 'I', ' '}), "not a RIFF WAVE file"},
    {"no data chunk", Patched(kPlain, 36, {'j', 'u', 'n', 'k'}), "no data chunk"},
    {"data before fmt", Patched(kPlain, 12, {'x', 'x', 'x', 'x'}), "data before format chunk"},
    {"fmt chunk too short", Patched(kPlain, 16, {8, 0, 0, 0}), "format chunk too short"},
    {"fmt chunk cut by the end of file", Bytes(kPlain.begin(), kPlain.begin() + 30),
     "format chunk too short"},
    {"ADPCM", MakeWav({.tag = 2, .bits = 4, .blockAlign = 1, .data = {1, 2}}),
     "unsupported encoding 2"},
    {"zero channels", MakeWav({.channels = 0, .blockAlign = 2, .data = {1, 2}}),
     "bad channel count"},
    {"zero rate", MakeWav({.rate = 0, .data = {1, 2}}), "bad sample rate"},
    {"absurd rate", MakeWav({.rate = 4000000000u, .data = {1, 2}}), "bad sample rate"},
    {"12-bit samples", MakeWav({.bits = 12, .blockAlign = 2, .data = {1, 2}}), "bad sample size"},
    {"block smaller than a sample", MakeWav({.blockAlign = 1, .data = {1, 2}}),
     "bad block alignment"},
    {"16-bit float", MakeWav({.tag = 3, .bits = 16, .data = {1, 2}}), "unsupported sample size"},
    {"no whole frame", MakeWav({.data = {1}}), "no sound in data chunk"},
    {"extensible with a truncated extension", Patched(MakeWav({.data = {1, 2}}), 20, {0xFE, 0xFF}),
     "extensible format chunk too short"},
};

TEST(WavDecoder, RejectsBrokenFilesWithAReason) {
  for (const BadCase& c : kBad) {
    SCOPED_TRACE(c.name);
    const sound::clips::DecodeResult r = sound::clips::DecodeWav(c.file, kStereo48k);
    EXPECT_FALSE(r.clip);
    EXPECT_EQ(r.error, c.error);
  }
}

// The decoder converts a file's rate to the stream's (the conversion
// itself: resample_test.cpp).
TEST(WavDecoder, ConvertsTheRateToTheStreams) {
  WavSpec s;
  s.data.assign(2 * 2205, 0x10);  // 0.1 s of 16-bit mono at 22.05 kHz
  s.rate = 22050;
  const sound::clips::DecodeResult r = sound::clips::DecodeWav(MakeWav(s), kStereo48k);
  ASSERT_TRUE(r.clip);
  EXPECT_EQ(r.clip->frames(), 4800u);
}

TEST(WavDecoder, LimitsBoundWhatIsDecoded) {
  WavSpec s;
  s.data.assign(2 * 48000, 0x10);  // one second of 16-bit mono
  const Bytes file = MakeWav(s);
  EXPECT_EQ(sound::clips::DecodeWav(file, kStereo48k, {.maxBytes = 1000, .maxSeconds = 10})
                .clip->frames(),
            (1000u - 44u) / 2u);
  EXPECT_EQ(sound::clips::DecodeWav(file, kStereo48k, {.maxBytes = 1u << 20, .maxSeconds = 0.25})
                .clip->frames(),
            12000u);
  EXPECT_EQ(sound::clips::DecodeWav(file, kStereo48k).clip->frames(), 48000u);
}

}  // namespace
}  // namespace pendlo
