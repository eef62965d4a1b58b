#include "util/cp850.h"

#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

TEST(Cp850, RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(all)), all);
}

TEST(Cp850, KnownCharactersAndFallback) {
  EXPECT_EQ(Cp850ToUtf8("\xC9\xCD\xBB"), "╔═╗");
  EXPECT_EQ(Cp850ToUtf8("\xD2\xC8"), "Ê╚");
  EXPECT_EQ(Utf8ToCp850("ça €"), "\x87\x61 ?");
  EXPECT_EQ(Utf8ToCp850("x\xFFy", '#'), "x#y");  // malformed byte
  EXPECT_EQ(Utf8ToCp850("\xE2\x82"), "??");      // truncated sequence
}

// The letters that have both cases in the code page fold both ways (the
// family's file systems fold names so); everything else stays.
TEST(Cp850, LetterCaseOfTheCodePage) {
  struct Case {
    std::uint8_t small, capital;
  } pairs[] = {{'a', 'A'}, {'z', 'Z'}, {0xA4, 0xA5} /* n-tilde */, {0x87, 0x80} /* c-cedilla */,
               {0x82, 0x90} /* e-acute */, {0x8A, 0xD4} /* e-grave */, {0x81, 0x9A} /* u-uml */,
               {0xA2, 0xE0} /* o-acute */, {0xEC, 0xED} /* y-acute */};
  for (const Case& c : pairs) {
    EXPECT_EQ(Cp850ToLower(c.capital), c.small) << int{c.capital};
    EXPECT_EQ(Cp850ToUpper(c.small), c.capital) << int{c.small};
    EXPECT_EQ(Cp850ToLower(c.small), c.small);
    EXPECT_EQ(Cp850ToUpper(c.capital), c.capital);
  }
  // No capital in the code page: sharp s, y-diaeresis, dotless i; no letters.
  for (int b : {0xE1, 0x98, 0xD5, int{'0'}, int{' '}, int{'@'}, int{'['}, 0xC9, 0xFF}) {
    const auto byte = static_cast<std::uint8_t>(b);
    EXPECT_EQ(Cp850ToLower(byte), byte) << b;
    EXPECT_EQ(Cp850ToUpper(byte), byte) << b;
  }
}

}  // namespace
}  // namespace kel
