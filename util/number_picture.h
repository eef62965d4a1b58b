// Numbers through edit pictures: "Z,ZZZ,ZZ9.99" and the like.
//
// Picture characters:
//   9      digit position; always a digit ("0" where the number has none)
//   Z z    digit position with blank suppression (the two are the same)
//   *      digit position with asterisk fill on the integer side
//   .      the decimal mark (`DecimalChar`)
//   ,      a thousands separator (`ThousandsChar`)
//   -      sign position: "-" for a negative value, blank otherwise
//   +      sign position: "-" for a negative value, "+" otherwise
//   other  copied unchanged
//
// The decimal mark and the thousands separator are the installation's,
// read once per process through the installation-setting reader
// (util/installation_settings.h): [Usuari] DecCaracter and MilCaracter,
// the first character of each; missing, empty or blank gives "'" for the
// decimal mark and "." for the separator.
#ifndef KEL_UTIL_NUMBER_PICTURE_H_
#define KEL_UTIL_NUMBER_PICTURE_H_

#include <string>
#include <string_view>

namespace kel {

// Process-wide marks; code 0 means "not read yet". Each is read on its own
// by the first FormatNumberPicture that finds it still 0.
struct NumberPictureSettings {
  char DecimalChar = '\0';
  char ThousandsChar = '\0';
};

NumberPictureSettings& NumberPictureGlobals();
// Back to "not read yet" (tests).
void ResetNumberPictures();

// `value` through `picture`; the result has exactly the picture's length.
//
// The picture's first "." splits it: the positions of "9Zz*-+" after it are
// the fraction positions, the run of "9Zz*" right after it the decimals.
// The value is scaled by 10^decimals and rounded half to even; its digits
// then fill the digit positions from the right. Zero decimals are shown as
// blanks in "Z" fraction positions; "." and "," take the blank or asterisk
// fill when no digit stands to their right. Without a sign position, the
// "-" of a negative value floats into the first free digit position left of
// the number.
//
// A number that does not fit (digits left over, or a negative value without
// a sign position and no free position for its "-") is shown plain,
// right-aligned: "-", the integer digits, the decimal mark and the
// decimals, cut on the right when only the fraction does not fit; when even
// the integer digits and a sign position do not fit, the picture's length
// of "!". A value that is not finite gives the "!" text too.
//
// Reads `DecimalChar` and `ThousandsChar`, loading each once (see above).
std::string FormatNumberPicture(std::string_view picture, double value);

}  // namespace kel

#endif  // KEL_UTIL_NUMBER_PICTURE_H_
