// Definition texts between their file form (Shift-JIS, code page 932, CR LF
// line breaks) and the memo's form (UTF-8, "\n" line breaks), without losing
// a byte: Decode then Encode gives back every file the loader normalised.
//
// Memo form: UTF-8 with "\n" between lines. The encoder also takes "\r\n",
// a lone "\r", U+2028 and U+2029 as line breaks, so text straight from a Qt
// widget (which may use U+2029) needs no conversion.
//
// Bytes that are not valid Shift-JIS become private-use marks U+F780 + byte
// (U+F800..U+F87F) and are written back as the same byte. Code page 932 holds
// some characters under two or three codes (NEC and IBM rows); the canonical
// code decodes to the bare character, the others to the character followed by
// U+FE00 (second code) or U+FE01 (third code), invisible variation selectors
// that the encoder turns back into the same code.
#pragma once

#include <string>
#include <string_view>

namespace pendlo {

inline constexpr char32_t kInvalidByteMarkBase = 0xF780;  // mark = base + byte (0x80..0xFF)

// File bytes -> memo text. Keeps only the bytes before the first NUL; CR LF,
// a lone CR and a lone LF each become "\n" (a CR or LF is never the second
// byte of a double-byte character).
std::string DecodeDefinitionText(std::string_view bytes);

// Memo text -> file bytes: each line break becomes CR LF, marks their byte,
// and every character code page 932 cannot hold (and NUL, and bytes that are
// not UTF-8) becomes "?". A character that code page 932 holds only as a
// near equivalent (e.g. U+301C as 0x8160) is written as that code.
std::string EncodeDefinitionText(std::string_view text);

// How many bytes character c of a memo text takes in the file form:
// a line break ("\n", U+2028, U+2029) 2 for its CR LF, ASCII, half-width
// katakana and invalid-byte marks 1, a variation selector 0 (it is part of
// the code before it), any other character 2. Exact for text the files can
// hold; lets a caller check the file limit without encoding the text.
int EncodedWidth(char32_t c);

// The memo text as it will read after a save and a load, with its line
// breaks untouched: what EncodeDefinitionText would write as "?" is "?", a
// near equivalent becomes the character it is read back as. Lets the window
// show at once what the file will hold. Returns the input when nothing changes.
std::string ToCp932Representable(std::string_view utf8);

// Builds the code tables the functions above share (a few milliseconds;
// otherwise done by the first of them to run). Safe from any thread, so
// start-up can have it done beside the window's creation.
void PrepareTextCodec();

}  // namespace pendlo
