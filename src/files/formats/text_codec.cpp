#include "files/formats/text_codec.h"

#include <cstddef>
#include <cstdint>
#include <optional>

#include "files/formats/text_codec_tables.h"

namespace pendlo {

namespace {

using cp932::Code;
using cp932::Iconv;
using cp932::IsLead;
using cp932::IsMark;
using cp932::kMaxCodes;
using cp932::kNoSlot;
using cp932::kVariantSelector1;
using cp932::SlotOf;
using cp932::Tables;

constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

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

// Reads a memo text unit by unit, the converter for near equivalents
// opened only when one is needed.
class UnitReader {
 public:
  explicit UnitReader(std::string_view text) : tables_(cp932::GetTables()), text_(text) {}
  bool More() const { return pos_ < text_.size(); }
  // Where the next unit starts.
  std::size_t Pos() const { return pos_; }
  Unit Next() { return NextUnit(tables_, text_, &pos_, fallback_); }
  const Tables& tables() const { return tables_; }

 private:
  const Tables& tables_;
  std::string_view text_;
  std::size_t pos_ = 0;
  std::optional<Iconv> fallback_;
};

}  // namespace

void PrepareTextCodec() {
  cp932::GetTables();
}

std::string DecodeDefinitionText(std::string_view bytes) {
  const Tables& t = cp932::GetTables();
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
  std::string out;
  out.reserve(text.size());
  for (UnitReader reader(text); reader.More();) {
    const Unit u = reader.Next();
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
  std::string out;
  out.reserve(utf8.size());
  for (UnitReader reader(utf8); reader.More();) {
    const std::size_t start = reader.Pos();
    const Unit u = reader.Next();
    if (u.kind == Unit::kUnrepresentable) {
      out += '?';
    } else if (u.kind == Unit::kCode) {
      // What the code reads back as: the same text, or the near equivalent.
      const Tables& t = reader.tables();
      AppendUtf8(out, t.CharOf(u.code));
      if (const std::uint8_t v = t.VariantOf(u.code)) AppendUtf8(out, kVariantSelector1 + v - 1);
    } else {
      out.append(utf8.substr(start, reader.Pos() - start));
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
