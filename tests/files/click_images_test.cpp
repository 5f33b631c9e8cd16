#include "files/formats/click_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace pendlo {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct Image {
  const char* name;
  const std::array<std::uint8_t, kClickImageSize>& bytes;
  std::vector<std::uint8_t> first8;
  std::vector<std::uint8_t> last6;
  std::vector<int> blockSwing;
};

const Image kImages[] = {
    {"PiWave",
     PiWave,
     {0x80, 0xFF, 0x65, 0x00, 0xAA, 0xF7, 0x40, 0x3B},
     {0x7E, 0x7E, 0x80, 0x7E, 0x7E, 0x80},
     {128, 128, 128, 128, 110, 75, 8}},
    {"PoWave",
     PoWave,
     {0x80, 0xB9, 0x93, 0x7B, 0xB2, 0xC5, 0x93, 0x89},
     {0x80, 0x80, 0x80, 0x7E, 0x7E, 0x80},
     {72, 72, 72, 71, 63, 27, 4}},
};

TEST(ClickImages, HeaderIsExactly16kHz8BitMono175Samples) {
  for (const Image& img : kImages) {
    SCOPED_TRACE(img.name);
    const std::uint8_t* b = img.bytes.data();
    EXPECT_EQ(img.bytes.size(), 219u);
    EXPECT_EQ(0, std::memcmp(b, "RIFF", 4));
    EXPECT_EQ(U32(b + 4), 211u);
    EXPECT_EQ(0, std::memcmp(b + 8, "WAVEfmt ", 8));
    EXPECT_EQ(U32(b + 16), 16u);
    EXPECT_EQ(U16(b + 20), 1);  // PCM
    EXPECT_EQ(U16(b + 22), 1);  // mono
    EXPECT_EQ(U32(b + 24), 16000u);
    EXPECT_EQ(U32(b + 28), 16000u);
    EXPECT_EQ(U16(b + 32), 1);
    EXPECT_EQ(U16(b + 34), 8);
    EXPECT_EQ(0, std::memcmp(b + 36, "data", 4));
    EXPECT_EQ(U32(b + 40), 175u);
  }
}

TEST(ClickImages, OpeningAndClosingSamplesAndBlockEnvelope) {
  for (const Image& img : kImages) {
    SCOPED_TRACE(img.name);
    const std::uint8_t* s = img.bytes.data() + 44;
    EXPECT_EQ(std::vector<std::uint8_t>(s, s + 8), img.first8);
    EXPECT_EQ(std::vector<std::uint8_t>(s + 169, s + 175), img.last6);
    for (int block = 0; block < 7; ++block) {
      int swing = 0;
      for (int i = block * 25; i < block * 25 + 25; ++i)
        swing = std::max(swing, std::abs(s[i] - 128));
      EXPECT_EQ(swing, img.blockSwing[block]) << "block " << block;
    }
    // Ends within +-2 of silence.
    for (int i = 165; i < 175; ++i) EXPECT_LE(std::abs(s[i] - 128), 2) << "sample " << i;
  }
  // The accent reaches both ends of the 8-bit range.
  const auto* pi = PiWave.data() + 44;
  EXPECT_EQ(*std::min_element(pi, pi + 175), 0x00);
  EXPECT_EQ(*std::max_element(pi, pi + 175), 0xFF);
}

// Magnitude of the image's spectrum at `hz` (a direct DFT of 175 samples).
double Magnitude(const std::array<std::uint8_t, kClickImageSize>& img, double hz) {
  double re = 0, im = 0;
  for (int n = 0; n < 175; ++n) {
    const double x = img[44 + n] - 128.0;
    re += x * std::cos(2 * std::numbers::pi * hz * n / 16000);
    im -= x * std::sin(2 * std::numbers::pi * hz * n / 16000);
  }
  return std::hypot(re, im);
}

double Strongest(const std::array<std::uint8_t, kClickImageSize>& img, double from, double to) {
  double best = from;
  for (double hz = from; hz <= to; hz += 50)
    if (Magnitude(img, hz) > Magnitude(img, best)) best = hz;
  return best;
}

TEST(ClickImages, SpectralCharacter) {
  // Accent: bright, the strongest partial near 4.4 kHz.
  EXPECT_NEAR(Strongest(PiWave, 100, 8000), 4400, 300);
  // Plain: darker, strongest near 0.9 kHz, with a weaker peak near 4.4 kHz.
  EXPECT_NEAR(Strongest(PoWave, 100, 8000), 900, 150);
  const double high = Strongest(PoWave, 3800, 5000);
  EXPECT_NEAR(high, 4400, 300);
  const double ratio = Magnitude(PoWave, high) / Magnitude(PoWave, Strongest(PoWave, 100, 8000));
  EXPECT_GT(ratio, 0.15);
  EXPECT_LT(ratio, 0.8);
  // The accent has little of the plain click's low partial.
  EXPECT_LT(Magnitude(PiWave, 900), 0.2 * Magnitude(PiWave, 4400));
}

}  // namespace
}  // namespace pendlo
