// Two stations of one installation as two processes, on every system: the
// other station (this test program run again) holds a whole-file lock in
// the shared LOCKS folder; this one waits, with the notice on row 24,
// until the other lets go, and then takes the freed record.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "datafile/lock_files_test_fixture.h"
#include "screen/screen_buffer.h"
#include "tests/support/child_process.h"
#include "util/session_context.h"

namespace kel::testing {
namespace {

// The other station: its own terminal folder and computer name, the same
// installation and the same (fake) clock as the test.
TEST(LockStationChild, HoldsAWholeFileLock) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  const std::string signals = TestArgument("kel-signals");
  FakeEnv env;
  env.SetComputerName("PC-A");
  env.SetProcessId(4242);
  env.Advance(12345);  // another moment: another station number
  ScopedEnv scoped(&env);
  UseMemoryConsole();
  Session().InstallRoot = TestArgument("kel-root") + "\\";
  Session().TempDir = TestArgument("kel-temp") + "\\";
  ResetLockFiles();
  if (LockFile("HConcept") != 0) std::exit(3);
  if (!Signal(signals + "/locked")) std::exit(4);
  if (!AwaitFile(signals + "/release")) std::exit(5);
  std::exit(UnlockFile("HConcept") == 0 ? 0 : 6);
}

TEST_F(LockFilesTest, AnotherProcessesWholeFileLockIsWaitedForUntilReleased) {
  const std::string station = MakeTestDirectory("kel-station");
  const std::string signals = MakeTestDirectory("kel-signals");
  ASSERT_FALSE(station.empty());
  ASSERT_FALSE(signals.empty());
  std::string installation = root();
  installation.pop_back();  // without its final "\"
  env_.SetComputerName("PC-B");
  int code = -1;
  std::thread other([&] {
    code = RunChildTest("LockStationChild.HoldsAWholeFileLock",
                        {"--kel-root=" + installation, "--kel-temp=" + station, "--kel-signals=" + signals});
  });
  ASSERT_TRUE(AwaitFile(signals + "/locked"));
  const std::string held = Bytes(LockPath("HConcept"));
  ASSERT_EQ(held.size(), kLockRecordSize);
  EXPECT_EQ(held.substr(0, 15), FixedText("PC-A", 15));

  // The first pause of this station's wait tells the other to let go; the
  // wait goes on, with the notice, until the record is free.
  struct Watch {
    std::string release;
    int sleeps = 0;
    bool notice = false;
  } watch{signals + "/release"};
  env_.OnSleep(
      [](void* context) {
        auto* w = static_cast<Watch*>(context);
        if (++w->sleeps == 1) (void)Signal(w->release);
        w->notice = w->notice ||
                    Screenful().find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos;
        // The fake clock does not wait: give the other process real time.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      },
      &watch);
  EXPECT_EQ(LockFile("HConcept"), 0);
  env_.OnSleep(nullptr, nullptr);
  other.join();
  EXPECT_EQ(code, 0);
  EXPECT_GE(watch.sleeps, 1) << "this station did not wait";
  EXPECT_TRUE(watch.notice);
  EXPECT_EQ(Screen().WindowDepth, 0);
  const std::string now = Bytes(LockPath("HConcept"));
  ASSERT_EQ(now.size(), kLockRecordSize) << "the other's freed record is reused";
  EXPECT_EQ(now.substr(0, 15), FixedText("PC-B", 15));
  EXPECT_EQ(UnlockFile("HConcept"), 0);
  std::error_code ec;
  std::filesystem::remove_all(station, ec);
  std::filesystem::remove_all(signals, ec);
}

}  // namespace
}  // namespace kel::testing
