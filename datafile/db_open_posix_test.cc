// Opening data files against another process (fork) and a plain console on
// a descriptor: POSIX only, left out of the Windows build.
#include <fcntl.h>
#include <unistd.h>

#include "datafile/db_open_test_fixture.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"

namespace kel::testing {
namespace {

TEST_F(DbOpenTest, AnUnattendedRunLogsTheMessageAndExitsThreeWithoutWaitingForAKey) {
  SetProgramExitHook(nullptr);
  const std::string log = install_ + "/plain.out";
  std::int16_t st = 0;
  EXPECT_EXIT(
      {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        UseConsole(OpenPlainConsole(fd, fd));
        DbOpen(1, root() + "X", area_, sizeof area_, &st);
      },
      ::testing::ExitedWithCode(kExitOpenFailure), "");
  std::string out;
  ASSERT_TRUE(ReadWholeFile(log, &out));
  EXPECT_NE(out.find("NO ES POT ACCEDIR AL FITXER " + root() + "X ("), std::string::npos) << out;
  EXPECT_EQ(out.find("waits for a key"), std::string::npos) << out;
}

TEST_F(DbOpenTest, AFileHeldExclusivelyElsewhereIsWaitedForInThreeSecondSteps) {
  Peer peer([this](Peer& p) {
    p.Receive();
    RawOpen exclusive(root() + "T.dat", kOpenExclusive);
    p.Send(DecimalText(exclusive.status()));
    p.Receive();
    p.Send(DecimalText(exclusive.Close()));
    p.Receive();
  });
  ASSERT_EQ(CreateFile(root() + "T.dat", SampleSpec()), kStatusOk);
  ASSERT_EQ(peer.Ask("open"), "0");
  struct Waiting {
    Peer* peer = nullptr;
    int sleeps = 0;
  } waiting;
  waiting.peer = &peer;
  env_.OnSleep(
      [](void* context) {
        auto* w = static_cast<Waiting*>(context);
        if (++w->sleeps == 3) w->peer->Ask("close");
      },
      &waiting);
  std::int16_t st = -1;
  DbOpen(1, root() + "T", area_, sizeof area_, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(env_.sleeps(), 3);
  EXPECT_EQ(env_.slept_ms(), 9000);
  EXPECT_EQ(Screen().WindowDepth, 0) << "the wait is silent";
  env_.OnSleep(nullptr, nullptr);
  peer.Send("exit");
}

}  // namespace
}  // namespace kel::testing
