#include "util/cp850.h"

#include <iconv.h>

#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

// The table must agree with glibc's own CP850 converter for every byte.
TEST(Cp850, EveryByteMatchesIconv) {
  iconv_t cd = iconv_open("UTF-8", "CP850");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int b = 0; b < 256; ++b) {
    char in[1] = {static_cast<char>(b)};
    char out[8] = {};
    char* in_ptr = in;
    char* out_ptr = out;
    size_t in_left = 1, out_left = sizeof out;
    ASSERT_NE(iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<size_t>(-1)) << b;
    std::string expected(out, sizeof out - out_left);
    EXPECT_EQ(Cp850ToUtf8(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
  }
  iconv_close(cd);
}

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
