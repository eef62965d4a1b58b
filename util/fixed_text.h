// Fixed-width text fields: the record fields and the globals that hold "the
// first n characters of what is assigned, padded with blanks on the right".
#ifndef KEL_UTIL_FIXED_TEXT_H_
#define KEL_UTIL_FIXED_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kel {

// The first `width` bytes of `text`, padded on the right with `pad`.
std::string FixedText(std::string_view text, std::size_t width, char pad = ' ');

// Writes `text` into `field` (a fixed-width area of `width` bytes): cut or
// blank-padded. Never writes past `width`.
void StoreFixed(std::string_view text, char* field, std::size_t width);

// Blanks (code 32 only) removed at the ends.
std::string_view TrimRight(std::string_view text);
std::string_view TrimLeft(std::string_view text);
std::string_view Trim(std::string_view text);

// True when every byte is a blank (also for the empty text).
bool IsBlank(std::string_view text);

// Upper-cases the ASCII letters a..z only (names of keys, switches, files).
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Decimal text of a number, as the family writes numbers in texts: no
// leading blank, "-" for negatives.
std::string DecimalText(long long value);

// The numeric value of a text as the classic Val() reads it: leading blanks
// skipped, an optional sign, then digits up to the first other character;
// 0 when no digit starts it. Saturates instead of overflowing.
long long LeadingNumber(std::string_view text);

}  // namespace kel

#endif  // KEL_UTIL_FIXED_TEXT_H_
