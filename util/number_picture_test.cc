#include "util/number_picture.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "util/installation_settings.h"

namespace kel {
namespace {

std::string g_decimal, g_thousands;
int g_decimal_reads = 0, g_thousands_reads = 0;
std::string FakeSetting(std::string_view section, std::string_view key) {
  if (section != "Usuari") return "";
  if (key == "DecCaracter") return ++g_decimal_reads, g_decimal;
  if (key == "MilCaracter") return ++g_thousands_reads, g_thousands;
  return "";
}

class NumberPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_decimal = g_thousands = "";
    g_decimal_reads = g_thousands_reads = 0;
    ResetNumberPictures();
    SetInstallationSettingReader(&FakeSetting);
  }
  void TearDown() override {
    SetInstallationSettingReader(nullptr);
    ResetNumberPictures();
  }
};

struct Case {
  const char* picture;
  double value;
  const char* text;
};

void ExpectAll(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    EXPECT_EQ(FormatNumberPicture(c->picture, c->value), c->text)
        << "picture [" << c->picture << "] value " << c->value;
  }
}

TEST_F(NumberPictureTest, DigitsSignsAndFillsWithTheDefaultMarks) {
  const Case cases[] = {
      {"ZZZ.ZZ", 0, "      "},  // no digits: every Z blank, the "." takes the blank fill
      {"99.99", 5, "05'00"},
      {"9.99", 0.05, "0'05"},
      {"9", 2.5, "2"},  // half to even
      {"9", 3.5, "4"},
      {"9", 0.5, "0"},
      {"9.99", 0.125, "0'12"},
      {"9.99", 0.375, "0'38"},
      {"999", 42, "042"},  // no ".": an integer
      {"ZZZ", 10, " 10"},
      {"ZZZ", 0.4, "  0"},        // rounds to nothing, but the value is not zero
      {"Z.ZZ", 0.001, " '00"},    // the same on the fraction side
      {"ZZ9.ZZ", 1.5, "  1'5 "},  // zero decimals of a Z fraction suppressed
      {"ZZ9.ZZ", 1.05, "  1'05"},
      {"Z,ZZ9", -12, "  -12"},  // floating sign, separator takes the blank fill
      {"Z,ZZ9", 12, "   12"},
      {"Z,ZZ9", 1234, "1.234"},
      {"ZZZ,ZZ9", 12, "     12"},
      {"Z,ZZ9.99", 1234.5, "1.234'50"},
      {"999", -5, "0-5"},  // the sign floats into the next "9" of the integer side
      {"9.9", -0.5, "-'5"},
      {"Z9.99", -0.001, " -'00"},
      {"-ZZ9", -5, "-  5"},  // fixed sign positions
      {"-ZZ9", 5, "   5"},
      {"+ZZ9", 5, "+  5"},
      {"+ZZ9", -5, "-  5"},
      {"99.99-", -5, "05'00-"},  // trailing sign, counted among the fraction positions
      {"99.99-", 5, "05'00 "},
      {"99.9+", 1.25, "01'2+"},
      {"***9.99", 5.5, "***5'50"},  // asterisk fill, separators take it too
      {"*,**9", 5, "****5"},
      {"*,**9", -5, "***-5"},
      {"9,999", 5, "0.005"},  // between zeros the separator keeps its mark
      {"Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", 1e15, "1.000.000.000.000.000"},
      {"$ZZ9", 7, "$  7"},  // other characters are copied
      {"", 5, ""},
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

TEST_F(NumberPictureTest, OverflowShowsThePlainNumberOrBangs) {
  const Case cases[] = {
      {"ZZ9", 123456, "!!!"},
      {"99", -12, "!!"},  // negative, no sign position, no room left for it
      {"9", -5, "!"},
      {"xxxx9", 123, "  123"},  // digits left over, but the plain number fits
      {"xxxx9", -123, " -123"},
      {"xxxx9.9", 123.4, "  123'4"},
      {"9.9", 12.3, "12'"},    // the fraction is cut on the right
      {"99X9", 1234, "!!!!"},  // integer digits plus a sign position do not fit
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

TEST_F(NumberPictureTest, ValuesThatAreNotFiniteGiveBangsAndNeverHang) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double v : {inf, -inf, nan}) {
    EXPECT_EQ(FormatNumberPicture("-Z,ZZZ,ZZ9.99", v), "!!!!!!!!!!!!!") << v;
  }
  // Scaling a huge value overflows: also bangs. Zero with absurd decimals
  // stays zero (0 x inf would be NaN).
  EXPECT_EQ(FormatNumberPicture("9." + std::string(400, '9'), 1e300), std::string(402, '!'));
  EXPECT_EQ(FormatNumberPicture("Z." + std::string(400, 'Z'), 0), std::string(402, ' '));
  EXPECT_EQ(FormatNumberPicture("ZZ9", 1.7e308), "!!!");
}

TEST_F(NumberPictureTest, ConfiguredMarksAreReadOnceEachOnItsOwn) {
  g_decimal = ",x";
  g_thousands = ".";
  EXPECT_EQ(FormatNumberPicture("Z,ZZ9.99", 1234.5), "1.234,50");
  EXPECT_EQ(g_decimal_reads, 1);
  EXPECT_EQ(g_thousands_reads, 1);
  g_decimal = "#";
  g_thousands = "#";
  EXPECT_EQ(FormatNumberPicture("Z,ZZ9.99", 1234.5), "1.234,50") << "read again";
  EXPECT_EQ(g_decimal_reads + g_thousands_reads, 2);

  // One mark already known: only the other is read.
  ResetNumberPictures();
  NumberPictureGlobals().DecimalChar = '.';
  g_thousands = " ";  // blank: the default
  EXPECT_EQ(FormatNumberPicture("Z,ZZ9.99", 1234.5), "1.234.50");
  EXPECT_EQ(g_decimal_reads, 1);
  EXPECT_EQ(g_thousands_reads, 2);

  ResetNumberPictures();
  g_decimal = std::string(1, '\0');  // code 0 counts as blank, not as "unread"
  g_thousands = "'";
  EXPECT_EQ(FormatNumberPicture("Z,ZZ9.99", 1234.5), "1'234'50");
  EXPECT_EQ(NumberPictureGlobals().DecimalChar, '\'');

  ResetNumberPictures();
  SetInstallationSettingReader(nullptr);  // nothing registered: the defaults
  EXPECT_EQ(FormatNumberPicture("Z,ZZ9.99", -1234.5), "-1234'50");  // no room for the sign
  EXPECT_EQ(FormatNumberPicture("-Z,ZZ9.99", -1234.5), "-1.234'50");
}

// Whole numbers through a grouped picture, against an independent
// rendering of the same number.
TEST_F(NumberPictureTest, GroupedIntegersMatchAPlainRendering) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<long long> any(-999999999, 999999999);
  for (int n = 0; n < 3000; ++n) {
    long long v = n < 20 ? n - 10 : any(rng);
    char plain[32];
    std::snprintf(plain, sizeof plain, "%lld", v < 0 ? -v : v);
    std::string grouped;
    std::string digits = plain;
    for (std::size_t q = 0; q < digits.size(); ++q) {
      if (q > 0 && (digits.size() - q) % 3 == 0) grouped += '.';
      grouped += digits[q];
    }
    std::string expected = (v < 0 ? "-" : " ") + std::string(11 - grouped.size(), ' ') + grouped;
    ASSERT_EQ(FormatNumberPicture("-ZZZ,ZZZ,ZZ9", static_cast<double>(v)), expected) << v;
  }
}

// Cents through a picture with a trailing sign, against the same value
// rounded by the C library (exact halves excluded: there the two round
// differently by design).
TEST_F(NumberPictureTest, TwoDecimalsMatchThePrintedValue) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> cents(-9999999, 9999999);
  for (int n = 0; n < 3000; ++n) {
    double v = cents(rng) / 100.0;
    char printed[32];
    std::snprintf(printed, sizeof printed, "%9.2f", std::fabs(v));
    std::string expected = std::string(printed) + (v < 0 ? "-" : " ");
    expected[expected.size() - 4] = '\'';
    ASSERT_EQ(FormatNumberPicture("ZZZZZ9.99-", v), expected) << v;
  }
}

// Any picture with any value gives a text of the picture's length (and
// never hangs); a value that is not finite gives bangs.
TEST_F(NumberPictureTest, AnyPictureKeepsItsLength) {
  std::mt19937 rng(5);
  const std::string alphabet = "9Zz*.,-+x ";
  const double specials[] = {0,
                             -0.0,
                             1e300,
                             -1e-300,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             0.5,
                             -2.5};
  std::uniform_int_distribution<int> len(0, 30), pick(0, static_cast<int>(alphabet.size()) - 1);
  std::uniform_real_distribution<double> magnitude(-12, 12);
  for (int n = 0; n < 5000; ++n) {
    std::string picture;
    for (int i = len(rng); i > 0; --i) picture += alphabet[static_cast<std::size_t>(pick(rng))];
    double value =
        n % 10 == 0 ? specials[(n / 10) % 8] : (n % 2 ? -1 : 1) * std::pow(10.0, magnitude(rng));
    const std::string text = FormatNumberPicture(picture, value);
    ASSERT_EQ(text.size(), picture.size()) << picture << " " << value;
    if (!std::isfinite(value)) {
      ASSERT_EQ(text, std::string(picture.size(), '!')) << picture;
    }
  }
}

}  // namespace
}  // namespace kel
