// The code page 850 table against the C library's converter (glibc's iconv,
// a POSIX interface: this file is left out of the Windows build).
#include <iconv.h>

#include <string>

#include "gtest/gtest.h"
#include "util/cp850.h"

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

}  // namespace
}  // namespace kel
