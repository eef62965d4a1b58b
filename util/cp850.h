// Code page 850, the character set of every text the program holds, and its
// conversion to and from Unicode (UTF-8) where texts meet the outside world:
// the terminal, file names, source files.
#ifndef KEL_UTIL_CP850_H_
#define KEL_UTIL_CP850_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The Unicode code point of a code page 850 byte. Bytes below 0x20 and 0x7F
// map to the control codes, as iconv maps them.
char32_t Cp850ToUnicode(std::uint8_t byte);

// The code page 850 byte of a code point; false when the code page lacks it.
bool UnicodeToCp850(char32_t code_point, std::uint8_t* byte);

// Letter case within code page 850: the letters a-z and the accented
// letters that have both a small and a capital form in the code page (the
// family's file systems fold exactly these). Every other byte unchanged.
std::uint8_t Cp850ToLower(std::uint8_t byte);
std::uint8_t Cp850ToUpper(std::uint8_t byte);

// Whole texts. Code points that code page 850 lacks, and malformed UTF-8,
// become `fallback`.
std::string Cp850ToUtf8(std::string_view cp850);
std::string Utf8ToCp850(std::string_view utf8, char fallback = '?');

// Appends the UTF-8 form of one code point.
void AppendUtf8(char32_t code_point, std::string* out);

// Decodes one code point from UTF-8 at `*pos`, advancing it. Returns
// U+FFFD for malformed input (and advances by one byte).
char32_t DecodeUtf8(std::string_view utf8, std::size_t* pos);

}  // namespace kel

#endif  // KEL_UTIL_CP850_H_
