// Code page 932's tables as the definition-text codec reads them: every
// code's character and which of the character's codes it is, and each
// character's canonical and other codes. Built once from the C library's
// converter (iconv), so that decoding and encoding a text never call it.
#pragma once

#include <iconv.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "files/formats/text_codec.h"

namespace pendlo::cp932 {

inline constexpr char32_t kFirstMark = kInvalidByteMarkBase + 0x80;
inline constexpr char32_t kLastMark = kInvalidByteMarkBase + 0xFF;
inline constexpr char32_t kVariantSelector1 = 0xFE00;  // the second code of a character
inline constexpr int kMaxCodes = 3;                    // no character has more codes in CP932

// A code: one byte (< 0x100) or a lead byte and a trail byte (lead << 8 | trail).
using Code = std::uint16_t;

// Whether b starts a double-byte code.
constexpr bool IsLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
// Whether c is an invalid-byte mark (U+F800..U+F87F).
constexpr bool IsMark(char32_t c) {
  return c >= kFirstMark && c <= kLastMark;
}

// One iconv conversion, opened for good; each call converts from a fresh
// state.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  // Whether the C library has the conversion.
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in, or returns false.
  bool Convert(const void* in, std::size_t inSize, void* out, std::size_t* outSize);
  // The one character a code decodes to, or 0.
  char32_t DecodeOne(const unsigned char* bytes, std::size_t n);
  // The code a character encodes to, or 0.
  Code EncodeOne(char32_t c);

 private:
  iconv_t cd_;
};

// Where a code's entry sits in the tables: a byte at its own value, a pair
// after the 256 bytes, by lead byte (60 of them) and trail byte
// (0x40..0xFC). Code page 932 has no pair outside that square, so the
// tables hold 11,596 entries where a table by code would hold 65,536.
inline constexpr int kTrailFirst = 0x40;
inline constexpr int kTrailLast = 0xFC;
inline constexpr int kTrails = kTrailLast - kTrailFirst + 1;
inline constexpr std::size_t kSlots = 0x100 + 60 * kTrails;
inline constexpr std::size_t kNoSlot = kSlots;

// The slot of code, kNoSlot for a pair outside the square.
std::size_t SlotOf(Code code);

// Every character code page 932 holds is in the Basic Multilingual Plane, so
// a table entry is 16 bits. The tables live in static storage and are filled
// once: no heap, and only the pages written become resident.
struct Tables {
  std::array<char16_t, kSlots> chars;        // slot -> character, 0 when the code reads as none
  std::array<std::uint8_t, kSlots> variant;  // slot -> 0 for the canonical code, 1 or 2
  // Ascending, one per character: character << 16 | its canonical code.
  std::array<std::uint32_t, kSlots> byChar;
  // Where in byChar the characters with high byte h begin: a search within
  // one block of 256 characters.
  std::array<std::uint16_t, 0x101> blockStart;
  struct Others {
    char16_t c;
    std::array<Code, kMaxCodes - 1> codes;  // the second and third code, 0 where none
  };
  std::array<Others, kSlots / 2> others;  // ascending; characters with more than one code
  std::size_t othersCount;

  // The character code reads as, 0 when none.
  char32_t CharOf(Code code) const;
  // Which of its character's codes code is: 0 canonical, 1 or 2.
  std::uint8_t VariantOf(Code code) const;
  // The canonical code of c, or 0 when code page 932 does not hold it.
  Code Canonical(char32_t c) const;
  // The code c's variation selector v (1 or 2) picks, or 0 when it has none.
  Code Other(char32_t c, char32_t v) const;
};

// The tables, built by the first call (from any thread) and kept.
const Tables& GetTables();

}  // namespace pendlo::cp932
