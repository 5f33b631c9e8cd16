#include "files/formats/text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pendlo {
namespace {

using namespace std::string_literals;

struct RoundTripRow {
  const char* name;
  std::string file;   // bytes as found on disk
  std::string text;   // the memo text they load as
  std::string saved;  // what saving that text writes
};

// Bytes that are not Shift-JIS read as U+F780 + byte: 0x81 as U+F801.
TEST(DefinitionTextCodecTest, LoadsAndSavesWithoutLosingAByte) {
  const std::vector<RoundTripRow> rows = {
      {"comment lines", "/ 7/8 in 3+2+2\r\n322\r\n", "/ 7/8 in 3+2+2\n322\n",
       "/ 7/8 in 3+2+2\r\n322\r\n"},
      {"no final line break", "32\r\n5", "32\n5", "32\r\n5"},
      {"CR-only lines", "1\r2\r\r3", "1\n2\n\n3", "1\r\n2\r\n\r\n3"},
      {"LF-only lines", "1\n2\n\n3\n", "1\n2\n\n3\n", "1\r\n2\r\n\r\n3\r\n"},
      {"CR CR LF is two breaks", "1\r\r\n2", "1\n\n2", "1\r\n\r\n2"},
      {"LF CR is two breaks", "1\n\r2", "1\n\n2", "1\r\n\r\n2"},
      {"text ends at NUL",
       "12\r\n3\0"
       "45\r\n"s,
       "12\n3", "12\r\n3"},
      {"NUL first",
       "\0"
       "12"s,
       "", ""},
      {"Japanese", "\x95\xCF\x94\x8F\x8E\x71 3\r\n", "変拍子 3\n",
       "\x95\xCF\x94\x8F\x8E\x71 3\r\n"},
      {"0x5C second bytes", "\x95\x5C\x83\x5C\x94\x5C\\", "表ソ能\\", "\x95\x5C\x83\x5C\x94\x5C\\"},
      {"half-width katakana", "\xB1\xDD\xA1", "ｱﾝ｡", "\xB1\xDD\xA1"},
      {"user-defined area", "\xF0\x40", "\xEE\x80\x80", "\xF0\x40"},
      {"bytes never valid", "\x80\xA0\xFD\xFE\xFF", "\uF800\uF820\uF87D\uF87E\uF87F",
       "\x80\xA0\xFD\xFE\xFF"},
      {"lead byte at the end", "1\x81", "1\uF801", "1\x81"},
      {"lead byte before a line break", "\x82\r\n\x82\n", "\uF802\n\uF802\n", "\x82\r\n\x82\r\n"},
      {"lead byte before ASCII", "\x81 1", "\uF801 1", "\x81 1"},
      {"unassigned pair keeps its second byte", "\x85\x40", "\uF805@", "\x85\x40"},
      {"lead byte before a pair", "\xFC\xFC\x95\x5C", "\uF87C\uF87C表", "\xFC\xFC\x95\x5C"},
      {"NEC and IBM codes of one character", "\x81\xE0\x87\x90\x81\xCA\xEE\xF9\xFA\x54",
       "≒≒\uFE00\uFFE2\uFFE2\uFE00\uFFE2\uFE01", "\x81\xE0\x87\x90\x81\xCA\xEE\xF9\xFA\x54"},
      {"NEC-selected kanji", "\xED\x40\xFA\x5C", "纊\uFE00纊", "\xED\x40\xFA\x5C"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeDefinitionText(row.file), row.text);
    EXPECT_EQ(EncodeDefinitionText(row.text), row.saved);
    EXPECT_EQ(DecodeDefinitionText(row.saved), row.text);
    EXPECT_EQ(ToCp932Representable(row.text), row.text);
  }
}

// Every two-byte file without line breaks or NUL comes back unchanged,
// also with a byte after it that a careless decoder could swallow.
TEST(DefinitionTextCodecTest, EveryByteSequenceOfTwoSurvives) {
  int changed = 0;
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      if (a == '\r' || a == '\n' || b == '\r' || b == '\n') continue;
      for (const std::string& file :
           {std::string{char(a), char(b)}, std::string{char(a), char(b), '1'}}) {
        if (EncodeDefinitionText(DecodeDefinitionText(file)) != file && ++changed < 10) {
          ADD_FAILURE() << std::hex << a << " " << b;
        }
      }
    }
  }
  EXPECT_EQ(changed, 0);
}

TEST(DefinitionTextCodecTest, SavesWhatCp932CannotHoldAsQuestionMarks) {
  const struct {
    const char* name;
    std::string text;
    std::string saved;
    std::string shown;  // ToCp932Representable
  } rows[] = {
      {"accented letter", "café", "caf?", "caf?"},
      {"emoji", "1😀2", "1?2", "1?2"},
      {"NUL",
       "1\0"
       "2"s,
       "1?2", "1?2"},
      {"not UTF-8",
       "1\xFF\xC3"
       "2",
       "1??2", "1??2"},
      {"near equivalent wave dash", "〜", "\x81\x60", "～"},
      {"lone variation selector", "1\uFE00", "1?", "1?"},
      {"selector beyond the codes", "≒\uFE01", "\x81\xE0?", "≒?"},
      {"mark of a byte below 0x80", "\uF7A0", "?", "?"},
      {"mark", "\uF800", "\x80", "\uF800"},
      {"just past the marks", "\uF880", "?", "?"},
      {"line breaks of every kind", "1\r\n2\r3\n4\u20295\u2028", "1\r\n2\r\n3\r\n4\r\n5\r\n",
       "1\r\n2\r3\n4\u20295\u2028"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(EncodeDefinitionText(row.text), row.saved);
    EXPECT_EQ(ToCp932Representable(row.text), row.shown);
    // What the window shows is what the file reads back as.
    EXPECT_EQ(DecodeDefinitionText(EncodeDefinitionText(row.shown)),
              DecodeDefinitionText(row.saved));
  }
}

}  // namespace
}  // namespace pendlo
