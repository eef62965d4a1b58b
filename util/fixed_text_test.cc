#include "util/fixed_text.h"

#include "gtest/gtest.h"

namespace kel {
namespace {

TEST(FixedText, CutsAndPads) {
  EXPECT_EQ(FixedText("CAT", 5), "CAT  ");
  EXPECT_EQ(FixedText("CATALA", 3), "CAT");
  EXPECT_EQ(FixedText("", 2), "  ");
  EXPECT_EQ(FixedText("ab", 4, '\0'), std::string("ab\0\0", 4));
  char field[4] = {'x', 'x', 'x', 'x'};
  StoreFixed("abcdef", field, 3);
  EXPECT_EQ(std::string(field, 4), "abcx");  // never past the width
  StoreFixed("a", field, 3);
  EXPECT_EQ(std::string(field, 4), "a  x");
}

TEST(FixedText, TrimsBlanksOnly) {
  EXPECT_EQ(Trim("  a b \t "), "a b \t");
  EXPECT_EQ(TrimRight("   "), "");
  EXPECT_TRUE(IsBlank(""));
  EXPECT_TRUE(IsBlank("   "));
  EXPECT_FALSE(IsBlank(std::string_view(" \0 ", 3)));
}

TEST(FixedText, LeadingNumberReadsLikeVal) {
  struct Case {
    const char* text;
    long long value;
  } cases[] = {{"", 0}, {"12", 12}, {"  7x", 7}, {"-3", -3}, {"x5", 0}, {"+4", 4},
               {"99999999999999999999999", 9223372036854775807LL}};
  for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace kel
