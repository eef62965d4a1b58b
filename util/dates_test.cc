#include "util/dates.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "util/fixed_text.h"
#include "util/installation_settings.h"
#include "util/session_context.h"

namespace kel {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// The packed form of a civil date, built directly from the byte layout.
std::string Packed(int y, int m, int d) {
  return Bytes({128 + y / 100, 128 + y % 100, 128 + m, 128 + d});
}

// "YYYY-MM-DD", for failure messages.
std::string Show(const year_month_day& ymd) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

std::string Packed(const year_month_day& ymd) {
  return Packed(static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()));
}

TEST(PackDigits, Cases) {
  struct Case {
    std::string digits;
    std::string bytes;
  } cases[] = {
      {"20241231", Bytes({148, 152, 140, 159})},
      {" 5", Bytes({133})},
      {"123", Bytes({140, 158})},
      {"2 4", Bytes({148, 168})},
      {"  7 ", Bytes({128, 135})},  // right-aligned: "0007"
      {"", ""},
      {"    ", Bytes({128, 128})},
      {"1a", Bytes({138})},  // a non-digit counts as 0
      {"99999999", Bytes({227, 227, 227, 227})},
  };
  for (const auto& c : cases) EXPECT_EQ(PackDigits(c.digits), c.bytes) << "[" << c.digits << "]";
}

TEST(ExpandDigitBytes, Cases) {
  struct Case {
    std::string bytes;
    std::string digits;
  } cases[] = {
      {Bytes({148, 152, 140, 159}), "20241231"},
      {" ", "32"},
      {Bytes({255}), "27"},
      {Bytes({0}), "00"},
      {Bytes({227}), "99"},
      {Bytes({228}), "00"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandDigitBytes(c.bytes), c.digits) << c.digits;
}

TEST(PackDigits, EveryCalendarDateRoundTripsAndOrdersByBytes) {
  sys_days first = sys_days(year_month_day{year{0}, month{1}, day{1}});
  sys_days last = sys_days(year_month_day{year{9999}, month{12}, day{31}});
  std::string previous = Packed(0, 0, 0);
  std::string digits(8, '0');
  for (sys_days d = first; d <= last; d += std::chrono::days{1}) {
    year_month_day ymd{d};
    int y = static_cast<int>(ymd.year());
    int parts[] = {y / 100, y % 100, static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day()))};
    for (int i = 0; i < 4; ++i) {
      digits[2 * i] = static_cast<char>('0' + parts[i] / 10);
      digits[2 * i + 1] = static_cast<char>('0' + parts[i] % 10);
    }
    std::string packed = PackDigits(digits);
    ASSERT_EQ(packed, Packed(ymd)) << digits;
    ASSERT_EQ(ExpandDigitBytes(packed), digits) << digits;
    // Unsigned byte order is date order.
    ASSERT_LT(std::memcmp(previous.data(), packed.data(), kPackedDateSize), 0) << digits;
    previous = packed;
  }
}

TEST(ZeroPad, Cases) {
  struct Case {
    double value;
    int width;
    std::string text;
  } cases[] = {
      {7, 3, "007"},
      {12345, 3, "345"},
      {-7, 3, "007"},
      {0, 2, "00"},
      {1.5, 4, "01.5"},
      {31, 2, "31"},
      {123456789012345.0, 15, "123456789012345"},
      {123456789012345.0, 17, "00123456789012345"},
      {5, 0, ""},
      {5, -1, ""},
      {65535, 5, "65535"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZeroPad(c.value, c.width), c.text) << c.value << " width " << c.width;
  }
}

// Days between two dates by the proleptic Gregorian calendar.
long ChronoDays(const year_month_day& a, const year_month_day& b) {
  return (sys_days(b) - sys_days(a)).count();
}

TEST(DateDifference, DaysAndWeekdaysAgreeWithTheGregorianCalendar1583To2400) {
  const year_month_day anchor{year{1583}, month{1}, day{1}};
  const std::string anchor_packed = Packed(anchor);
  sys_days first = sys_days(anchor);
  sys_days last = sys_days(year_month_day{year{2400}, month{12}, day{31}});
  std::string previous = anchor_packed;
  for (sys_days d = first; d <= last; d += std::chrono::days{1}) {
    year_month_day ymd{d};
    std::string packed = Packed(ymd);
    long expected = ChronoDays(anchor, ymd);
    ASSERT_EQ(DateDifference(anchor_packed, packed, "D"), expected) << Show(ymd);
    ASSERT_EQ(DateDifference(packed, anchor_packed, "d"), expected) << Show(ymd);
    ASSERT_EQ(DateDifference(previous, packed, "D"), d == first ? 0 : 1) << Show(ymd);
    ASSERT_EQ(WeekdayOf(packed), static_cast<int>(std::chrono::weekday{d}.iso_encoding()))
        << Show(ymd);
    previous = packed;
  }
}

TEST(DateDifference, RandomPairsAgreeWithTheGregorianCalendar) {
  std::mt19937 rng(20240405);
  sys_days first = sys_days(year_month_day{year{1583}, month{1}, day{1}});
  std::uniform_int_distribution<int> offset(0, 300000);
  for (int i = 0; i < 20000; ++i) {
    year_month_day a{first + std::chrono::days{offset(rng)}};
    year_month_day b{first + std::chrono::days{offset(rng)}};
    long expected = std::labs(ChronoDays(a, b));
    ASSERT_EQ(DateDifference(Packed(a), Packed(b), "D"), expected) << Show(a) << " " << Show(b);
    // Months and whole years, computed independently.
    year_month_day lo = sys_days(a) <= sys_days(b) ? a : b;
    year_month_day hi = sys_days(a) <= sys_days(b) ? b : a;
    int months = (static_cast<int>(hi.year()) - static_cast<int>(lo.year())) * 12 +
                 static_cast<int>(static_cast<unsigned>(hi.month())) -
                 static_cast<int>(static_cast<unsigned>(lo.month()));
    ASSERT_EQ(DateDifference(Packed(a), Packed(b), "M"), months) << Show(a) << " " << Show(b);
    int years = static_cast<int>(hi.year()) - static_cast<int>(lo.year());
    if (hi.month() < lo.month() || (hi.month() == lo.month() && hi.day() < lo.day())) --years;
    ASSERT_EQ(DateDifference(Packed(a), Packed(b), "a"), years) << Show(a) << " " << Show(b);
  }
}

// Julian day number of a date of the Julian calendar; the weekday follows
// from it (JDN 0 was a Monday).
long JulianDayNumber(int y, int m, int d) {
  long a = (14 - m) / 12;
  long yy = y + 4800 - a;
  long mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - 32083;
}

TEST(DateDifference, JulianEraAgreesWithTheJulianCalendar) {
  static const int kLength[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const long anchor = JulianDayNumber(1, 1, 1);
  const std::string anchor_packed = Packed(1, 1, 1);
  for (int y = 1; y <= 1582; ++y) {
    for (int m = 1; m <= 12; ++m) {
      int length = kLength[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0);
      for (int d = 1; d <= length; ++d) {
        if (y == 1582 && (m > 10 || (m == 10 && d > 4))) break;
        long jdn = JulianDayNumber(y, m, d);
        std::string packed = Packed(y, m, d);
        ASSERT_EQ(WeekdayOf(packed), jdn % 7 + 1) << y << "-" << m << "-" << d;
        ASSERT_EQ(DateDifference(packed, anchor_packed, "D"), jdn - anchor)
            << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(DateDifference, Cases) {
  struct Case {
    std::string first;
    std::string second;
    const char* unit;
    std::int32_t result;
  } cases[] = {
      {Packed(2024, 2, 1), Packed(2024, 3, 1), "D", 29},
      {Packed(1900, 2, 1), Packed(1900, 3, 1), "D", 28},
      {Packed(1500, 2, 1), Packed(1500, 3, 1), "D", 29},     // Julian leap year
      {Packed(1582, 10, 4), Packed(1582, 10, 15), "D", 11},  // the reform's days are counted
      {Packed(1581, 12, 31), Packed(1583, 1, 1), "D", 366},
      {Packed(2000, 5, 10), Packed(2024, 5, 9), "A", 23},
      {Packed(2000, 5, 10), Packed(2024, 5, 10), "A", 24},
      {Packed(2024, 5, 10), Packed(2000, 5, 10), "A", 24},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "M", 1},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "X", 0},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "DD", 0},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "", 0},
      {Packed(2024, 1, 31), Packed(2024, 1, 31), "D", 0},
      {Packed(0, 0, 0), Packed(0, 1, 1), "D", 31},  // empty date: month 0 has 30 days + 1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateDifference(c.first, c.second, c.unit), c.result)
        << ExpandDigitBytes(c.first) << " " << ExpandDigitBytes(c.second) << " " << c.unit;
  }
}

TEST(WeekdayOf, Cases) {
  struct Case {
    std::string date;
    int weekday;
  } cases[] = {
      {Packed(2024, 1, 1), 1},   {Packed(2024, 1, 7), 7},  {Packed(1582, 10, 4), 4},
      {Packed(1582, 10, 15), 5}, {Packed(2000, 2, 29), 2}, {Packed(1, 1, 1), 6},
  };
  for (const auto& c : cases) EXPECT_EQ(WeekdayOf(c.date), c.weekday) << ExpandDigitBytes(c.date);
  int weekday = WeekdayOf(Packed(0, 0, 0));
  EXPECT_GE(weekday, 1);
  EXPECT_LE(weekday, 7);
}

// DateText reads its two settings through the installation-setting hook.
std::string g_separator;
std::string g_order;
int g_reads = 0;
std::string FakeSetting(std::string_view section, std::string_view key) {
  ++g_reads;
  if (section != "Usuari") return "";
  if (key == "DatCaracter") return g_separator;
  if (key == "DatOrdre") return g_order;
  return "";
}

class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDates();
    ResetSession();
    g_separator.clear();
    g_order.clear();
    g_reads = 0;
    SetInstallationSettingReader(&FakeSetting);
  }
  void TearDown() override {
    SetInstallationSettingReader(nullptr);
    ResetDates();
    ResetSession();
  }
};

TEST_F(DateTextTest, StylesAndLanguages) {
  struct Case {
    const char* language;
    std::int16_t style;
    const char* parts;
    std::string date;
    std::string text;
  } cases[] = {
      {"CAT", -1, "DMA", Packed(2024, 4, 5), "2024-04-05"},
      {"CAT", -1, "", Packed(2024, 4, 5), "2024-04-05"},
      {"CAT", 0, "DMA", Packed(2024, 4, 5), "5/4/2024  "},
      {"CAT", 1, "DMA", Packed(2024, 4, 5), "5/abr/2024 "},
      {"CAT", 2, "DMA", Packed(2024, 4, 5), "5 d'abril del 2024"},
      {"SPA", 2, "DMA", Packed(2024, 4, 5), "5 de abril de 2024"},
      {"GLG", 2, "DMA", Packed(2024, 4, 5), "5 de abril do 2024"},
      {"OCI", 2, "DMA", Packed(2024, 4, 5), "5 d'abriu deth 2024"},
      {"CAT", 2, "DMA", Packed(2024, 3, 15), "15 de mar\x87 del 2024"},
      {"OCI", 2, "DMA", Packed(2024, 1, 1), "1 de g\x8Ar deth 2024"},
      {"OCI", 1, "DMA", Packed(2024, 2, 28), "28/her/2024"},
      {"SPA", 2, "DMA", Packed(2024, 9, 30), "30 de septiembre de 2024"},
      {"GLG", 2, "MA", Packed(2024, 3, 1), "mar\x87o do 2024"},
      {"CAT", 2, "DMA", Packed(2024, 10, 12), "12 d'octubre del 2024"},
      {"xx", 2, "DMA", Packed(2024, 8, 1), "1 d'agost del 2024"},  // unknown: Catalan
      {"SPA", 0, "DMA", Packed(2024, 12, 31), "31/12/2024"},
      {"SPA", 0, "dm", Packed(2024, 12, 31), "31/12"},  // parts in any case
      {"CAT", 0, "A", Packed(2024, 12, 31), "2024"},
      {"CAT", 0, "DA", Packed(2024, 12, 31), "31/2024"},
      {"CAT", 2, "DMA", Packed(0, 0, 0), ""},
      {"CAT", -1, "DMA", Packed(0, 0, 0), "0000-00-00"},
      {"CAT", 0, "DMA", Packed(0, 0, 0), "          "},
      {"CAT", 0, "DMA", Bytes({0, 0, 0, 0}), "          "},
      {"CAT", 2, "DMA", Packed(2024, 13, 5), "5 de 13 del 2024"},  // month outside 1..12
      {"CAT", 1, "DMA", Packed(2024, 0, 5), "5/0/2024   "},
      {"CAT", -3, "DMA", Packed(2024, 4, 5), "5/4/202"},  // width -1 + 4 + 2 + 2
      {"CAT", 0, "", Packed(2024, 4, 5), ""},
  };
  for (const auto& c : cases) {
    SetSessionLanguage(c.language);
    EXPECT_EQ(DateText(c.date, c.style, c.parts), c.text)
        << c.language << " style " << c.style << " parts " << c.parts << " date "
        << ExpandDigitBytes(c.date);
  }
}

TEST_F(DateTextTest, MonthNamesOfEveryLanguage) {
  struct Language {
    const char* code;
    std::vector<std::string> months;
  } languages[] = {
      {"SPA",
       {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre",
        "octubre", "noviembre", "diciembre"}},
      {"GLG",
       {"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho", "agosto", "setembro",
        "outubro", "novembro", "dezembro"}},
      {"OCI",
       {"g\x8Ar", "hereu\x8Ar", "mar\x87", "abriu", "mai", "junh", "junhsega", "agost", "seteme",
        "octobre", "noveme", "deseme"}},
      {"CAT",
       {"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol", "agost", "setembre",
        "octubre", "novembre", "desembre"}},
  };
  for (const auto& language : languages) {
    SetSessionLanguage(language.code);
    for (int m = 1; m <= 12; ++m) {
      const std::string& name = language.months[m - 1];
      EXPECT_EQ(DateText(Packed(2024, m, 1), 2, "M"), name) << language.code << " " << m;
      // The abbreviation is the first three characters of the 10-character field.
      EXPECT_EQ(DateText(Packed(2024, m, 1), 1, "M"), FixedText(name, 3))
          << language.code << " " << m;
    }
  }
}

TEST_F(DateTextTest, SettingsAreReadOnceAndApplied) {
  g_separator = ".";
  g_order = "AMD";
  SetSessionLanguage("CAT");
  EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), "2024.4.5  ");
  EXPECT_EQ(DateText(Packed(2024, 4, 5), 2, "DMA"), "2024 d'abril del 5");
  EXPECT_EQ(DateGlobals().DateSeparator, ".");
  EXPECT_EQ(DateGlobals().DateOrder, "AMD");
  int reads = g_reads;
  g_separator = "-";
  EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), "2024.4.5  ");
  EXPECT_EQ(g_reads, reads);  // later changes to the file are not seen
}

TEST_F(DateTextTest, SettingDefaults) {
  struct Case {
    std::string separator;
    std::string order;
    std::string expected_separator;
    std::string expected_order;
    std::string text;
  } cases[] = {
      {"", "", "/", "DMA", "5/4/2024  "},       {" ", "   ", "/", "DMA", "5/4/2024  "},
      {"-x", "MDAX", "-", "MDA", "4-5-2024  "}, {"/", "MD", "/", "MD ", "4/5       "},
      {"/", "dma", "/", "dma", "          "},  // lower-case letters match nothing
      {"/", "DXA", "/", "DXA", "5/2024    "},  // other letters show nothing
  };
  for (const auto& c : cases) {
    ResetDates();
    g_separator = c.separator;
    g_order = c.order;
    SetSessionLanguage("CAT");
    EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), c.text) << c.separator << "|" << c.order;
    EXPECT_EQ(DateGlobals().DateSeparator, c.expected_separator) << c.separator;
    EXPECT_EQ(DateGlobals().DateOrder, c.expected_order) << c.order;
  }
}

TEST_F(DateTextTest, WithoutReaderTheDefaultsApply) {
  SetInstallationSettingReader(nullptr);
  EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), "5/4/2024  ");
}

}  // namespace
}  // namespace kel
