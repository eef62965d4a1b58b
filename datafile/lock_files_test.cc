#include "datafile/lock_files.h"

#include "datafile/lock_files_test_fixture.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "platform/signals.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"
#include "tests/support/test_dir.h"

namespace kel::testing {
namespace {


TEST_F(LockFilesTest, LockClockCountsLocalMinutesWithTheSecondsRounded) {
  struct Case {
    LocalTime t;
    std::int32_t minutes;
  } cases[] = {
      {{1970, 1, 1, 0, 59, 59, 600}, 60},
      {{1970, 1, 1, 0, 59, 59, 400}, 59},
      {{1970, 1, 1, 0, 0, 29, 500}, 0},
      {{1970, 1, 1, 0, 0, 59, 500}, 1},
      {{1970, 1, 1, 23, 59, 59, 600}, 1440},
      {{1970, 1, 2, 0, 0, 0, 0}, 1440},
      {{2000, 2, 29, 12, 0, 0, 0}, 11016 * 1440 + 720},
      {{2000, 3, 1, 0, 0, 0, 0}, 11017 * 1440},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LockClockAt(c.t), c.minutes)
        << c.t.year << "-" << c.t.month << "-" << c.t.day << " " << c.t.hour << ":" << c.t.minute
        << ":" << c.t.second << "." << c.t.millisecond;
  }
  // Every day from 1900 to 2100 against the calendar of the clock seam.
  for (std::int64_t days = DaysFromCivil(1900, 3, 1); days < DaysFromCivil(2100, 1, 1); ++days) {
    LocalTime t;
    CivilFromDays(days, &t.year, &t.month, &t.day);
    ASSERT_EQ(LockClockAt(t), days * 1440) << t.year << "-" << t.month << "-" << t.day;
  }
}

TEST_F(LockFilesTest, TheStationIdentityIsKeptInTheTerminalDirectory) {
  const std::string station = Session().TempDir + "LOCKS.TMP";
  env_.SetComputerName("WORKSTATION-NUMBER-1");
  struct Case {
    const char* what;
    std::string stored;  // "-": no file
    bool kept;           // the stored identity is used
  } cases[] = {
      {"no file", "-", false},
      {"three bytes", "abc", false},
      {"number zero", std::string(4, '\0') + "PC-OLD         ", false},
      {"valid", std::string("\xD2\x04\x00\x00", 4) + "PC-OLD         ", true},
      {"longer than 19", std::string("\xD2\x04\x00\x00", 4) + "PC-OLD         XXXXXX", true},
  };
  for (const Case& c : cases) {
    ResetLockFiles();
    (void)DeleteFile(station);
    if (c.stored != "-") {
      File f;
      ASSERT_EQ(OpenFile(station, FileAccess::kWriteTruncate, FileShare::kShared, &f),
                FileResult::kOk);
      ASSERT_TRUE(f.WriteAt(0, c.stored.data(), c.stored.size()));
    }
    StationIdentity();
    const LockFileState& s = LockFiles();
    EXPECT_NE(s.StationNumber, 0) << c.what;
    const std::string now = Bytes(station);
    if (c.kept) {
      EXPECT_EQ(s.StationNumber, 1234) << c.what;
      EXPECT_EQ(s.StationName, "PC-OLD         ") << c.what;
      EXPECT_EQ(now, c.stored) << c.what << ": left as it was";
    } else {
      EXPECT_EQ(s.StationName, "WORKSTATION-NUM") << c.what;
      ASSERT_EQ(now.size(), 19u) << c.what;
      EXPECT_EQ(now.substr(4), s.StationName);
      const auto stored = static_cast<std::int32_t>(
          static_cast<std::uint8_t>(now[0]) | static_cast<std::uint8_t>(now[1]) << 8 |
          static_cast<std::uint8_t>(now[2]) << 16 |
          static_cast<std::uint32_t>(static_cast<std::uint8_t>(now[3])) << 24);
      EXPECT_EQ(stored, s.StationNumber) << c.what;
    }
  }
}

TEST_F(LockFilesTest, TwoStationsStartedInTheSameHundredthGetTwoIdentities) {
  // Same computer, same moment, two terminal directories: only the process
  // tells them apart, and the lock files must still see two stations.
  const std::string station = Session().TempDir + "LOCKS.TMP";
  std::int32_t numbers[2];
  for (int i = 0; i < 2; ++i) {
    ResetLockFiles();
    (void)DeleteFile(station);
    env_.SetNow(LocalTime{2026, 12, 8, 9, 30, 0, 0});
    env_.SetProcessId(4000 + i);
    StationIdentity();
    numbers[i] = LockFiles().StationNumber;
  }
  EXPECT_NE(numbers[0], numbers[1]);
}

TEST_F(LockFilesTest, OneRecordPerStationAndNameRewrittenOnRepeatAndFreedByUnlock) {
  StationIdentity();
  const LockFileState& s = LockFiles();
  EXPECT_EQ(LockFile("HConcept  "), 0);
  const std::string path = LockPath("HConcept");
  EXPECT_EQ(Bytes(path), Record(s.StationName, DecimalText(s.StationNumber), Now(), 'F'));
  env_.Advance(5 * 60000);
  EXPECT_EQ(LockFile("HConcept"), 0);
  std::string now = Bytes(path);
  ASSERT_EQ(now.size(), 121u) << "the same record, rewritten";
  EXPECT_EQ(now.substr(26, 8), FixedText(DecimalText(Now()), 8));
  EXPECT_EQ(UnlockFile(" hconcept "), 0);
  now = Bytes(path);
  EXPECT_EQ(now.substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(now[34], ' ');
  EXPECT_EQ(UnlockFile("HConcept"), -1);
  EXPECT_EQ(Bytes(path), now) << "nothing written without a lock";
  EXPECT_EQ(UnlockFile("NeverLocked"), -1);
}

TEST_F(LockFilesTest, StaleDamagedAndFreeRecordsAreReusedLiveOnesConflict) {
  SetLockWaitMode('s');
  StationIdentity();
  const std::string path = LockPath("N");
  const std::string other_k = Record("PC-B", "77", Now(), 'K', "B", "D");
  std::string garbage(121, '\x01');
  garbage.replace(15, 11, std::string(11, ' '));
  garbage[34] = 'F';
  std::string bad_time = Record("PC-B", "77", 0, 'F');
  bad_time.replace(26, 8, "ABCDEFGH");
  std::string bad_lengths = Record("PC-B", "77", Now(), 'K', "B", "D");
  bad_lengths.replace(35, 2, "99");
  bad_lengths.replace(77, 2, "-5");
  struct Case {
    const char* what;
    std::string before;
    const char* type;
    const char* start;
    const char* end;
    std::int16_t result;
    int slot;  // where our record lands (-1: nothing written)
  } cases[] = {
      {"31 minutes old", Record("PC-B", "77", Now() - 31, 'F'), "F", "", "", 0, 0},
      {"30 minutes old", Record("PC-B", "77", Now() - 30, 'F'), "F", "", "", -1, -1},
      {"a day ahead", Record("PC-B", "77", Now() + 1441, 'F'), "F", "", "", 0, 0},
      {"time not a number", bad_time, "F", "", "", 0, 0},
      {"type without a holder", garbage, "F", "", "", 0, 0},
      {"partial record at the end", other_k + "PARTIAL", "K", "E", "F", 0, 1},
      {"free record in the middle",
       other_k + Record("", "", 0, ' ') + Record("PC-C", "88", Now(), 'K', "M", "P"), "k", "X", "Z",
       0, 1},
      {"range below", other_k, "K", "0", "A", 0, 1},
      {"range above", other_k, "K", "E", "F", 0, 1},
      {"range overlapping the end", other_k, "K", "D", "Z", -1, -1},
      {"range inside", other_k, "K", "C", "C", -1, -1},
      {"whole file against a range", other_k, "F", "", "", -1, -1},
      {"range lengths out of bounds", bad_lengths, "K", "C", "C", 0, 1},
      {"unknown type", "", "X", "", "", -1, -1},
  };
  for (const Case& c : cases) {
    Write(path, c.before);
    EXPECT_EQ(LockRequest("N", c.type, c.start, c.end), c.result) << c.what;
    EXPECT_EQ(Screen().WindowDepth, 0) << c.what << ": mode S shows no notice";
    const std::string after = Bytes(path);
    if (c.slot < 0) {
      EXPECT_EQ(after, c.before) << c.what;
      continue;
    }
    ASSERT_GE(after.size(), 121u * (c.slot + 1)) << c.what;
    const std::string mine = after.substr(121 * c.slot, 121);
    EXPECT_EQ(mine.substr(0, 26), FixedText(LockFiles().StationName, 15) +
                                      FixedText(DecimalText(LockFiles().StationNumber), 11))
        << c.what;
    EXPECT_EQ(mine[34], AsciiUpper(c.type)[0]) << c.what;
    EXPECT_EQ(after.size() % 121, 0u) << c.what;
  }
}

// A reader that only wants to know whether a file is being converted looks
// at its lock file without changing it: no lock directory or file is made,
// stale records are not freed, key-range locks and free records do not
// count, and a lock file that a station holds open is waited for.
TEST_F(LockFilesTest, AWholeFileLockIsSeenWithoutTakingOrChangingAnything) {
  std::string holder = "old";
  EXPECT_FALSE(WholeFileLockHolder("HConcept", &holder));
  EXPECT_EQ(holder, "");
  EXPECT_FALSE(DirectoryExists(root() + "LOCKS")) << "no lock directory made";

  const std::string path = LockPath("HConcept");
  struct Case {
    const char* what;
    std::string records;
    bool held;
    const char* holder;
  } cases[] = {
      {"empty lock file", "", false, ""},
      {"another station's F", Record("PC-A", "77", Now(), 'F'), true, "PC-A"},
      {"a nameless station's F", Record("", "-12", Now() - 30, 'F'), true, "-12"},
      {"31 minutes old", Record("PC-A", "77", Now() - 31, 'F'), false, ""},
      {"a key range only", Record("PC-A", "77", Now(), 'K', "B", "D"), false, ""},
      {"a freed record, then an F", Record("", "", 0, ' ') + Record("PC-C", "88", Now(), 'F'), true,
       "PC-C"},
      {"partial record", Record("PC-A", "77", Now(), 'F').substr(0, 60), false, ""},
  };
  for (const Case& c : cases) {
    Write(path, c.records);
    EXPECT_EQ(WholeFileLockHolder("HConcept ", &holder), c.held) << c.what;
    EXPECT_EQ(holder, c.holder) << c.what;
    EXPECT_EQ(Bytes(path), c.records) << c.what << ": nothing written";
  }

  // A station that has the lock file open (to take or free its lock) makes
  // the look wait until it closes it.
  Write(path, Record("PC-A", "77", Now(), 'F'));
  struct Busy {
    File held;
    int sleeps = 0;
  } busy;
  ASSERT_TRUE(OpenLockFile(root() + "LOCKS", "HConcept.lck", &busy.held));
  env_.OnSleep(
      [](void* context) {
        auto* b = static_cast<Busy*>(context);
        if (++b->sleeps == 2) b->held.Close();
      },
      &busy);
  EXPECT_TRUE(WholeFileLockHolder("HConcept", &holder));
  env_.OnSleep(nullptr, nullptr);
  EXPECT_EQ(busy.sleeps, 2);
  EXPECT_EQ(holder, "PC-A");
  EXPECT_EQ(LockFiles().StationNumber, 0) << "no station identity made";
}

TEST_F(LockFilesTest, TheEscapeModeLetsTheOperatorGiveUp) {
  SetSessionLanguage("SPA");
  SetLockWaitMode('p');
  Write(LockPath("N"), Record("PC-B", "77", Now(), 'F'));
  struct Watch {
    MemoryConsole* con = nullptr;
    bool notice = false;
  } watch;
  watch.con = &con();
  env_.OnSleep(
      [](void* context) {
        auto* w = static_cast<Watch*>(context);
        w->notice = Screenful().find(
                        "FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA "
                        "SALIR.") != std::string::npos;
        w->con->QueueKey(keys::kEsc);
      },
      &watch);
  EXPECT_EQ(LockFile("N"), -1);
  env_.OnSleep(nullptr, nullptr);
  EXPECT_TRUE(watch.notice);
  EXPECT_EQ(Screen().WindowDepth, 0);
}


}  // namespace
}  // namespace kel::testing

namespace kel::testing {
namespace {

// A lock that cannot be had says why: the lock file's name and the system's
// reason, for the caller to show. A termination signal ends the wait for
// another station's lock at once.
TEST_F(LockFilesTest, ALockThatCannotBeHadSaysWhy) {
  (void)MakeDirectory(root() + "LOCKS");
  ASSERT_TRUE(MakeDirectory(LockPath("Dir")));
  EXPECT_EQ(LockFile("Dir"), -1);
  EXPECT_EQ(LockFiles().LastProblem, "LOCKS\\Dir.lck: a directory stands in its place");
  EXPECT_EQ(UnlockFile("Dir"), -1);
  EXPECT_EQ(LockFiles().LastProblem, "LOCKS\\DIR.lck: a directory stands in its place");

  EXPECT_EQ(LockFile("Free"), 0);
  EXPECT_EQ(LockFiles().LastProblem, "");
  EXPECT_EQ(UnlockFile("Free"), 0);

  Write(LockPath("Held"), Record("OTHER", "4711", Now(), 'F'));
  SetTerminationSignalForTesting(15);
  const int sleeps = env_.sleeps();
  EXPECT_EQ(LockFile("Held"), -1);
  SetTerminationSignalForTesting(0);
  EXPECT_EQ(LockFiles().LastProblem,
            "LOCKS\\Held.lck: the wait for another station's lock was interrupted");
  EXPECT_LE(env_.sleeps() - sleeps, 1) << "no wait after the signal";
  EXPECT_EQ(Screen().WindowDepth, 0) << "the notice is gone";
}

}  // namespace
}  // namespace kel::testing
