// The operations through the entry point: statuses, currency, persistence.
#include "recman/recman.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/file_spec.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 32;

// Key 0: bytes 1-4, unique, not modifiable. Key 1: bytes 5-8, duplicates,
// modifiable.
CreateSpec TwoKeys() {
  CreateSpec s;
  s.record_length = kLen;
  s.keys = {{Segment{1, 4, 0}}, {Segment{5, 4, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  return s;
}

std::string R(const std::string& k0, const std::string& k1, const std::string& rest = "") {
  return Rec(Rec(k0, 4) + Rec(k1, 4) + rest, kLen);
}

class RecmanTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == testing::Backend::kServer && testing::TestServer().empty()) {
      GTEST_SKIP() << "no PostgreSQL server for the tests (KEL_TEST_PG)";
    }
    scope_.emplace(GetParam(), dir_.path());
    path_ = dir_.File("x.dat");
    ASSERT_EQ(testing::CreateFile(path_, TwoKeys()), kStatusOk);
    ASSERT_EQ(h_.Open(path_), kStatusOk);
  }
  void Fill(std::initializer_list<std::pair<const char*, const char*>> rows) {
    for (auto [a, b] : rows) ASSERT_EQ(h_.Insert(R(a, b)), kStatusOk) << a;
  }
  std::string K0() const { return h_.record().substr(0, 4); }
  bool OnSqlite() const { return GetParam() == testing::Backend::kSqlite; }

  TempDir dir_;
  std::optional<testing::BackendScope> scope_;
  std::string path_;
  Handle h_;
};

TEST_P(RecmanTest, RecordsRoundTripByteForByteAndSurviveReopen) {
  std::string binary(kLen, '\0');
  for (int i = 0; i < kLen; ++i) binary[i] = static_cast<char>(i * 37 + 1);
  binary.replace(0, 4, "B001");
  ASSERT_EQ(h_.Insert(binary), kStatusOk);
  ASSERT_EQ(h_.Insert(R("A001", "x", "\r\n\x1a\xff")), kStatusOk);
  ASSERT_EQ(h_.Close(), kStatusOk);
  Handle again;
  ASSERT_EQ(again.Open(path_), kStatusOk);
  ASSERT_EQ(again.Get(kOpGetEqual, "B001"), kStatusOk);
  EXPECT_EQ(again.record(), binary);
  EXPECT_EQ(again.key(4), "B001");
  ASSERT_EQ(again.Get(kOpGetFirst, ""), kStatusOk);
  EXPECT_EQ(again.record(), R("A001", "x", "\r\n\x1a\xff"));
}

TEST_P(RecmanTest, CreateRefusesOrReplacesExistingFiles) {
  Fill({{"A", "1"}});
  EXPECT_EQ(testing::CreateFile(path_, TwoKeys(), kCreateNoReplace), kStatusFileAlreadyExists);
  // Open here: replacing is refused.
  EXPECT_EQ(testing::CreateFile(path_, TwoKeys(), kCreateReplace), kStatusFileInUse);
  ASSERT_EQ(h_.Close(), kStatusOk);
  EXPECT_EQ(testing::CreateFile(path_, TwoKeys(), kCreateReplace), kStatusOk);
  ASSERT_EQ(h_.Open(path_), kStatusOk);
  EXPECT_EQ(h_.Get(kOpGetFirst, ""), kStatusEndOfFile);
  EXPECT_EQ(testing::CreateFile("", TwoKeys()), kStatusInvalidFileName);
  if (OnSqlite()) {
    EXPECT_EQ(testing::CreateFile(dir_.File("no/such/dir/y.dat"), TwoKeys()), kStatusFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".kel-new"));
  }
}

TEST_P(RecmanTest, OpenRefusesWhatIsNotADataFileAndLeavesItAlone) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"text.dat", "just some text\r\n"},
      {"empty.dat", ""},
      {"zeros.dat", std::string(8192, '\0')},
  };
  for (const Case& c : cases) {
    if (!OnSqlite()) break;  // a server holds no foreign files
    std::string p = dir_.File(c.name);
    std::ofstream(p, std::ios::binary) << c.bytes;
    Handle h;
    EXPECT_EQ(h.Open(p), kStatusNotADataFile) << c.name;
    std::ifstream in(p, std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, c.bytes) << c.name;
    EXPECT_FALSE(std::filesystem::exists(p + "-wal")) << c.name;
  }
  Handle h;
  EXPECT_EQ(h.Open(dir_.File("missing.dat")), kStatusFileNotFound);
  EXPECT_EQ(h.Open(""), kStatusInvalidFileName);
  EXPECT_EQ(h.Open(path_, 3), kStatusIncompatibleMode);
  EXPECT_EQ(h.Open(path_, -5), kStatusIncompatibleMode);
}

TEST_P(RecmanTest, WindowsSpellingFindsTheFile) {
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("Taules")));
  std::string windows = dir_.path() + "\\Taules\\UPaisos.dat";
  ASSERT_EQ(testing::CreateFile(windows, TwoKeys()), kStatusOk);
  if (OnSqlite()) {
    EXPECT_TRUE(std::filesystem::exists(dir_.File("Taules/UPaisos.dat")));
  }
  Handle h;
  ASSERT_EQ(h.Open(dir_.path() + "\\TAULES\\upaisos.DAT"), kStatusOk);
  ASSERT_EQ(h.Insert(R("A", "1")), kStatusOk);
  Handle other;  // another spelling of the same file shares its work at once
  ASSERT_EQ(other.Open(dir_.path() + "\\taules\\UPAISOS.dat"), kStatusOk);
  EXPECT_EQ(other.Get(kOpGetEqual, "A   "), kStatusOk);
}

TEST_P(RecmanTest, ForeignOrStalePositionBlocksGiveThree) {
  std::uint8_t garbage[kPositionBlockSize];
  std::memset(garbage, 0x5A, sizeof garbage);
  std::uint8_t blanks[kPositionBlockSize];
  std::memset(blanks, ' ', sizeof blanks);
  char data[64];
  std::uint32_t len = sizeof data;
  EXPECT_EQ(BTRCALL(kOpGetFirst, garbage, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
  EXPECT_EQ(BTRCALL(kOpGetFirst, blanks, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
  EXPECT_EQ(BTRCALL(kOpStat, nullptr, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
  // A copy of a block that was then closed, and the closed block itself.
  std::uint8_t copy[kPositionBlockSize];
  std::memcpy(copy, h_.block(), sizeof copy);
  ASSERT_EQ(h_.Close(), kStatusOk);
  EXPECT_EQ(BTRCALL(kOpGetFirst, copy, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
  EXPECT_EQ(h_.Close(), kStatusFileNotOpen);
  // The slot, reused by a new open, does not revive the copy.
  Handle h2;
  ASSERT_EQ(h2.Open(path_), kStatusOk);
  EXPECT_EQ(BTRCALL(kOpGetFirst, copy, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
  // One changed byte of a live block.
  std::memcpy(copy, h2.block(), sizeof copy);
  copy[9] ^= 1;
  EXPECT_EQ(BTRCALL(kOpGetFirst, copy, data, &len, nullptr, 0, 0), kStatusFileNotOpen);
}

TEST_P(RecmanTest, NextAfterOpenStartsAtTheEdgesOfTheKey) {
  Fill({{"B", "2"}, {"A", "3"}, {"C", "1"}});
  Handle h;
  ASSERT_EQ(h.Open(path_), kStatusOk);
  ASSERT_EQ(h.Get(kOpGetNext, "", 0), kStatusOk);
  EXPECT_EQ(h.record().substr(0, 1), "A");
  Handle h2;
  ASSERT_EQ(h2.Open(path_), kStatusOk);
  ASSERT_EQ(h2.Get(kOpGetPrevious, "", 1), kStatusOk);
  EXPECT_EQ(h2.record().substr(4, 1), "3");
  std::uint32_t pos = 0;
  Handle h3;
  ASSERT_EQ(h3.Open(path_), kStatusOk);
  EXPECT_EQ(h3.Position(&pos), kStatusInvalidPositioning);
  EXPECT_EQ(h3.Update(R("A", "9")), kStatusInvalidPositioning);
  EXPECT_EQ(h3.Delete(), kStatusInvalidPositioning);
}

TEST_P(RecmanTest, CurrencyRulesOfTheGetOperations) {
  Fill({{"A", "1"}, {"C", "1"}, {"E", "2"}});
  struct Step {
    std::int16_t op;
    const char* search;
    int key;
    std::int16_t status;
    const char* k0;  // record's key 0 afterwards, when status 0
  } steps[] = {
      {kOpGetEqual, "C   ", 0, kStatusOk, "C"},
      {kOpGetNext, "", 0, kStatusOk, "E"},
      {kOpGetNext, "", 0, kStatusEndOfFile, nullptr},
      {kOpGetPrevious, "", 0, kStatusOk, "E"},  // past the end, then back
      {kOpGetNext, "", 1, kStatusDifferentKeyNumber, nullptr},
      {kOpGetEqual, "B   ", 0, kStatusKeyNotFound, nullptr},
      {kOpGetNext, "", 0, kStatusOk, "C"},  // from where B would be
      {kOpGetEqual, "D   ", 0, kStatusKeyNotFound, nullptr},
      {kOpGetPrevious, "", 0, kStatusOk, "C"},
      {kOpGetGreater, "E   ", 0, kStatusEndOfFile, nullptr},
      {kOpGetPrevious, "", 0, kStatusOk, "E"},
      {kOpGetLess, "A   ", 0, kStatusEndOfFile, nullptr},
      {kOpGetNext, "", 0, kStatusOk, "A"},
      {kOpGetGreaterOrEqual, "B   ", 0, kStatusOk, "C"},
      {kOpGetLessOrEqual, "D   ", 0, kStatusOk, "C"},
      {kOpGetGreater, "C   ", 0, kStatusOk, "E"},
      {kOpGetLess, "C   ", 0, kStatusOk, "A"},
      {kOpGetLast, "", 0, kStatusOk, "E"},
      {kOpGetFirst, "", 0, kStatusOk, "A"},
      {kOpStepNext, "", 0, kStatusOk, "C"},  // physical order = insertion order here
      {kOpGetNext, "", 0, kStatusInvalidPositioning, nullptr},
      {kOpGetEqual, "A   ", 7, kStatusInvalidKeyNumber, nullptr},
      {kOpGetFirst, "", -1, kStatusInvalidKeyNumber, nullptr},
  };
  int i = 0;
  for (const Step& s : steps) {
    std::int16_t st = s.op == kOpStepNext ? h_.Step(s.op) : h_.Get(s.op, s.search, s.key);
    EXPECT_EQ(st, s.status) << "step " << i << " op " << s.op << " '" << s.search << "'";
    if (s.k0 != nullptr && st == kStatusOk) {
      EXPECT_EQ(K0(), Rec(s.k0, 4)) << "step " << i;
    }
    ++i;
  }
}

TEST_P(RecmanTest, UpdateReseatsOnTheNewKeyAndDeleteKeepsThePlace) {
  Fill({{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}});
  // Move B's duplicate key past D: Get Next continues after the new place.
  ASSERT_EQ(h_.Get(kOpGetEqual, "2   ", 1), kStatusOk);
  ASSERT_EQ(h_.Update(R("B", "9"), 1), kStatusOk);
  EXPECT_EQ(h_.Get(kOpGetNext, "", 1), kStatusEndOfFile);
  ASSERT_EQ(h_.Get(kOpGetPrevious, "", 1), kStatusOk);
  EXPECT_EQ(K0(), "B   ");
  ASSERT_EQ(h_.Get(kOpGetPrevious, "", 1), kStatusOk);
  EXPECT_EQ(K0(), "D   ");
  // The key path is key 1: an Update naming key 0 is refused.
  EXPECT_EQ(h_.Update(R("D", "4", "x"), 0), kStatusDifferentKeyNumber);
  // Delete C: no current record any more, but Next / Previous go on.
  ASSERT_EQ(h_.Get(kOpGetEqual, "C   ", 0), kStatusOk);
  ASSERT_EQ(h_.Delete(), kStatusOk);
  std::uint32_t pos;
  EXPECT_EQ(h_.Position(&pos), kStatusInvalidPositioning);
  EXPECT_EQ(h_.Update(R("C", "3")), kStatusInvalidPositioning);
  ASSERT_EQ(h_.Get(kOpGetNext, "", 0), kStatusOk);
  EXPECT_EQ(K0(), "D   ");
  ASSERT_EQ(h_.Get(kOpGetEqual, "D   ", 0), kStatusOk);
  ASSERT_EQ(h_.Delete(), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetPrevious, "", 0), kStatusOk);
  EXPECT_EQ(K0(), "B   ");
}

TEST_P(RecmanTest, StatusesOfMisuseChangeNothing) {
  Fill({{"A", "1"}, {"B", "1"}});
  ASSERT_EQ(h_.Get(kOpGetEqual, "A   "), kStatusOk);
  EXPECT_EQ(h_.Insert(R("A", "5")), kStatusDuplicateKey);
  EXPECT_EQ(h_.Update(R("B", "1")), kStatusKeyNotModifiable);  // key 0 is not modifiable
  ASSERT_EQ(h_.Get(kOpGetEqual, "1   ", 1), kStatusOk);
  EXPECT_EQ(h_.Update(R("A", "1", "z"), 0), kStatusDifferentKeyNumber);
  // Short buffers: nothing stored, nothing returned.
  std::string short_rec(kLen - 1, 'Q');
  std::uint32_t len = kLen - 1;
  std::string key(256, '\0');
  EXPECT_EQ(BTRCALL(kOpInsert, h_.block(), short_rec.data(), &len, key.data(), 255, 0),
            kStatusDataBufferTooShort);
  len = kLen - 1;
  EXPECT_EQ(BTRCALL(kOpGetFirst, h_.block(), short_rec.data(), &len, key.data(), 255, 0),
            kStatusDataBufferTooShort);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(short_rec, std::string(kLen - 1, 'Q'));
  EXPECT_EQ(h_.Direct(999), kStatusInvalidRecordAddress);
  EXPECT_EQ(h_.Direct(0), kStatusInvalidRecordAddress);
  std::string d, k;
  EXPECT_EQ(h_.Call(77, &d, &k, 0), kStatusInvalidOperation);
  EXPECT_EQ(h_.Call(kOpInsert + kLockSingleNoWait, &d, &k, 0), kStatusInvalidOperation);
  EXPECT_EQ(h_.Call(19, &d, &k, 0), kStatusInvalidOperation);  // transactions are not offered
  EXPECT_EQ(h_.Call(kOpUnlock, &d, &k, -3), kStatusInvalidOperation);
  std::int16_t st;
  auto rows = testing::ReadAll(h_, 0, &st);
  EXPECT_EQ(st, kStatusEndOfFile);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], R("A", "1"));
  EXPECT_EQ(rows[1], R("B", "1"));
  std::string report;
  EXPECT_EQ(CheckDataFile(h_.block(), &report), kStatusOk) << report;
}

TEST_P(RecmanTest, ReadOnlyOpensRefuseWrites) {
  Fill({{"A", "1"}});
  Handle ro;
  ASSERT_EQ(ro.Open(path_, kOpenReadOnly), kStatusOk);
  ASSERT_EQ(ro.Get(kOpGetFirst, ""), kStatusOk);
  EXPECT_EQ(ro.Insert(R("Z", "1")), kStatusAccessDenied);
  EXPECT_EQ(ro.Update(R("A", "2")), kStatusAccessDenied);
  EXPECT_EQ(ro.Delete(), kStatusAccessDenied);
}

TEST_P(RecmanTest, StatReportsTheLayoutAndLiveCounts) {
  Fill({{"A", "1"}, {"B", "1"}, {"C", "2"}});
  std::string st;
  ASSERT_EQ(h_.Stat(&st), kStatusOk);
  ASSERT_EQ(st.size(), 16u + 2 * 16);
  auto u16 = [&](std::size_t at) {
    return (unsigned char)st[at] | ((unsigned char)st[at + 1] << 8);
  };
  auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
  EXPECT_EQ(u16(0), kLen);
  EXPECT_EQ(u16(2), 1024);
  EXPECT_EQ(u16(4), 2);
  EXPECT_EQ(u32(6), 3);       // records
  EXPECT_EQ(u32(16 + 6), 3);  // unique values of key 0
  EXPECT_EQ(u32(32 + 6), 2);  // key 1 holds "1" twice
  EXPECT_EQ(u16(32 + 4), kKeyFlagDuplicates | kKeyFlagModifiable);
  // Changes in the same open show at once: one "1" becomes "3", then "2" goes.
  ASSERT_EQ(h_.Get(kOpGetEqual, "B   "), kStatusOk);
  ASSERT_EQ(h_.Update(R("B", "3")), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, "C   "), kStatusOk);
  ASSERT_EQ(h_.Delete(), kStatusOk);
  ASSERT_EQ(h_.Stat(&st), kStatusOk);
  EXPECT_EQ(u32(6), 2);
  EXPECT_EQ(u32(32 + 6), 2);  // "1" and "3"
  ASSERT_EQ(h_.Stat(&st, -1), kStatusOk);
  EXPECT_EQ(st[4], 2);
  EXPECT_EQ(static_cast<unsigned char>(st[5]), kFileVersion);
  // Counts are stored, not recomputed: they survive a reopen.
  ASSERT_EQ(h_.Close(), kStatusOk);
  ASSERT_EQ(h_.Open(path_), kStatusOk);
  ASSERT_EQ(h_.Stat(&st), kStatusOk);
  EXPECT_EQ(u32(6), 2);
  std::uint32_t len = 20;
  std::string small(20, '\0');
  EXPECT_EQ(BTRCALL(kOpStat, h_.block(), small.data(), &len, nullptr, 0, 0),
            kStatusDataBufferTooShort);
}

TEST_P(RecmanTest, PositionsAndDirectReads) {
  Fill({{"A", "3"}, {"B", "2"}, {"C", "1"}});
  ASSERT_EQ(h_.Get(kOpGetEqual, "B   "), kStatusOk);
  std::uint32_t pos = 0;
  ASSERT_EQ(h_.Position(&pos), kStatusOk);
  EXPECT_NE(pos, 0u);
  ASSERT_EQ(h_.Get(kOpGetFirst, ""), kStatusOk);
  // Get Direct reads B and sets the logical position on the key given.
  ASSERT_EQ(h_.Direct(pos, 1), kStatusOk);
  EXPECT_EQ(K0(), "B   ");
  EXPECT_EQ(h_.key(4), "2   ");
  ASSERT_EQ(h_.Get(kOpGetNext, "", 1), kStatusOk);
  EXPECT_EQ(K0(), "A   ");
  // A position stays with its record across updates of other records and
  // of the record itself.
  ASSERT_EQ(h_.Get(kOpGetEqual, "B   "), kStatusOk);
  ASSERT_EQ(h_.Update(R("B", "7")), kStatusOk);
  std::uint32_t again = 0;
  ASSERT_EQ(h_.Position(&again), kStatusOk);
  EXPECT_EQ(again, pos);
  EXPECT_EQ(h_.Direct(pos, 9), kStatusInvalidKeyNumber);
}

TEST_P(RecmanTest, StepsFollowPhysicalOrder) {
  Fill({{"C", "1"}, {"A", "1"}, {"B", "1"}});
  std::string order;
  std::int16_t st = h_.Step(kOpStepFirst);
  while (st == kStatusOk) {
    order += h_.record()[0];
    st = h_.Step(kOpStepNext);
  }
  EXPECT_EQ(st, kStatusEndOfFile);
  EXPECT_EQ(order, "CAB");
  ASSERT_EQ(h_.Step(kOpStepPrevious), kStatusOk);  // back from beyond the end
  EXPECT_EQ(h_.record()[0], 'B');
  ASSERT_EQ(h_.Step(kOpStepPrevious), kStatusOk);
  ASSERT_EQ(h_.Delete(), kStatusOk);  // A
  ASSERT_EQ(h_.Step(kOpStepNext), kStatusOk);
  EXPECT_EQ(h_.record()[0], 'B');
  ASSERT_EQ(h_.Step(kOpStepLast), kStatusOk);
  EXPECT_EQ(h_.record()[0], 'B');
}

TEST_P(RecmanTest, AnUpdateAfterAStepTakesTheKeyItNames) {
  Fill({{"A", "1"}, {"B", "5"}, {"C", "3"}});
  ASSERT_EQ(h_.Step(kOpStepFirst), kStatusOk);  // A, no key path
  ASSERT_EQ(h_.Update(R("A", "4"), 1), kStatusOk);
  EXPECT_EQ(h_.key(4), "4   ");
  ASSERT_EQ(h_.Get(kOpGetNext, "", 1), kStatusOk);  // along key 1 from "4"
  EXPECT_EQ(K0(), "B   ");
  // Get Direct with a negative key number reads without a key path.
  std::uint32_t pos = 0;
  ASSERT_EQ(h_.Position(&pos), kStatusOk);
  ASSERT_EQ(h_.Direct(pos, -1), kStatusOk);
  EXPECT_EQ(K0(), "B   ");
  EXPECT_EQ(h_.Get(kOpGetNext, "", 1), kStatusInvalidPositioning);
}

// Stations of an office run as different users of one group: the data file
// that Create makes and every file the engine makes beside it follow the
// umask (0666 less it), as every other file of the program does, so that
// under umask 002 another user of the group can write them all.
TEST(RecmanFilesTest, FilesMadeBesideADataFileFollowTheUmask) {
  for (const mode_t mask : {mode_t{002}, mode_t{022}, mode_t{027}}) {
    TempDir dir;
    const std::string path = dir.File("u.dat");
    const mode_t before = ::umask(mask);
    ASSERT_EQ(testing::CreateFile(path, TwoKeys()), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    ASSERT_EQ(h.Insert(R("A", "1")), kStatusOk);
    ASSERT_EQ(h.Get(kOpGetFirst + kLockSingleNoWait, ""), kStatusOk);  // the "-locks" file
    ::umask(before);
    const mode_t want = 0666 & ~mask;
    for (const char* suffix : {"", "-wal", "-shm", "-locks"}) {
      struct stat st;
      ASSERT_EQ(::stat((path + suffix).c_str(), &st), 0) << suffix;
      EXPECT_EQ(st.st_mode & 0777, want) << "u.dat" << suffix << " under umask 0" << std::oct << mask;
    }
    ASSERT_EQ(h.Close(), kStatusOk);
  }
}

// Without a key path, the key number of an Update says where the position
// goes; one that names no key of the file is refused with 6 before anything
// is written, as Insert and Get Direct refuse it.
TEST_P(RecmanTest, AnUpdateWithoutAKeyPathNamingNoKeyGives6AndWritesNothing) {
  Fill({{"A", "1"}, {"B", "5"}});
  for (int key_number : {2, 4, 7, 127}) {
    ASSERT_EQ(h_.Step(kOpStepFirst), kStatusOk);  // A, no key path
    EXPECT_EQ(h_.Update(R("A", "9"), key_number), kStatusInvalidKeyNumber) << key_number;
  }
  ASSERT_EQ(h_.Step(kOpStepFirst), kStatusOk);
  EXPECT_EQ(h_.Update(R("A", "8"), -1), kStatusOk);  // a negative number: no key path
  EXPECT_EQ(h_.Get(kOpGetNext, "", 0), kStatusInvalidPositioning);
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  Handle other;
  ASSERT_EQ(other.Open(path_), kStatusOk);
  std::int16_t st;
  EXPECT_EQ(testing::ReadAll(other, 0, &st), (std::vector<std::string>{R("A", "8"), R("B", "5")}));
}

// Create buffers of the interface's later versions carry the file version in
// byte 5 (dictionaries among them): the file is created, and the version
// comes back from Stat with key number -1 only (plain Stat has 0 there).
TEST_P(RecmanTest, AFileVersionInByte5IsKeptAndReportedByStatMinusOne) {
  struct Case {
    std::uint8_t version;
    std::uint8_t reported;
  } cases[] = {{0x60, 0x60}, {0x70, 0x70}, {0x95, 0x95}, {0, kFileVersion}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.version));
    CreateSpec spec = TwoKeys();
    spec.version = c.version;
    const std::string path = dir_.File("v" + std::to_string(n++) + ".dat");
    ASSERT_EQ(testing::CreateFile(path, spec), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    ASSERT_EQ(h.Insert(R("A", "1")), kStatusOk);
    ASSERT_EQ(h.Close(), kStatusOk);
    ASSERT_EQ(h.Open(path), kStatusOk);
    std::string stat;
    ASSERT_EQ(h.Stat(&stat, -1), kStatusOk);
    EXPECT_EQ(static_cast<std::uint8_t>(stat[4]), 2);
    EXPECT_EQ(static_cast<std::uint8_t>(stat[5]), c.reported);
    ASSERT_EQ(h.Stat(&stat), kStatusOk);
    EXPECT_EQ(stat[4], 2);
    EXPECT_EQ(stat[5], 0);
  }
}

TEST_P(RecmanTest, AnotherOpenChangingTheRecordGivesConflict) {
  Fill({{"A", "1"}});
  Handle other;
  ASSERT_EQ(other.Open(path_), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, "A   "), kStatusOk);
  ASSERT_EQ(other.Get(kOpGetEqual, "A   "), kStatusOk);
  ASSERT_EQ(other.Update(R("A", "2")), kStatusOk);
  EXPECT_EQ(h_.Update(R("A", "3")), kStatusConflict);
  EXPECT_EQ(h_.Delete(), kStatusConflict);
  ASSERT_EQ(h_.Get(kOpGetEqual, "A   "), kStatusOk);  // read again: now it may
  EXPECT_EQ(h_.record(), R("A", "2"));
  EXPECT_EQ(h_.Update(R("A", "3")), kStatusOk);
  ASSERT_EQ(other.Get(kOpGetEqual, "A   "), kStatusOk);
  EXPECT_EQ(other.record(), R("A", "3"));
}

TEST_P(RecmanTest, ExclusiveOpensWithinOneProcess) {
  Handle ex;
  EXPECT_EQ(ex.Open(path_, kOpenExclusive), kStatusFileInUse);  // h_ has it open
  ASSERT_EQ(h_.Close(), kStatusOk);
  ASSERT_EQ(ex.Open(path_, kOpenExclusive), kStatusOk);
  Handle normal;
  EXPECT_EQ(normal.Open(path_), kStatusFileInUse);
  ASSERT_EQ(ex.Close(), kStatusOk);
  EXPECT_EQ(normal.Open(path_), kStatusOk);
}

TEST_P(RecmanTest, OwnerNamesGuardOpens) {
  std::string name = "KEL1";
  name.push_back('\0');
  std::uint32_t len = 5;
  std::string key = name;
  EXPECT_EQ(BTRCALL(kOpSetOwner, h_.block(), name.data(), &len, key.data(), 5, 0), kStatusOk);
  len = 5;
  EXPECT_EQ(BTRCALL(kOpSetOwner, h_.block(), name.data(), &len, key.data(), 5, 0),
            kStatusInvalidOwner);
  ASSERT_EQ(h_.Close(), kStatusOk);
  Handle h;
  EXPECT_EQ(h.Open(path_, kOpenNormal, "XXXX"), kStatusInvalidOwner);
  EXPECT_EQ(h.Open(path_), kStatusInvalidOwner);
  ASSERT_EQ(h.Open(path_, kOpenNormal, "KEL1"), kStatusOk);
  len = 0;
  EXPECT_EQ(BTRCALL(kOpClearOwner, h.block(), nullptr, &len, nullptr, 0, 0), kStatusOk);
  ASSERT_EQ(h.Close(), kStatusOk);
  EXPECT_EQ(h.Open(path_, kOpenNormal, "ANY"), kStatusOk);
  // Mode 1: without the name the file opens read-only.
  len = 5;
  ASSERT_EQ(BTRCALL(kOpSetOwner, h.block(), name.data(), &len, key.data(), 5, 1), kStatusOk);
  ASSERT_EQ(h.Close(), kStatusOk);
  ASSERT_EQ(h.Open(path_), kStatusOk);
  EXPECT_EQ(h.Insert(R("Q", "1")), kStatusAccessDenied);
}

TEST_P(RecmanTest, ResetClosesEveryOpen) {
  Fill({{"A", "1"}});
  Handle other;
  ASSERT_EQ(other.Open(path_), kStatusOk);
  std::uint8_t scratch[kPositionBlockSize];
  std::memset(scratch, ' ', sizeof scratch);
  std::uint32_t len = 0;
  EXPECT_EQ(BTRCALL(kOpReset, scratch, nullptr, &len, nullptr, 0, 0), kStatusOk);
  EXPECT_EQ(h_.Get(kOpGetFirst, ""), kStatusFileNotOpen);
  EXPECT_EQ(other.Get(kOpGetFirst, ""), kStatusFileNotOpen);
  // Nothing was lost, and the file can be opened exclusively now.
  Handle ex;
  ASSERT_EQ(ex.Open(path_, kOpenExclusive), kStatusOk);
  EXPECT_EQ(ex.Get(kOpGetFirst, ""), kStatusOk);
}

TEST_P(RecmanTest, AutoincrementTakesTheHighestPlusOne) {
  CreateSpec s;
  s.record_length = 8;
  s.keys = {{Segment{1, 4, 0, kTypeAutoIncrement}}};
  std::string p = dir_.File("auto.dat");
  ASSERT_EQ(testing::CreateFile(p, s), kStatusOk);
  Handle h;
  ASSERT_EQ(h.Open(p), kStatusOk);
  ASSERT_EQ(h.Insert(testing::Le(0, 4) + "aaaa"), kStatusOk);
  EXPECT_EQ(h.record().substr(0, 4), testing::Le(1, 4));  // written back to the caller
  ASSERT_EQ(h.Insert(testing::Le(10, 4) + "bbbb"), kStatusOk);
  ASSERT_EQ(h.Insert(testing::Le(0, 4) + "cccc"), kStatusOk);
  EXPECT_EQ(h.record().substr(0, 4), testing::Le(11, 4));
  EXPECT_EQ(h.Insert(testing::Le(10, 4) + "dddd"), kStatusDuplicateKey);
}


std::string BackendParamName(const ::testing::TestParamInfo<testing::Backend>& info) {
  return testing::BackendName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecmanTest,
                         ::testing::Values(testing::Backend::kSqlite, testing::Backend::kServer),
                         BackendParamName);

}  // namespace
}  // namespace kel
