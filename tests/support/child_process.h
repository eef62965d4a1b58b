// Tests of two processes on every system: the test program runs itself
// again as another process (the platform's RunCommandLine, the same way
// on POSIX and on Windows) with only one of its tests, which acts as the
// other station. Such a child test reads its orders from the command line
// and skips itself when it was not started as a child.
//
//   TEST(IniChild, Writer) {
//     if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
//     ... TestArgument("kel-dir") ...
//     std::exit(ok ? 0 : 1);
//   }
//   std::thread t([&] { code = RunChildTest("IniChild.Writer", {"--kel-dir=" + dir}); });
#ifndef KEL_TESTS_SUPPORT_CHILD_PROCESS_H_
#define KEL_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"

namespace kel {

// The folder the test program started in, taken before any test changes
// the current directory: the program's own name may be relative to it.
inline const std::filesystem::path kTestStartFolder = std::filesystem::current_path();

// The value of "--NAME=VALUE" on this process's command line; "" when
// absent.
inline std::string TestArgument(std::string_view name) {
  const std::string prefix = "--" + std::string(name) + "=";
  for (const std::string& a : ::testing::internal::GetArgvs()) {
    if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
  }
  return "";
}

// True in a process that RunChildTest started.
inline bool IsChildTest() { return TestArgument("kel-child") == "1"; }

// Runs this test program with only `test` (Suite.Name) and `arguments`
// (each "--name=value"; a value may hold blanks and backslashes, but no
// double quote and no final backslash), waits for it and returns its exit
// code; -1 when it could not be started.
inline int RunChildTest(std::string_view test, const std::vector<std::string>& arguments) {
  const std::string program =
      (kTestStartFolder / ::testing::internal::GetArgvs()[0]).lexically_normal().string();
  std::string line = "\"" + program + "\" --gtest_filter=" + std::string(test) + " --kel-child=1";
  for (const std::string& a : arguments) line += " \"" + a + "\"";
  return RunCommandLine(line);
}

// Waits until `path` exists, at most `limit_ms`; false when it never came.
// Only a guard against a hang: the waits of these tests end on a file.
inline bool AwaitFile(const std::string& path, int limit_ms = 60000) {
  for (int waited = 0; waited < limit_ms; waited += 5) {
    if (FileExists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Makes the (empty) file `path`: a signal to the other process.
inline bool Signal(const std::string& path) {
  File f;
  return OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &f) == FileResult::kOk;
}

}  // namespace kel

#endif  // KEL_TESTS_SUPPORT_CHILD_PROCESS_H_
