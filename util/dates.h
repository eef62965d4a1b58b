// Packed dates and the texts of dates.
//
// A `PackedDate` is four bytes carrying the eight decimal digits of a date
// two by two, each byte 128 plus a two-digit value 0..99:
//
//   offset  size  content
//   0       1     128 + century (first two digits of the year)
//   1       1     128 + year within the century
//   2       1     128 + month
//   3       1     128 + day
//
// So 31 December 2024 is the bytes 148 152 140 159. Every byte carries the
// same offset and the most significant part comes first, so comparing two
// packed dates byte by byte as unsigned values orders them by date. Four
// bytes of value 0 read as year 0, month 0, day 0: the empty date.
//
// The calendar is the Julian one before 1582 and the Gregorian one from 1582
// on, by year: day counts take the leap rule of each year and do not skip the
// ten days dropped in October 1582; the weekday switches rules at
// 5 October 1582 (the first of the days that never existed).
#ifndef KEL_UTIL_DATES_H_
#define KEL_UTIL_DATES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// Four bytes as described above, held in a std::string.
using PackedDate = std::string;
constexpr std::size_t kPackedDateSize = 4;

// A text of decimal digits to bytes, two digits per byte (128 + 10 x first +
// second). Returns (L + 1) / 2 bytes for a text of L characters. The digits
// are right-aligned in the text's width: blanks at both ends are trimmed, the
// rest is zero-filled on the left to L characters, and remaining blanks
// count as "0". Any other non-digit counts as 0; with an odd length the last
// digit lands in the tens place of the last byte.
std::string PackDigits(std::string_view digits);

// Bytes to two decimal digits each: the last two digits of (byte AND 127).
// Bytes 128..227 give back what PackDigits stored; 0 gives "00", 255 "27".
std::string ExpandDigitBytes(std::string_view bytes);

// `value` as exactly `width` characters with leading zeros: the decimal text
// of |value| (15 significant digits, no exponent for integers up to 15
// digits), zeros in front, and the last `width` characters taken. A value too
// wide loses its leading digits; a negative value loses its sign; a value
// that is not finite counts as 0. width <= 0 gives "".
std::string ZeroPad(double value, int width);

// The distance between two packed dates, whatever their order, in `unit`:
//   "D" days (each year's own leap rule, see above),
//   "M" months: 12 x years + months, the days not looked at,
//   "A" whole years: less one when the later date's month and day come
//       before the earlier date's.
// The unit is matched without regard to case; any other unit gives 0.
// A date shorter than 4 bytes is read as if padded with bytes of value 0.
// For packed dates of valid digits the result is never negative.
std::int32_t DateDifference(std::string_view first, std::string_view second, std::string_view unit);

// The day of the week of a packed date: 1 Monday .. 7 Sunday. Julian rule
// before 5 October 1582, Gregorian from then on. Meaningful for years from
// 1 on (year 0 still gives a value in 1..7).
int WeekdayOf(std::string_view date);

// Process-wide settings of numeric date texts, read once per process on the
// first DateText from section [Usuari] of the installation file through the
// registered installation-setting reader (util/installation_settings.h).
struct DateSettings {
  // Separator of numeric dates; code 0 until read. Key DatCaracter: its
  // first character; a missing or empty value, or a blank, gives "/".
  std::string DateSeparator = std::string(1, '\0');
  // Order of the parts, letters D, M, A; codes 0 until read. Key DatOrdre,
  // cut or blank-padded to 3 characters; three blanks give "DMA". The
  // letters are taken as written: lower-case letters select nothing.
  std::string DateOrder = std::string(3, '\0');
};

DateSettings& DateGlobals();
// Back to "not yet read" (tests).
void ResetDates();

// The text of a packed date. `style`:
//   -1    "YYYY-MM-DD", whatever `parts` and the settings say;
//   <= 0  numbers: "5/4/2024";
//   1     abbreviated month name: "5/abr/2024";
//   >= 2  in words in the session language: "5 d'abril del 2024".
// `parts` names the parts to show (letters D, M, A, any case); they appear in
// the order of `DateOrder`. Day and month numbers carry no leading zeros.
// Styles below 2 (except -1) are blank-padded or cut to a fixed width:
// (style + 2 if M is shown) + (4 if A) + (2 if D) + (length of parts - 1),
// never below 0. A date with month and day both 0 gives "" (blank-padded
// for styles below 2). A month outside 1..12 shows as its number in every
// style.
// Reads: `SessionLanguage` (style > 0); `DateSeparator` and `DateOrder`,
// loading them on first use. Writes: those two settings, once.
std::string DateText(std::string_view date, std::int16_t style, std::string_view parts);

}  // namespace kel

#endif  // KEL_UTIL_DATES_H_
