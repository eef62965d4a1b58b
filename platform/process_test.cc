#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"

namespace kel {
namespace {

TEST(SplitCommandLineTest, BlanksSeparateAndQuotesGroup) {
  using V = std::vector<std::string>;
  const struct {
    const char* line;
    V words;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"C:\\CMD.EXE /C VOPRUN AJUDA\\X.HTM", {"C:\\CMD.EXE", "/C", "VOPRUN", "AJUDA\\X.HTM"}},
      {"  a \t b  ", {"a", "b"}},
      {"\"C:\\Program Files\\cmd.exe\" /C x", {"C:\\Program Files\\cmd.exe", "/C", "x"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x", {"", "x"}},
      // Shell characters are plain text: nothing interprets them.
      {"a;rm -rf $HOME|b", {"a;rm", "-rf", "$HOME|b"}},
      {"\"unterminated quote", {"unterminated quote"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

}  // namespace
}  // namespace kel
