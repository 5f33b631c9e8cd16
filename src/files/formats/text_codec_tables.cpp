#include "files/formats/text_codec_tables.h"

#include <algorithm>

namespace pendlo::cp932 {

bool Iconv::Convert(const void* in, std::size_t inSize, void* out, std::size_t* outSize) {
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  char* ip = static_cast<char*>(const_cast<void*>(in));
  char* op = static_cast<char*>(out);
  std::size_t il = inSize;
  std::size_t ol = *outSize;
  if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return false;
  *outSize -= ol;
  return true;
}

char32_t Iconv::DecodeOne(const unsigned char* bytes, std::size_t n) {
  char32_t out[2];
  std::size_t size = sizeof out;
  if (!Convert(bytes, n, out, &size) || size != sizeof(char32_t)) return 0;
  return out[0];
}

Code Iconv::EncodeOne(char32_t c) {
  unsigned char out[8];
  std::size_t size = sizeof out;
  if (!Convert(&c, sizeof c, out, &size)) return 0;
  if (size == 1) return out[0];
  if (size == 2) return static_cast<Code>(out[0] << 8 | out[1]);
  return 0;
}

namespace {

// Lead byte -> its row among the pairs' (0xFF when not a lead byte).
constexpr std::array<std::uint8_t, 0x100> kLeadRows = [] {
  std::array<std::uint8_t, 0x100> rows{};
  int row = 0;
  for (int b = 0; b < 0x100; ++b) {
    rows[b] = IsLead(static_cast<unsigned char>(b)) ? static_cast<std::uint8_t>(row++) : 0xFF;
  }
  return rows;
}();

}  // namespace

std::size_t SlotOf(Code code) {
  if (code < 0x100) return code;
  const std::size_t row = kLeadRows[code >> 8];
  const int trail = code & 0xFF;
  if (row == 0xFF || trail < kTrailFirst || trail > kTrailLast) return kNoSlot;
  return 0x100 + row * kTrails + static_cast<std::size_t>(trail - kTrailFirst);
}

char32_t Tables::CharOf(Code code) const {
  const std::size_t slot = SlotOf(code);
  return slot == kNoSlot ? 0 : chars[slot];
}

std::uint8_t Tables::VariantOf(Code code) const {
  const std::size_t slot = SlotOf(code);
  return slot == kNoSlot ? 0 : variant[slot];
}

Code Tables::Canonical(char32_t c) const {
  if (c > 0xFFFF) return 0;
  const auto begin = byChar.begin() + blockStart[c >> 8];
  const auto end = byChar.begin() + blockStart[(c >> 8) + 1];
  const auto it = std::lower_bound(begin, end, c << 16);
  return it != end && (*it >> 16) == c ? static_cast<Code>(*it & 0xFFFF) : 0;
}

Code Tables::Other(char32_t c, char32_t v) const {
  const auto end = others.begin() + static_cast<std::ptrdiff_t>(othersCount);
  const auto it = std::lower_bound(others.begin(), end, c,
                                   [](const Others& e, char32_t key) { return e.c < key; });
  return it != end && it->c == c ? it->codes[v - 1] : 0;
}

namespace {

// Enters every code that reads as a character in t.chars, and a key
// character << 16 | code for each in t.byChar, unsorted; returns how many
// keys. Without the converter (`ok` false: a libc without gconv modules)
// ASCII still reads as such and every other byte becomes a mark: ugly, but
// nothing is lost.
std::size_t AddCodes(Tables& t, Iconv& decoder, bool ok) {
  std::size_t found = 0;
  const auto add = [&](Code code, char32_t c) {
    t.chars[SlotOf(code)] = static_cast<char16_t>(c);
    t.byChar[found++] = c << 16 | code;
  };
  for (int b = 1; b < 0x100; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const char32_t c = b < 0x80 ? b : (ok && !IsLead(byte) ? decoder.DecodeOne(&byte, 1) : 0);
    if (c != 0 && c <= 0xFFFF && !IsMark(c)) add(static_cast<Code>(b), c);
  }
  if (!ok) return found;
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
  return found;
}

// The codes of one character, t.byChar[first, last) sorted: puts the
// canonical one (the one the converter writes for it) first, the others
// following in ascending order, and records which code is which.
void RecordCodes(Tables& t, std::size_t first, std::size_t last, Iconv& encoder) {
  const char32_t c = t.byChar[first] >> 16;
  const auto keys = t.byChar.begin();
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
  if (last - first > 1) t.others[t.othersCount++] = others;
}

// Sorts the `found` keys and leaves one per character, its canonical code,
// at the front of t.byChar; returns how many.
std::size_t KeepCanonicalCodes(Tables& t, std::size_t found, Iconv& encoder) {
  std::sort(t.byChar.begin(), t.byChar.begin() + static_cast<std::ptrdiff_t>(found));
  std::size_t written = 0;
  for (std::size_t first = 0; first < found;) {
    const char32_t c = t.byChar[first] >> 16;
    std::size_t last = first + 1;
    while (last < found && (t.byChar[last] >> 16) == c) ++last;
    RecordCodes(t, first, last, encoder);
    // The group is read before its first key is overwritten: written <= first.
    t.byChar[written++] = t.byChar[first];
    first = last;
  }
  return written;
}

// Sorted once as 32-bit keys in the table that then holds the encoder's
// index: a map of lists took twice as long, and a list of pairs on the heap
// stayed resident after start-up.
void BuildTables(Tables& t) {
  Iconv decoder("UTF-32LE", "CP932");
  Iconv encoder("CP932", "UTF-32LE");
  const std::size_t found = AddCodes(t, decoder, decoder.ok() && encoder.ok());
  const std::size_t written = KeepCanonicalCodes(t, found, encoder);
  std::size_t i = 0;
  for (std::size_t block = 0; block < t.blockStart.size(); ++block) {
    while (i < written && (t.byChar[i] >> 24) < block) ++i;
    t.blockStart[block] = static_cast<std::uint16_t>(i);
  }
}

}  // namespace

const Tables& GetTables() {
  static const Tables* const tables = [] {
    static Tables storage;  // zero-initialised, in static storage
    BuildTables(storage);
    return &storage;
  }();
  return *tables;
}

}  // namespace pendlo::cp932
