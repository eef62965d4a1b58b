// Two processes appending lines to one file at once, each line opened,
// appended and closed as the operation log does: every line arrives whole.
// On every system (the other process is this test program run again).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/support/child_process.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

constexpr int kLines = 1500;

std::string Line(char who, int n) {
  std::string digits = std::to_string(n);
  return std::string(1, who) + std::string(6 - digits.size(), '0') + digits + "\r\n";
}

bool AppendLines(const std::string& path, char who) {
  for (int n = 0; n < kLines; ++n) {
    File log;
    if (OpenFile(path, FileAccess::kAppend, FileShare::kShared, &log) != FileResult::kOk ||
        !log.Append(Line(who, n))) {
      return false;
    }
  }
  return true;
}

TEST(AppendChild, AppendsItsLines) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  if (!AwaitFile(TestArgument("kel-start"))) std::exit(2);
  std::exit(AppendLines(TestArgument("kel-path"), 'B') ? 0 : 1);
}

TEST(AppendProcessesTest, TwoProcessesAppendingAtOnceLoseNoLine) {
  const std::string dir = MakeTestDirectory("kel-append");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/db.log";
  const std::string start = dir + "/start";
  int code = -1;
  std::thread other([&] {
    code =
        RunChildTest("AppendChild.AppendsItsLines", {"--kel-path=" + path, "--kel-start=" + start});
  });
  ASSERT_TRUE(Signal(start));
  const bool appended = AppendLines(path, 'A');
  other.join();
  EXPECT_TRUE(appended);
  EXPECT_EQ(code, 0);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes.size(), 2u * kLines * Line('A', 0).size()) << "lines lost or torn";
  int a = 0, b = 0;
  for (std::size_t at = 0; at + 9 <= bytes.size(); at += 9) {
    a += bytes[at] == 'A';
    b += bytes[at] == 'B';
  }
  EXPECT_EQ(a, kLines);
  EXPECT_EQ(b, kLines);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace kel
