#include "datafile/db_file.h"

#include "datafile/db_open.h"
#include "datafile/lock_mode.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "recman/recman.h"

namespace kel::testing {
namespace {

class DbFileTest : public DataFileTest {
 protected:
  // Opens `name` as file `f` with the 8-byte area `area_`.
  void OpenAs(std::int16_t f, const std::string& name) {
    std::int16_t st = -1;
    DbOpen(f, name, area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk) << name;
  }
  std::string Area() const { return std::string(area_, sizeof area_); }
  OpenFileEntry& Entry(std::int16_t f) {
    return DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(f))];
  }
  char area_[8] = {};
};

TEST_F(DbFileTest, FortyFilesFillTheTableTheFortyFirstIsRefusedAndAFreedEntryIsReused) {
  const std::string name = MakeLetters("L", {Rec("A", 8)});
  char areas[41][8];
  std::int16_t st = 0;
  for (std::int16_t f = 1; f <= 40; ++f) {
    DbOpen(f, name, areas[f], 8, &st);
    ASSERT_EQ(st, kStatusOk) << "file " << f;
    EXPECT_EQ(DbSlot(f), 41 - f) << "entries are taken from the highest free one down";
  }
  Recorder rec;
  DbOpen(41, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusTableFull);
  DbOpen(7, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusAlreadyOpen);
  EXPECT_TRUE(rec.calls().empty()) << "1002 and 1003 must not reach the record manager";
  EXPECT_EQ(Entry(7).RecordAddress, reinterpret_cast<std::uint8_t*>(areas[7]));
  DbClose(5, &st);
  ASSERT_EQ(st, kStatusOk);
  DbOpen(41, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(DbSlot(41), 36);
}

TEST_F(DbFileTest, EveryOperationOnAFileThatIsNotOpenGivesThreeOrItsNeutralResult) {
  MakeLetters("L", {Rec("A", 8)});
  Recorder rec;
  std::int16_t st = 0;
  const auto expect3 = [&](const char* what) {
    EXPECT_EQ(st, kStatusFileNotOpen) << what;
    st = 0;
  };
  DbFind(9, 0, "", 1, &st);
  expect3("DbFind");
  DbStep(9, 1, &st);
  expect3("DbStep");
  DbUpdate(9, &st);
  expect3("DbUpdate");
  DbSetRange(9, 0, "A", "B", &st);
  expect3("DbSetRange");
  DbClose(9, &st);
  expect3("DbClose");
  EXPECT_EQ(DbRangeNext(9), kStatusFileNotOpen);
  EXPECT_EQ(DbPosition(9, 0), 0);
  EXPECT_EQ(DbPosition(9, 1), 0);
  EXPECT_EQ(DbKeyText(9), "");
  EXPECT_EQ(DbSortKey("\x01\x02", 9), "\x01\x02");
  std::int16_t key_length = 5;
  std::int32_t record_length = 5;
  DbKeyInfo(9, 0, &key_length, &record_length);
  EXPECT_EQ(key_length, 0);
  EXPECT_EQ(record_length, 0);
  EXPECT_TRUE(rec.calls().empty());
  EXPECT_FALSE(FileExists(kOperationLogFile)) << "no log line without an Update";
}

TEST_F(DbFileTest, FindOnEmptyAndFullFilesAndMissingKeys) {
  const std::string empty = MakeLetters("EMPTY", {});
  const std::string full = MakeLetters("FULL", {Rec("E1", 8), Rec("B2", 8), Rec("D3", 8)});
  OpenAs(1, empty);
  OpenAs(2, full);
  EXPECT_EQ(Entry(2).KeyValue, std::string(1, '\0')) << "key 0 zeroed at open";
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  EXPECT_EQ(st, kStatusEndOfFile);
  DbFind(2, 0, "", 1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(Area(), Rec("B2", 8));
  EXPECT_EQ(Entry(2).KeyValue, "B");

  struct Case {
    int key;
    const char* search;
    int direction;
    std::int16_t status;
    const char* record;
  } cases[] = {
      {0, "C", 1, 0, "D3"},   {0, "C", -1, 0, "B2"},  {0, "D", 0, 0, "D3"},
      {0, "C", 0, 4, "D3"},   {0, "F", 1, 9, "D3"},   {1, "3", 1, 0, "D3"},
      {2, "", 1, 1004, "D3"}, {5, "", 1, 1004, "D3"}, {-1, "", 1, 1004, "D3"},
  };
  for (const Case& c : cases) {
    Recorder rec;
    DbFind(2, static_cast<std::int16_t>(c.key), c.search, static_cast<std::int16_t>(c.direction),
           &st);
    EXPECT_EQ(st, c.status) << "key " << c.key << " search " << c.search << " dir " << c.direction;
    if (c.status == 1004) {
      EXPECT_EQ(rec.Count(kOpStat), 2) << "1004 is decided from Stat alone";
      EXPECT_EQ(rec.calls().size(), 2u);
    } else if (c.status == 0) {
      EXPECT_EQ(Area(), Rec(c.record, 8)) << c.search;
    }
  }
}

TEST_F(DbFileTest, StepMovesByCountAndReadsOnlyTheRecordReached) {
  OpenAs(1, MakeLetters("L", {Rec("E", 8), Rec("B", 8), Rec("D", 8), Rec("A", 8), Rec("C", 8)}));
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  ASSERT_EQ(Area(), Rec("A", 8));
  {
    Recorder rec;
    DbStep(1, 3, &st);
    EXPECT_EQ(st, kStatusOk);
    EXPECT_EQ(Area(), Rec("D", 8));
    ASSERT_EQ(rec.Operations(), (std::vector<int>{6, 6, 6}));
    // Two skipping calls into the scratch buffers, then the read proper.
    EXPECT_EQ(rec.calls()[0].data_length_in, 1536u);
    EXPECT_EQ(rec.calls()[0].key_length, 0);
    EXPECT_EQ(rec.calls()[2].data_length_in, 8u);
  }
  {
    Recorder rec;
    DbStep(1, 0, &st);
    EXPECT_EQ(st, kStatusOk);
    EXPECT_TRUE(rec.calls().empty());
  }
  DbStep(1, -1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(Area(), Rec("C", 8));
  DbStep(1, 5, &st);
  EXPECT_EQ(st, kStatusEndOfFile);
}

TEST_F(DbFileTest, UpdateThatMovesKeyZeroContinuesAfterTheNewPosition) {
  const std::string name =
      MakeLetters("L", {Rec("A1", 8), Rec("C2", 8), Rec("E3", 8), Rec("G4", 8)});
  OpenAs(1, name);
  std::int16_t st = 0;
  DbFind(1, 0, "C", 0, &st);
  ASSERT_EQ(st, kStatusOk);
  area_[0] = 'F';
  Recorder rec;
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(rec.Operations(), (std::vector<int>{22, 3, 23}));
  EXPECT_EQ(Entry(1).KeyValue, "F");
  DbStep(1, 1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(Area(), Rec("G4", 8));
  DbStep(1, -2, &st);
  EXPECT_EQ(Area(), Rec("E3", 8)) << "F2 lies between E3 and G4 now";
}

TEST_F(DbFileTest, RangesReadUpOrDownAndEndCleanly) {
  OpenAs(1, MakeLetters("L", {Rec("A", 8), Rec("B", 8), Rec("C", 8), Rec("D", 8), Rec("E", 8)}));
  struct Case {
    const char* from;
    const char* to;
    const char* expected;
  } cases[] = {
      {"B", "D", "BCD"}, {"D", "B", "DCB"}, {"", "", "ABCDE"}, {"C", "C", "C"}, {"X", "Z", ""}};
  for (const Case& c : cases) {
    std::int16_t st = 77;
    DbSetRange(1, 0, c.from, c.to, &st);
    EXPECT_EQ(st, 77) << "the status is left as passed";
    EXPECT_EQ(Entry(1).KeyNumber, -1);
    std::string got;
    std::int16_t next;
    while ((next = DbRangeNext(1)) == kStatusOk) got += area_[0];
    EXPECT_EQ(got, c.expected) << c.from << ".." << c.to;
    EXPECT_EQ(next, kStatusEndOfFile) << c.from << ".." << c.to;
    EXPECT_EQ(Entry(1).KeyNumber, 0);
    EXPECT_EQ(Entry(1).RangeStart, "");
    EXPECT_EQ(Entry(1).RangeEnd, "");
  }
  std::int16_t st = 0;
  DbSetRange(1, 4, "A", "B", &st);
  EXPECT_EQ(st, kStatusNoSuchKey);
}

TEST_F(DbFileTest, KeyTextIsTheKeyInCollatingForm) {
  TestFileSpec spec;
  spec.record_length = 8;
  // Key 0: a 2-byte binary number. Key 1: binary byte + a collated 2-byte text.
  spec.keys = {{{1, 2, 0x4}}, {{1, 1, 0x4 | 0x1}, {3, 2, 0x20 | 0x1}}};
  spec.collating_table = CollatingTable({{'a', 'A'}, {'b', 'B'}});
  ASSERT_EQ(CreateFile(root() + "K.dat", spec), kStatusOk);
  Insert(root() + "K.dat", {std::string("\x01\x00"
                                        "ab    ",
                                        8)});
  OpenAs(1, root() + "K");
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  ASSERT_EQ(st, kStatusOk);
  Recorder rec;
  EXPECT_EQ(DbKeyText(1), std::string("\x00\x01", 2));
  EXPECT_EQ(rec.Count(kOpStat), 2) << "no caching: two Stats per call";
  EXPECT_EQ(DbSortKey("\x05", 1), std::string("\x00\x05", 2)) << "short text zero-extended";
  DbFind(1, 1, "", 1, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(DbKeyText(1), std::string("\x01"
                                      "AB",
                                      3));
  EXPECT_EQ(DbSortKey("\x02"
                      "b",
                      1),
            std::string("\x02"
                        "B",
                        2));
}

TEST_F(DbFileTest, AShortRecordAreaIsNeverWrittenPastAndKeepsTheRecordTail) {
  MakeLetters("L", {Rec("A1234567", 8), Rec("B7654321", 8)});
  char area[8] = {'x', 'x', 'x', 'x', '#', '#', '#', '#'};
  std::int16_t st = 0;
  DbOpen(1, root() + "L", area, 4, &st);
  ASSERT_EQ(st, kStatusOk);
  DbFind(1, 0, "B", 0, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area, 8), "B765####");
  area[1] = 'X';
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area, 8), "BX65####");
  EXPECT_EQ(ReadAll(root() + "L.dat")[1], "BX654321") << "the tail beyond the area stays";
}

TEST_F(DbFileTest, AFailedUpdateReportsItsStatusAndTheAreaGetsTheStoredRecord) {
  OpenAs(1, MakeLetters("L", {Rec("A1", 8), Rec("B2", 8)}));
  std::int16_t st = 0;
  DbFind(1, 0, "B", 0, &st);
  area_[1] = '9';
  {
    Recorder rec;
    rec.FailNext(kOpUpdate, kStatusConflict);
    DbUpdate(1, &st);
  }
  EXPECT_EQ(st, kStatusConflict);
  EXPECT_EQ(Area(), Rec("B2", 8)) << "re-read from the remembered position";
  {
    Recorder rec;
    rec.FailNext(kOpUpdate, kStatusDataBufferTooShort);
    DbUpdate(1, &st);
  }
  EXPECT_EQ(st, kStatusOk) << "22 counts as success";
}

TEST_F(DbFileTest, DamagedStatDataIsNeverReadOrClearedPastTheBuffer) {
  OpenAs(1, MakeLetters("L", {Rec("A", 8)}));
  const auto stat = [](int record, int page, int keys, std::vector<std::pair<int, int>> segs) {
    std::string s;
    for (int v : {record, page, keys})
      s += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    s.append(10, '\0');
    for (auto [length, flags] : segs) {
      s += std::string("\x01\x00", 2);
      s += {static_cast<char>(length), 0, static_cast<char>(flags & 0xFF),
            static_cast<char>(flags >> 8)};
      s.append(10, '\0');
    }
    return s;
  };
  struct Case {
    const char* what;
    std::string data;
    int key;
    int key_length;
    int record_length;
  } cases[] = {
      {"page size larger than the buffer", stat(8, 4096, 1, {{3, 0}}), 0, 3, 8},
      {"page size 0xFFFF", stat(8, 0xFFFF, 1, {{3, 0}}), 0, 3, 8},
      {"more keys than specifications", stat(8, 512, 90, {{3, 0}}), 1, 0, 8},
      {"segment chain runs off the data", stat(8, 512, 1, {{3, 0x10}, {4, 0x10}}), 0, 0, 8},
      {"negative key count", stat(8, 512, 0x8000, {{3, 0}}), 0, 0, 8},
      {"three bytes of data", std::string("\x08\x00\x02", 3), 0, 0, 8},
  };
  for (const Case& c : cases) {
    Recorder rec;
    rec.ReplyStat(c.data);
    std::int16_t key_length = -1;
    std::int32_t record_length = -1;
    DbKeyInfo(1, static_cast<std::int16_t>(c.key), &key_length, &record_length);
    EXPECT_EQ(key_length, c.key_length) << c.what;
    EXPECT_EQ(record_length, c.record_length) << c.what;
    EXPECT_EQ(DbSortKey("ab", 1), "ab") << c.what;
  }
  Recorder rec;
  rec.FailNext(kOpStat, kStatusIoError);
  std::int16_t key_length = -1;
  std::int32_t record_length = -1;
  DbKeyInfo(1, 0, &key_length, &record_length);
  EXPECT_EQ(key_length + record_length, 0) << "a failed Stat tells nothing";
}

}  // namespace
}  // namespace kel::testing
