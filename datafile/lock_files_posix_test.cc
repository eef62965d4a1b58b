// Lock files against another station in a forked process: POSIX only, left
// out of the Windows build (lock_files_processes_test.cc runs two stations
// as two processes on every system).
#include <cstdlib>
#include <string>

#include "datafile/lock_files_test_fixture.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"

namespace kel::testing {
namespace {

// Two stations of one installation: B waits, with the notice shown once,
// until A lets the file go.
TEST_F(LockFilesTest, AWholeFileLockExcludesAnotherStationUntilItIsReleased) {
  const std::string other_temp = MakeTestDirectory("kel-station");
  ASSERT_FALSE(other_temp.empty());
  Peer station_a([&](Peer& p) {
    Session().TempDir = std::string(other_temp) + "\\";
    ResetLockFiles();
    env_.SetComputerName("PC-A");
    p.Receive();
    p.Send(DecimalText(LockFile("HConcept")));
    p.Receive();
    p.Send(DecimalText(UnlockFile("HConcept")));
    p.Receive();
  });
  env_.SetComputerName("PC-B");
  ASSERT_EQ(station_a.Ask("lock"), "0");
  struct Watch {
    Peer* a = nullptr;
    std::vector<int> depths;
    bool notice = false;
  } watch;
  watch.a = &station_a;
  env_.OnSleep(
      [](void* context) {
        auto* w = static_cast<Watch*>(context);
        w->depths.push_back(Screen().WindowDepth);
        w->notice = w->notice ||
                    Screenful().find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos;
        if (w->depths.size() == 3) w->a->Ask("unlock");
      },
      &watch);
  EXPECT_EQ(LockFile("HConcept"), 0);
  env_.OnSleep(nullptr, nullptr);
  EXPECT_EQ(watch.depths, (std::vector<int>{1, 1, 1})) << "one notice through every pause";
  EXPECT_TRUE(watch.notice);
  EXPECT_EQ(Screen().WindowDepth, 0);
  const std::string now = Bytes(LockPath("HConcept"));
  ASSERT_EQ(now.size(), 121u) << "A's freed record is reused";
  EXPECT_EQ(now.substr(0, 15), FixedText("PC-B", 15));
  station_a.Send("exit");
  std::system((std::string("rm -rf '") + other_temp + "'").c_str());
}

}  // namespace
}  // namespace kel::testing
