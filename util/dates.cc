// Packing digits into bytes, and the calendar arithmetic on packed dates.
#include "util/dates.h"

#include <charconv>
#include <cmath>

#include "util/fixed_text.h"

namespace kel {
namespace {

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

// A packed date cut or padded with bytes of value 0 to its four bytes.
std::string FourBytes(std::string_view date) { return FixedText(date, kPackedDateSize, '\0'); }

struct Ymd {
  int year;
  int month;
  int day;
};

Ymd Unpack(std::string_view date) {
  std::string digits = ExpandDigitBytes(FourBytes(date));
  auto number = [&](std::size_t pos, std::size_t len) {
    int n = 0;
    for (std::size_t i = pos; i < pos + len; ++i) n = n * 10 + DigitValue(digits[i]);
    return n;
  };
  return {number(0, 4), number(4, 2), number(6, 2)};
}

// Unsigned byte order, which is date order for packed dates.
bool ComesBefore(std::string_view a, std::string_view b) {
  std::string x = FourBytes(a);
  std::string y = FourBytes(b);
  for (std::size_t i = 0; i < kPackedDateSize; ++i) {
    auto u = static_cast<unsigned char>(x[i]);
    auto v = static_cast<unsigned char>(y[i]);
    if (u != v) return u < v;
  }
  return false;
}

constexpr int kReformYear = 1582;

bool IsLeapYear(int year) {
  if (year < kReformYear) return year % 4 == 0;
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Leap years in [0, year): Julian ones below 1582, Gregorian ones from there.
// A closed form rather than a loop over the years: the calendar pop-up and
// the tests ask for distances across centuries.
long LeapYearsBefore(int year) {
  if (year <= kReformYear) return (year + 3L) / 4;
  auto gregorian_up_to = [](long n) { return n / 4 - n / 100 + n / 400; };  // in [1, n]
  return (kReformYear + 3L) / 4 + gregorian_up_to(year - 1L) - gregorian_up_to(kReformYear - 1L);
}

// 31, 28/29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31; months beyond 12 follow
// the same formula, which keeps damaged dates from breaking the arithmetic.
int MonthLength(int month, int year) {
  int length = 30 + (1 + (month + 1) % 9) % 2;
  if (month == 2) length -= 2 - (IsLeapYear(year) ? 1 : 0);
  return length;
}

long DayCount(const Ymd& a, const Ymd& b) {
  long total = 0;
  if (a.year < b.year) {
    total += 365L * (b.year - a.year - 1) + LeapYearsBefore(b.year) - LeapYearsBefore(a.year + 1);
    for (int m = a.month; m <= 12; ++m) total += MonthLength(m, a.year);
    for (int m = 1; m < b.month; ++m) total += MonthLength(m, b.year);
  } else {
    for (int m = a.month; m < b.month; ++m) total += MonthLength(m, a.year);
  }
  return total - a.day + b.day;
}

int FloorMod(long value, int divisor) {
  long r = value % divisor;
  return static_cast<int>(r < 0 ? r + divisor : r);
}

long FloorDiv(long value, int divisor) {
  long q = value / divisor;
  return (value % divisor != 0 && value < 0) ? q - 1 : q;
}

}  // namespace

std::string PackDigits(std::string_view digits) {
  const std::size_t length = digits.size();
  std::string aligned(length, '0');
  std::string_view trimmed = Trim(digits);
  aligned.replace(length - trimmed.size(), trimmed.size(), trimmed);
  std::string out((length + 1) / 2, '\0');
  for (std::size_t k = 0; k < out.size(); ++k) {
    int high = DigitValue(aligned[2 * k]);  // a blank is not a digit: 0
    int low = 2 * k + 1 < length ? DigitValue(aligned[2 * k + 1]) : 0;
    out[k] = static_cast<char>(128 + 10 * high + low);
  }
  return out;
}

std::string ExpandDigitBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    int v = (static_cast<unsigned char>(c) & 127) % 100;
    out += static_cast<char>('0' + v / 10);
    out += static_cast<char>('0' + v % 10);
  }
  return out;
}

std::string ZeroPad(double value, int width) {
  if (width <= 0) return "";
  if (!std::isfinite(value)) value = 0;
  char buf[64];
  // 15 significant digits: the precision of the classic number-to-text
  // conversion, which also writes integers up to 15 digits without exponent.
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::general, 15);
  std::string text = ec == std::errc() ? std::string(buf, end) : std::string("0");
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  std::string padded(static_cast<std::size_t>(width), '0');
  padded += text;
  return padded.substr(padded.size() - static_cast<std::size_t>(width));
}

std::int32_t DateDifference(std::string_view first, std::string_view second,
                            std::string_view unit) {
  Ymd a = Unpack(first);
  Ymd b = Unpack(second);
  if (!ComesBefore(first, second)) std::swap(a, b);
  std::string u = AsciiUpper(unit);
  if (u == "D") return static_cast<std::int32_t>(DayCount(a, b));
  if (u == "M") return 12 * (b.year - a.year) + b.month - a.month;
  if (u == "A") {
    int years = b.year - a.year;
    if (a.month > b.month || (a.month == b.month && a.day > b.day)) --years;
    return years;
  }
  return 0;
}

int WeekdayOf(std::string_view date) {
  Ymd d = Unpack(date);
  std::string new_year = FourBytes(date).substr(0, 2) + PackDigits("0101");
  long n = DateDifference(date, new_year, "D");
  long y = d.year - 1L;
  long base;
  if (ComesBefore(date, PackDigits("15821005"))) {
    base = FloorMod(y + FloorDiv(y, 4), 7) + 5;
  } else {
    base = FloorMod(y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400), 7);
  }
  return FloorMod(base + n, 7) + 1;
}

}  // namespace kel
