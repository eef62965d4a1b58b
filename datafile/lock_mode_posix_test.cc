// A record locked by another process (fork) and waited out: POSIX only,
// left out of the Windows build.
#include <cstring>

#include "datafile/lock_mode_test_fixture.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"

namespace kel::testing {
namespace {

// The record "B" locked by another process: modes 0 and 2 get 84 at once,
// mode 1 waits with one notice until the other lets the record go.
TEST_F(LockModeTest, ALockedRecordIsWaitedOutInModeOneOnlyWithOneNotice) {
  Peer peer([this](Peer& p) {
    p.Receive();
    RawOpen h(root() + "L.dat");
    std::string data(8, ' ');
    p.Send(DecimalText(h.Call(kOpGetEqual + kLockSingleNoWait, &data, "B")));
    p.Receive();
    p.Send(DecimalText(h.Close()));
    p.Receive();
  });
  OpenAs(1, MakeLetters("L", {Rec("A"), Rec("B"), Rec("C")}));
  ASSERT_EQ(peer.Ask("lock"), "0");
  std::int16_t st = 0;
  DbLockMode(1, "b", &st);
  DbFind(1, 0, "B", 0, &st);
  EXPECT_EQ(st, kStatusRecordLocked) << "mode 2";
  DbLockMode(1, "d", &st);
  DbFind(1, 0, "B", 0, &st);
  EXPECT_EQ(st, kStatusOk) << "mode 0 reads without a lock";
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusRecordLocked) << "mode 0";
  EXPECT_EQ(env_.sleeps(), 0);

  struct Watch {
    Peer* peer = nullptr;
    std::vector<int> depths;
    bool notice_seen = false;
  } watch;
  watch.peer = &peer;
  env_.OnSleep(
      [](void* context) {
        auto* w = static_cast<Watch*>(context);
        w->depths.push_back(Screen().WindowDepth);
        std::string screen;
        for (int r = 1; r <= 25; ++r) screen += ScreenRowText(static_cast<std::int16_t>(r));
        if (screen.find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos) {
          w->notice_seen = true;
        }
        if (w->depths.size() == 3) w->peer->Ask("release");
      },
      &watch);
  env_.QueueRandom(0.0);
  env_.QueueRandom(0.99999);
  env_.QueueRandom(0.5);
  DbLockMode(1, "a", &st);
  std::memset(area_, 0, sizeof area_);
  DbFind(1, 0, "B", 0, &st);
  env_.OnSleep(nullptr, nullptr);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area_, 8), Rec("B"));
  EXPECT_EQ(env_.slept_ms(), 1 + 10001 + 5001);
  // The notice comes after the first pause and stays, one box only.
  EXPECT_EQ(watch.depths, (std::vector<int>{0, 1, 1}));
  EXPECT_TRUE(watch.notice_seen);
  EXPECT_EQ(Screen().WindowDepth, 0) << "the notice is gone once the record is read";
  peer.Send("exit");
}

}  // namespace
}  // namespace kel::testing
