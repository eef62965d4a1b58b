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

}  // namespace
}  // namespace kel
