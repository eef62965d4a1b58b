// Two programs rewriting one configuration file at the same moment, as two
// stations of an office do when both record a language: two processes of
// this test program, on every system (POSIX and Windows).
#include <cstdlib>
#include <string>
#include <thread>

#include "startup/ini_file_test_support.h"
#include "tests/support/child_process.h"

namespace kel {
namespace {

// The other station: adds its forty keys and rewrites one shared key forty
// times, starting when the parent says so.
TEST(IniWriterChild, AddsItsKeys) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  const std::string path = TestArgument("kel-path");
  const std::string who = TestArgument("kel-who");
  if (!AwaitFile(TestArgument("kel-start"))) std::exit(2);
  bool ok = true;
  for (int k = 0; k < 40; ++k) {
    const std::string key = who + std::to_string(k);
    ok &= IniWrite(path, "Usuari", key, "valor" + key) == IniWriteResult::kOk;
    ok &= IniWrite(path, "Comuna", "Qui", key) == IniWriteResult::kOk;
  }
  std::exit(ok ? 0 : 1);
}

TEST_F(IniFileTest, TwoProcessesRewritingAtOnceKeepEachOthersKeys) {
  Put(kCat);
  const std::string start = dir_ + "/start";
  int codes[2] = {-1, -1};
  std::thread writers[2];
  for (int i = 0; i < 2; ++i) {
    writers[i] = std::thread([&, i] {
      codes[i] = RunChildTest("IniWriterChild.AddsItsKeys",
                              {"--kel-path=" + Path(), std::string("--kel-who=") + "AB"[i],
                               "--kel-start=" + start});
    });
  }
  ASSERT_TRUE(Signal(start));
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(codes[0], 0);
  EXPECT_EQ(codes[1], 0);
  for (char c : {'A', 'B'}) {
    for (int k = 0; k < 40; ++k) {
      const std::string key = c + std::to_string(k);
      EXPECT_EQ(IniRead(Path(), "Usuari", key), "valor" + key);
    }
  }
  EXPECT_EQ(IniRead(Path(), "Usuari", "Idioma"), "CAT");
  const std::string last = IniRead(Path(), "Comuna", "Qui");
  EXPECT_TRUE(last == "A39" || last == "B39") << last;
  EXPECT_EQ(Temporaries(), 0);
  const std::string bytes = Contents();
  EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1) << "lines end in CR LF";
}

}  // namespace
}  // namespace kel
