// Edit pictures. The picture is worked in two passes from its right end: the
// first places the number's digits, the second fills the positions left of
// the number (zeros, blanks, asterisks, a floating "-").
//
// The fill code remembers the fill character of the last digit position
// seen (blank or "*"), plus 256 when that position had no digit of the
// number left: a "." or "," standing left of such a position takes the fill
// instead of its mark, so " 0.05" is not written "  '05" and blanks are not
// interrupted by separators.
#include "util/number_picture.h"

#include <cmath>
#include <cstdio>

#include "util/installation_settings.h"

namespace kel {
namespace {

constexpr std::string_view kFractionClass = "9Zz*-+";
constexpr std::string_view kDecimalClass = "9Zz*";
constexpr int kNoDigit = 256;

bool IsIn(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

// The first character of a setting; missing, empty or blank gives `fallback`.
// A value starting with code 0 counts as blank, or it would read as "not
// read yet" on every later call.
char ReadMark(std::string_view key, char fallback) {
  std::string value = ReadInstallationSetting("Usuari", key);
  char c = value.empty() ? ' ' : value[0];
  return (c == ' ' || c == '\0') ? fallback : c;
}

void LoadMarks() {
  NumberPictureSettings& s = NumberPictureGlobals();
  if (s.DecimalChar == '\0') s.DecimalChar = ReadMark("DecCaracter", '\'');
  if (s.ThousandsChar == '\0') s.ThousandsChar = ReadMark("MilCaracter", '.');
}

// The decimal digits of a non-negative whole number; "" for 0. The double's
// exact value is written, so every digit is the number's own.
std::string DigitsOf(double n) {
  if (n < 1) return "";
  char text[400];  // the largest double has 309 digits
  std::snprintf(text, sizeof text, "%.0f", n);
  return text;
}

// |value| x 10^decimals rounded half to even; false when not finite.
bool ScaledWhole(double value, int decimals, double* n) {
  *n = 0;
  if (value == 0) return true;  // also keeps 0 x inf from giving NaN
  double v = std::fabs(value) * std::pow(10.0, decimals);
  if (!std::isfinite(v)) return false;
  double t = std::trunc(v);
  double f = v - t;
  if (f > 0.5 || (f == 0.5 && std::fmod(t, 2.0) == 1.0)) t += 1;
  *n = t;
  return true;
}

// The number that does not fit its picture, written plainly.
std::string PlainNumber(const std::string& digits, int decimals, bool negative, std::size_t width,
                        char decimal_mark) {
  const int count = static_cast<int>(digits.size());
  // Integer digits plus one position for a sign.
  const int integer_length = count - decimals + 1;
  if (static_cast<int>(width) < integer_length) return std::string(width, '!');
  std::string text = negative ? "-" : "";
  text += count > decimals ? digits.substr(0, static_cast<std::size_t>(count - decimals)) : "0";
  if (decimals > 0) {
    std::string fraction =
        count > decimals ? digits.substr(static_cast<std::size_t>(count - decimals))
                         : std::string(static_cast<std::size_t>(decimals - count), '0') + digits;
    text += decimal_mark;
    text += fraction;
  }
  if (text.size() >= width) return text.substr(0, width);
  return std::string(width - text.size(), ' ') + text;
}

}  // namespace

NumberPictureSettings& NumberPictureGlobals() {
  static NumberPictureSettings settings;
  return settings;
}

void ResetNumberPictures() { NumberPictureGlobals() = NumberPictureSettings(); }

std::string FormatNumberPicture(std::string_view picture, double value) {
  LoadMarks();
  const NumberPictureSettings& marks = NumberPictureGlobals();
  const int length = static_cast<int>(picture.size());
  std::string out(picture);
  if (length == 0) return out;
  if (!std::isfinite(value)) return std::string(picture.size(), '!');

  const bool has_sign = IsIn(picture, '-') || IsIn(picture, '+');
  int fraction = 0;  // positions of "9Zz*-+" after the first "."
  int decimals = 0;  // the run of "9Zz*" right after it
  const std::size_t point = picture.find('.');
  if (point != std::string_view::npos) {
    for (std::size_t q = point + 1; q < picture.size(); ++q) {
      if (IsIn(kFractionClass, picture[q])) ++fraction;
    }
    if (fraction != 0) {
      for (std::size_t q = point + 1; q < picture.size() && IsIn(kDecimalClass, picture[q]); ++q) {
        ++decimals;
      }
    }
  }

  double whole = 0;
  if (!ScaledWhole(value, decimals, &whole)) return std::string(picture.size(), '!');
  const std::string digits = DigitsOf(whole);
  const int count = static_cast<int>(digits.size());
  bool negative = value < 0;

  // 1-based index into `digits`, moving left; positions beyond the right
  // end (fraction positions without a digit) read as no digit.
  int i = fraction + count - decimals;
  auto digit_at = [&](int index) -> char {
    return index >= 1 && index <= count ? digits[index - 1] : '\0';
  };
  // True when digits[index..] holds a non-zero digit: the fraction still
  // has something to show from here on.
  auto tail_positive = [&](int index) {
    for (int q = index < 1 ? 1 : index; q <= count; ++q) {
      if (digits[q - 1] != '0') return true;
    }
    return false;
  };

  int fill = 0;
  int k = length;
  for (; k >= 1 && i > 0; --k) {
    char& cell = out[k - 1];
    const bool integer_side = k < length - fraction;
    const char digit = digit_at(i);
    switch (picture[k - 1]) {
      case '9':
        cell = digit != '\0' ? digit : '0';
        fill = 0;
        --i;
        break;
      case 'Z':
      case 'z':
        if (integer_side) {
          cell = digit != '\0' ? digit : ' ';
        } else if (fraction == 0 || tail_positive(i)) {
          cell = digit != '\0' ? digit : '0';
        } else {
          cell = ' ';
        }
        fill = ' ' + (digit != '\0' ? 0 : kNoDigit);
        --i;
        break;
      case '*':
        cell = digit != '\0' ? digit : '*';
        fill = '*' + (digit != '\0' ? 0 : kNoDigit);
        --i;
        break;
      case '.':
        cell = fill >= kNoDigit ? static_cast<char>(fill % kNoDigit) : marks.DecimalChar;
        fraction = 0;  // from here on everything is integer side
        break;
      case ',':
        cell = marks.ThousandsChar;
        break;
      case '-':
        cell = negative ? '-' : ' ';
        if (fraction > 0) --i;
        break;
      case '+':
        cell = negative ? '-' : '+';
        if (fraction > 0) --i;
        break;
      default:
        break;
    }
  }

  const bool exhausted = k == 0;
  if (i != 0 || (negative && !has_sign && exhausted)) {
    return PlainNumber(digits, decimals, negative, picture.size(), marks.DecimalChar);
  }

  // Positions left of the number. Without a sign position the "-" takes the
  // first digit position or separator free (a "9" only on the integer side).
  const bool floating_sign = !has_sign;
  for (; k >= 1; --k) {
    char& cell = out[k - 1];
    const bool integer_side = k < length - fraction;
    const char c = picture[k - 1];
    if (negative && floating_sign &&
        (c == 'Z' || c == 'z' || c == '*' || c == ',' || (c == '9' && integer_side))) {
      cell = '-';
      negative = false;
      if (c == '9') fill = 0;
      continue;
    }
    switch (c) {
      case '9':
        cell = '0';
        fill = 0;
        break;
      case 'Z':
      case 'z':
        if (integer_side || value == 0) {
          cell = ' ';
          fill = ' ' + kNoDigit;
        } else {
          cell = '0';
          fill = ' ';
        }
        break;
      case '*':
        cell = integer_side ? '*' : '0';
        fill = '*';
        break;
      case ',':
        cell = fill != 0 ? static_cast<char>(fill % kNoDigit) : marks.ThousandsChar;
        break;
      case '.':
        cell = fill >= kNoDigit ? static_cast<char>(fill % kNoDigit) : marks.DecimalChar;
        break;
      case '-':
        cell = negative ? '-' : ' ';
        break;
      case '+':
        cell = negative ? '-' : '+';
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace kel
