#include "files/formats/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pendlo {

namespace {

constexpr char32_t kFirstMark = kInvalidByteMarkBase + 0x80;
constexpr char32_t kLastMark = kInvalidByteMarkBase + 0xFF;
constexpr char32_t kVariantSelector1 = 0xFE00;  // the second code of a character
constexpr int kMaxCodes = 3;                    // no character has more codes in CP932
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// A code: one byte (< 0x100) or a lead byte and a trail byte (lead << 8 | trail).
using Code = std::uint16_t;

constexpr bool IsLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsMark(char32_t c) {
  return c >= kFirstMark && c <= kLastMark;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in, or returns false.
  bool Convert(const void* in, std::size_t inSize, void* out, std::size_t* outSize) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* ip = static_cast<char*>(const_cast<void*>(in));
    char* op = static_cast<char*>(out);
    std::size_t il = inSize;
    std::size_t ol = *outSize;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return false;
    *outSize -= ol;
    return true;
  }

  // The one character a code decodes to, or 0.
  char32_t DecodeOne(const unsigned char* bytes, std::size_t n) {
    char32_t out[2];
    std::size_t size = sizeof out;
    if (!Convert(bytes, n, out, &size) || size != sizeof(char32_t)) return 0;
    return out[0];
  }

  // The code a character encodes to, or 0.
  Code EncodeOne(char32_t c) {
    unsigned char out[8];
    std::size_t size = sizeof out;
    if (!Convert(&c, sizeof c, out, &size)) return 0;
    if (size == 1) return out[0];
    if (size == 2) return static_cast<Code>(out[0] << 8 | out[1]);
    return 0;
  }

 private:
  iconv_t cd_;
};

// Where a code's entry sits in the tables: a byte at its own value, a pair
// after the 256 bytes, by lead byte (60 of them) and trail byte
// (0x40..0xFC). Code page 932 has no pair outside that square, so the
// tables hold 11,596 entries where a table by code would hold 65,536.
constexpr int kTrailFirst = 0x40;
constexpr int kTrailLast = 0xFC;
constexpr int kTrails = kTrailLast - kTrailFirst + 1;
constexpr std::size_t kSlots = 0x100 + 60 * kTrails;
constexpr std::size_t kNoSlot = kSlots;

// Lead byte -> its row among the pairs' (0xFF when not a lead byte).
constexpr std::array<std::uint8_t, 0x100> kLeadRows = [] {
  std::array<std::uint8_t, 0x100> rows{};
  int row = 0;
  for (int b = 0; b < 0x100; ++b) {
    rows[b] = IsLead(static_cast<unsigned char>(b)) ? static_cast<std::uint8_t>(row++) : 0xFF;
  }
  return rows;
}();

std::size_t SlotOf(Code code) {
  if (code < 0x100) return code;
  const std::size_t row = kLeadRows[code >> 8];
  const int trail = code & 0xFF;
  if (row == 0xFF || trail < kTrailFirst || trail > kTrailLast) return kNoSlot;
  return 0x100 + row * kTrails + static_cast<std::size_t>(trail - kTrailFirst);
}

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

  char32_t CharOf(Code code) const {
    const std::size_t slot = SlotOf(code);
    return slot == kNoSlot ? 0 : chars[slot];
  }
  std::uint8_t VariantOf(Code code) const {
    const std::size_t slot = SlotOf(code);
    return slot == kNoSlot ? 0 : variant[slot];
  }
  // The canonical code of c, or 0 when code page 932 does not hold it.
  Code Canonical(char32_t c) const {
    if (c > 0xFFFF) return 0;
    const auto begin = byChar.begin() + blockStart[c >> 8];
    const auto end = byChar.begin() + blockStart[(c >> 8) + 1];
    const auto it = std::lower_bound(begin, end, c << 16);
    return it != end && (*it >> 16) == c ? static_cast<Code>(*it & 0xFFFF) : 0;
  }
  // The code c's variation selector v (1 or 2) picks, or 0 when it has none.
  Code Other(char32_t c, char32_t v) const {
    const auto end = others.begin() + static_cast<std::ptrdiff_t>(othersCount);
    const auto it = std::lower_bound(others.begin(), end, c,
                                     [](const Others& e, char32_t key) { return e.c < key; });
    return it != end && it->c == c ? it->codes[v - 1] : 0;
  }
};

// Sorted once as 32-bit keys in the table that then holds the encoder's
// index: a map of lists took twice as long, and a list of pairs on the heap
// stayed resident after start-up.
void BuildTables(Tables& t) {
  std::size_t found = 0;  // keys in t.byChar: character << 16 | a code that reads as it
  const auto add = [&](Code code, char32_t c) {
    t.chars[SlotOf(code)] = static_cast<char16_t>(c);
    t.byChar[found++] = c << 16 | code;
  };
  Iconv decoder("UTF-32LE", "CP932");
  Iconv encoder("CP932", "UTF-32LE");
  // Without the converters (a libc without gconv modules) ASCII still reads
  // as such and every other byte becomes a mark: ugly, but nothing is lost.
  const bool ok = decoder.ok() && encoder.ok();
  for (int b = 1; b < 0x100; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const char32_t c = b < 0x80 ? b : (ok && !IsLead(byte) ? decoder.DecodeOne(&byte, 1) : 0);
    if (c != 0 && c <= 0xFFFF && !IsMark(c)) add(static_cast<Code>(b), c);
  }
  if (ok) {
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsLead(static_cast<unsigned char>(lead))) continue;
      for (int trail = kTrailFirst; trail <= kTrailLast; ++trail) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                        static_cast<unsigned char>(trail)};
        const char32_t c = decoder.DecodeOne(bytes, 2);
        // Characters the text form uses for itself are never taken from a file.
        if (c == 0 || c > 0xFFFF || c == '\r' || c == '\n' || IsMark(c) ||
            (c >= kVariantSelector1 && c < kVariantSelector1 + kMaxCodes - 1)) {
          continue;
        }
        add(static_cast<Code>(lead << 8 | trail), c);
      }
    }
  }
  const auto keys = t.byChar.begin();
  std::sort(keys, keys + static_cast<std::ptrdiff_t>(found));
  std::size_t written = 0;
  for (std::size_t first = 0; first < found;) {
    const char32_t c = t.byChar[first] >> 16;
    std::size_t last = first + 1;
    while (last < found && (t.byChar[last] >> 16) == c) ++last;
    // The canonical code is the one the converter writes for the character;
    // the others follow in ascending order.
    if (last - first > 1 && encoder.ok()) {
      const std::uint32_t preferred = c << 16 | encoder.EncodeOne(c);
      const auto begin = keys + static_cast<std::ptrdiff_t>(first);
      const auto end = keys + static_cast<std::ptrdiff_t>(last);
      const auto it = std::find(begin, end, preferred);
      if (it != end) std::rotate(begin, it, it + 1);
    }
    Tables::Others others{static_cast<char16_t>(c), {}};
    for (std::size_t i = 0; i < last - first; ++i) {
      const Code code = static_cast<Code>(t.byChar[first + i] & 0xFFFF);
      if (i < kMaxCodes) {
        t.variant[SlotOf(code)] = static_cast<std::uint8_t>(i);
        if (i > 0) others.codes[i - 1] = code;
      } else if (code >= 0x100) {
        t.chars[SlotOf(code)] = 0;  // no selector left for it: keep its bytes as marks
      }
    }
    // The group is read before its first key is overwritten: written <= first.
    t.byChar[written++] = t.byChar[first];
    if (last - first > 1) t.others[t.othersCount++] = others;
    first = last;
  }
  std::size_t i = 0;
  for (std::size_t block = 0; block < t.blockStart.size(); ++block) {
    while (i < written && (t.byChar[i] >> 24) < block) ++i;
    t.blockStart[block] = static_cast<std::uint16_t>(i);
  }
}

const Tables& GetTables() {
  static const Tables* const tables = [] {
    static Tables storage;  // zero-initialised, in static storage
    BuildTables(storage);
    return &storage;
  }();
  return *tables;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character starting at text[*pos], advancing *pos past it; kNotUtf8 and
// one byte for anything that is not well-formed UTF-8.
char32_t NextChar(std::string_view text, std::size_t* pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(*pos);
  int len;
  char32_t c;
  char32_t min;
  if (b0 < 0x80) {
    ++*pos;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return kNotUtf8;
  }
  if (*pos + len > text.size()) {
    ++*pos;
    return kNotUtf8;
  }
  for (int i = 1; i < len; ++i) {
    const unsigned char b = byte(*pos + i);
    if ((b & 0xC0) != 0x80) {
      ++*pos;
      return kNotUtf8;
    }
    c = c << 6 | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*pos;
    return kNotUtf8;
  }
  *pos += len;
  return c;
}

// One unit of memo text as the encoder sees it.
struct Unit {
  enum Kind { kLineBreak, kMark, kCode, kUnrepresentable } kind;
  Code code = 0;  // kCode; kMark: the byte
};

// Classifies the unit at text[*pos] and advances past it (a "\r\n" pair, a
// character and the variation selector that picks its code, ...).
Unit NextUnit(const Tables& t, std::string_view text, std::size_t* pos,
              std::optional<Iconv>& fallback) {
  const char32_t c = NextChar(text, pos);
  if (c == '\r') {
    if (*pos < text.size() && text[*pos] == '\n') ++*pos;
    return {Unit::kLineBreak};
  }
  if (c == '\n' || c == 0x2028 || c == 0x2029) return {Unit::kLineBreak};
  if (IsMark(c)) return {Unit::kMark, static_cast<Code>(c - kInvalidByteMarkBase)};
  if (c == 0 || c == kNotUtf8) return {Unit::kUnrepresentable};
  if (const Code canonical = t.Canonical(c)) {
    if (*pos < text.size()) {
      std::size_t next = *pos;
      const char32_t selector = NextChar(text, &next);
      const char32_t v = selector - kVariantSelector1 + 1;
      if (selector >= kVariantSelector1 && v < kMaxCodes) {
        if (const Code other = t.Other(c, v)) {
          *pos = next;
          return {Unit::kCode, other};
        }
      }
    }
    return {Unit::kCode, canonical};
  }
  // A near equivalent the converter knows (U+301C as 0x8160), taken only
  // when that code reads back as a character of its own.
  if (!fallback) fallback.emplace("CP932", "UTF-32LE");  // opened only when needed
  if (fallback->ok()) {
    const Code code = fallback->EncodeOne(c);
    if (code != 0 && t.CharOf(code) != 0) {
      return {Unit::kCode, code};
    }
  }
  return {Unit::kUnrepresentable};
}

}  // namespace

void PrepareTextCodec() {
  GetTables();
}

std::string DecodeDefinitionText(std::string_view bytes) {
  const Tables& t = GetTables();
  if (const auto nul = bytes.find('\0'); nul != std::string_view::npos)
    bytes = bytes.substr(0, nul);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '\r' || b == '\n') {
      out += '\n';
      i += (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (IsLead(b) && i + 1 < bytes.size()) {
      const Code code = static_cast<Code>(b << 8 | static_cast<unsigned char>(bytes[i + 1]));
      const std::size_t slot = SlotOf(code);
      if (slot != kNoSlot && t.chars[slot] != 0) {
        AppendUtf8(out, t.chars[slot]);
        if (t.variant[slot] != 0) AppendUtf8(out, kVariantSelector1 + t.variant[slot] - 1);
        i += 2;
        continue;
      }
    }
    // Not a pair: the byte alone, and the next one is read afresh.
    AppendUtf8(out, t.chars[b] != 0 ? t.chars[b] : kInvalidByteMarkBase + b);
    if (t.chars[b] != 0 && t.variant[b] != 0) {
      AppendUtf8(out, kVariantSelector1 + t.variant[b] - 1);
    }
    ++i;
  }
  return out;
}

std::string EncodeDefinitionText(std::string_view text) {
  const Tables& t = GetTables();
  std::optional<Iconv> fallback;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Unit u = NextUnit(t, text, &i, fallback);
    switch (u.kind) {
      case Unit::kLineBreak:
        out += "\r\n";
        break;
      case Unit::kMark:
        out += static_cast<char>(u.code);
        break;
      case Unit::kCode:
        if (u.code >= 0x100) out += static_cast<char>(u.code >> 8);
        out += static_cast<char>(u.code & 0xFF);
        break;
      case Unit::kUnrepresentable:
        out += '?';
        break;
    }
  }
  return out;
}

std::string ToCp932Representable(std::string_view utf8) {
  const Tables& t = GetTables();
  std::optional<Iconv> fallback;
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const Unit u = NextUnit(t, utf8, &i, fallback);
    if (u.kind == Unit::kUnrepresentable) {
      out += '?';
    } else if (u.kind == Unit::kCode) {
      // What the code reads back as: the same text, or the near equivalent.
      AppendUtf8(out, t.CharOf(u.code));
      if (const std::uint8_t v = t.VariantOf(u.code)) AppendUtf8(out, kVariantSelector1 + v - 1);
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out;
}

int EncodedWidth(char32_t c) {
  if (c == U'\n' || c == 0x2028 || c == 0x2029) return 2;
  if (c < 0x80) return 1;
  if (c >= 0xFF61 && c <= 0xFF9F) return 1;
  if (c >= kInvalidByteMarkBase + 0x80 && c <= kInvalidByteMarkBase + 0xFF) return 1;
  if (c == 0xFE00 || c == 0xFE01) return 0;
  return 2;
}

}  // namespace pendlo
