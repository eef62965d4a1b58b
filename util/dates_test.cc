#include "util/dates.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "util/fixed_text.h"
#include "util/installation_settings.h"
#include "util/session_context.h"

namespace kel {
namespace {

using namespace std::chrono;  // civil dates: the independent calendar

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// The packed form, built directly from the byte layout.
std::string Packed(int y, int m, int d) {
  return Bytes({128 + y / 100, 128 + y % 100, 128 + m, 128 + d});
}
std::string Packed(const year_month_day& ymd) {
  return Packed(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
}
// "YYYYMMDD", written independently of the code under test.
std::string Show(const year_month_day& ymd) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", int(ymd.year()), unsigned(ymd.month()),
                unsigned(ymd.day()));
  return text;
}

TEST(PackedDigits, Cases) {
  struct Case {
    std::string digits, bytes;
  } cases[] = {
      {"20241231", Bytes({148, 152, 140, 159})},
      {" 5", Bytes({133})},
      {"123", Bytes({140, 158})},
      {"2 4", Bytes({148, 168})},
      {"  7 ", Bytes({128, 135})},
      {"", ""},
      {"1a", Bytes({138})},
      {"99999999", Bytes({227, 227, 227, 227})},
  };
  for (const auto& c : cases) EXPECT_EQ(PackDigits(c.digits), c.bytes) << "[" << c.digits << "]";
  struct Back {
    std::string bytes, digits;
  } backs[] = {{" ", "32"}, {Bytes({255}), "27"}, {Bytes({0}), "00"}, {Bytes({228}), "00"}};
  for (const auto& c : backs) EXPECT_EQ(ExpandDigitBytes(c.bytes), c.digits) << c.digits;
}

TEST(PackedDigits, EveryCalendarDateRoundTripsAndOrdersByBytes) {
  std::string previous = Packed(0, 0, 0);
  for (sys_days d = sys_days(year{0} / 1 / 1); d <= sys_days(year{9999} / 12 / 31); d += days{1}) {
    const std::string digits = Show(year_month_day{d});
    const std::string packed = PackDigits(digits);
    ASSERT_EQ(packed, Packed(year_month_day{d})) << digits;
    ASSERT_EQ(ExpandDigitBytes(packed), digits);
    ASSERT_LT(std::memcmp(previous.data(), packed.data(), 4), 0) << digits;  // unsigned order
    previous = packed;
  }
}

TEST(ZeroPad, Cases) {
  struct Case {
    double value;
    int width;
    std::string text;
  } cases[] = {{7, 3, "007"},  {12345, 3, "345"},
               {-7, 3, "007"}, {1.5, 4, "01.5"},
               {5, 0, ""},     {5, -1, ""},
               {0, 2, "00"},   {123456789012345.0, 17, "00123456789012345"}};
  for (const auto& c : cases) EXPECT_EQ(ZeroPad(c.value, c.width), c.text) << c.value;
}

// Every date 1583..2400: the day count from a fixed date (both argument
// orders), from the day before, and the weekday, against std::chrono.
TEST(DateDifference, AgreesWithTheGregorianCalendar1583To2400) {
  const sys_days anchor = sys_days(year{1583} / 1 / 1);
  const std::string anchor_packed = Packed(year_month_day{anchor});
  std::string previous = anchor_packed;
  for (sys_days d = anchor; d <= sys_days(year{2400} / 12 / 31); d += days{1}) {
    const year_month_day ymd{d};
    const std::string packed = Packed(ymd);
    ASSERT_EQ(DateDifference(anchor_packed, packed, "D"), (d - anchor).count()) << Show(ymd);
    ASSERT_EQ(DateDifference(packed, anchor_packed, "d"), (d - anchor).count()) << Show(ymd);
    ASSERT_EQ(DateDifference(previous, packed, "D"), d == anchor ? 0 : 1) << Show(ymd);
    ASSERT_EQ(WeekdayOf(packed), int(weekday{d}.iso_encoding())) << Show(ymd);
    previous = packed;
  }
}

// Before the reform: Julian day numbers (JDN 0 was a Monday).
TEST(DateDifference, AgreesWithTheJulianCalendarBefore1582) {
  auto jdn = [](long y, long m, long d) {
    long a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - 32083;
  };
  const int length[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int y = 1; y <= 1582; ++y) {
    for (int m = 1; m <= (y == 1582 ? 9 : 12); ++m) {
      for (int d = 1; d <= length[m - 1] + (m == 2 && y % 4 == 0); ++d) {
        ASSERT_EQ(WeekdayOf(Packed(y, m, d)), jdn(y, m, d) % 7 + 1) << y << "-" << m << "-" << d;
        ASSERT_EQ(DateDifference(Packed(y, m, d), Packed(1, 1, 1), "D"),
                  jdn(y, m, d) - jdn(1, 1, 1))
            << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(DateDifference, Cases) {
  struct Case {
    std::string first, second;
    const char* unit;
    int result;
  } cases[] = {
      {Packed(2024, 2, 1), Packed(2024, 3, 1), "D", 29},
      {Packed(1900, 2, 1), Packed(1900, 3, 1), "D", 28},
      {Packed(1500, 2, 1), Packed(1500, 3, 1), "D", 29},
      {Packed(1582, 10, 4), Packed(1582, 10, 15), "D", 11},  // the dropped days still count
      {Packed(2000, 5, 10), Packed(2024, 5, 9), "A", 23},
      {Packed(2000, 5, 10), Packed(2024, 5, 10), "A", 24},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "M", 1},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "X", 0},
      {Packed(2024, 1, 31), Packed(2024, 2, 1), "DD", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateDifference(c.first, c.second, c.unit), c.result)
        << ExpandDigitBytes(c.first) << " " << ExpandDigitBytes(c.second) << " " << c.unit;
  }
  EXPECT_EQ(WeekdayOf(Packed(2024, 1, 1)), 1);
  EXPECT_EQ(WeekdayOf(Packed(2024, 1, 7)), 7);
  EXPECT_EQ(WeekdayOf(Packed(1582, 10, 4)), 4);
  EXPECT_EQ(WeekdayOf(Packed(1582, 10, 15)), 5);
}

// DateText reads its settings through the installation-setting hook.
std::string g_separator, g_order;
int g_reads = 0;
std::string FakeSetting(std::string_view section, std::string_view key) {
  ++g_reads;
  if (section != "Usuari") return "";
  return key == "DatCaracter" ? g_separator : key == "DatOrdre" ? g_order : "";
}

class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_separator = g_order = "";
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
    std::string date, text;
  } cases[] = {
      {"CAT", -1, "", Packed(2024, 4, 5), "2024-04-05"},
      {"CAT", 0, "DMA", Packed(2024, 4, 5), "5/4/2024  "},
      {"CAT", 1, "DMA", Packed(2024, 4, 5), "5/abr/2024 "},
      {"CAT", 2, "DMA", Packed(2024, 4, 5), "5 d'abril del 2024"},
      {"SPA", 2, "DMA", Packed(2024, 4, 5), "5 de abril de 2024"},
      {"GLG", 2, "DMA", Packed(2024, 4, 5), "5 de abril do 2024"},
      {"OCI", 2, "DMA", Packed(2024, 4, 5), "5 d'abriu deth 2024"},
      {"CAT", 2, "DMA", Packed(2024, 3, 15), "15 de mar\x87 del 2024"},
      {"GLG", 2, "ma", Packed(2024, 3, 1), "mar\x87o do 2024"},
      {"xx", 2, "DMA", Packed(2024, 10, 1), "1 d'octubre del 2024"},  // other codes: Catalan
      {"SPA", 0, "dm", Packed(2024, 12, 31), "31/12"},
      {"CAT", 0, "DA", Packed(2024, 12, 31), "31/2024"},
      {"CAT", 2, "DMA", Packed(0, 0, 0), ""},
      {"CAT", -1, "DMA", Packed(0, 0, 0), "0000-00-00"},
      {"CAT", 0, "DMA", Bytes({0, 0, 0, 0}), "          "},
      {"CAT", 2, "DMA", Packed(2024, 13, 5), "5 de 13 del 2024"},  // no name: the number
      {"CAT", -3, "DMA", Packed(2024, 4, 5), "5/4/202"},           // width -1 + 4 + 2 + 2
  };
  for (const auto& c : cases) {
    SetSessionLanguage(c.language);
    EXPECT_EQ(DateText(c.date, c.style, c.parts), c.text)
        << c.language << " " << c.style << " " << c.parts << " " << ExpandDigitBytes(c.date);
  }
}

TEST_F(DateTextTest, MonthNamesOfEveryLanguage) {
  const std::pair<const char*, std::string> languages[] = {
      {"SPA",
       "enero febrero marzo abril mayo junio julio agosto septiembre octubre noviembre "
       "diciembre"},
      {"GLG",
       "janeiro fevereiro mar\x87o abril maio junho julho agosto setembro outubro novembro "
       "dezembro"},
      {"OCI",
       "g\x8Ar hereu\x8Ar mar\x87 abriu mai junh junhsega agost seteme octobre noveme deseme"},
      {"CAT",
       "gener febrer mar\x87 abril maig juny juliol agost setembre octubre novembre desembre"}};
  for (const auto& [code, names] : languages) {
    SetSessionLanguage(code);
    std::string long_names, short_names, expected_short;
    for (int m = 1; m <= 12; ++m) {
      long_names += (m > 1 ? " " : "") + DateText(Packed(2024, m, 1), 2, "M");
      short_names += DateText(Packed(2024, m, 1), 1, "M");
    }
    EXPECT_EQ(long_names, names) << code;
    std::istringstream words(names);
    for (std::string word; words >> word;) expected_short += FixedText(word, 3);
    EXPECT_EQ(short_names, expected_short) << code;
  }
}

TEST_F(DateTextTest, SettingsAreReadOnceWithTheirDefaults) {
  struct Case {
    std::string separator, order, text;
  } cases[] = {
      {"", "", "5/4/2024  "},     {" ", "   ", "5/4/2024  "}, {".x", "AMDX", "2024.4.5  "},
      {"/", "MD", "4/5       "},  {"/", "dma", "          "},  // lower case matches nothing
      {"/", "DXA", "5/2024    "},
  };
  for (const auto& c : cases) {
    ResetDates();
    g_separator = c.separator;
    g_order = c.order;
    EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), c.text) << c.separator << "|" << c.order;
    int reads = g_reads;
    g_separator = "-";
    g_order = "AMD";
    EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), c.text) << "read again";
    EXPECT_EQ(g_reads, reads);
  }
  ResetDates();
  SetInstallationSettingReader(nullptr);  // nothing registered: the defaults
  EXPECT_EQ(DateText(Packed(2024, 4, 5), 0, "DMA"), "5/4/2024  ");
  EXPECT_EQ(DateGlobals().DateOrder, "DMA");
}

}  // namespace
}  // namespace kel
