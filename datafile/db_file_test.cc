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
  void OpenAs(std::int16_t f, const std::string& name) {
    std::int16_t st = -1;
    DbOpen(f, name, area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk) << name;
  }
  std::string Area() const { return std::string(area_, sizeof area_); }
  static OpenFileEntry& Entry(std::int16_t f) {
    return DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(f))];
  }
  char area_[8] = {};
};

TEST_F(DbFileTest, FortyFilesFillTheTableAndAFreedEntryIsReused) {
  const std::string name = MakeLetters("L", {Rec("A")});
  char areas[41][8];
  std::int16_t st = 0;
  for (std::int16_t f = 1; f <= 40; ++f) {
    DbOpen(f, name, areas[f], 8, &st);
    ASSERT_EQ(st, kStatusOk) << "file " << f;
    EXPECT_EQ(DbSlot(f), 41 - f) << "the highest free entry is taken";
  }
  Recorder rec;
  DbOpen(41, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusTableFull);
  DbOpen(7, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusAlreadyOpen);
  EXPECT_TRUE(rec.calls().empty()) << "1002 and 1003 never reach the record manager";
  EXPECT_EQ(Entry(7).RecordAddress, reinterpret_cast<std::uint8_t*>(areas[7]));
  DbClose(5, &st);
  DbOpen(41, name, areas[0], 8, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(DbSlot(41), 36);
}

TEST_F(DbFileTest, EveryOperationOnAFileThatIsNotOpenGivesThreeOrItsNeutralResult) {
  Recorder rec;
  std::int16_t st[6] = {0, 0, 0, 0, 0, 0};
  DbFind(9, 0, "", 1, &st[0]);
  DbStep(9, 1, &st[1]);
  DbUpdate(9, &st[2]);
  DbSetRange(9, 0, "A", "B", &st[3]);
  DbClose(9, &st[4]);
  st[5] = DbRangeNext(9);
  for (std::int16_t s : st) EXPECT_EQ(s, kStatusFileNotOpen);
  EXPECT_EQ(DbPosition(9, 0) + DbPosition(9, 1), 0);
  EXPECT_EQ(DbKeyText(9), "");
  EXPECT_EQ(DbSortKey("\x01\x02", 9), "\x01\x02");
  std::int16_t key_length = 5;
  std::int32_t record_length = 5;
  DbKeyInfo(9, 0, &key_length, &record_length);
  EXPECT_EQ(key_length + record_length, 0);
  EXPECT_TRUE(rec.calls().empty());
  EXPECT_FALSE(FileExists(kOperationLogFile)) << "no log line without an Update";
}

TEST_F(DbFileTest, FindOnEmptyAndFullFilesAndMissingKeys) {
  OpenAs(1, MakeLetters("EMPTY", {}));
  OpenAs(2, MakeLetters("FULL", {Rec("E1"), Rec("B2"), Rec("D3")}));
  EXPECT_EQ(Entry(2).KeyValue, std::string(1, '\0')) << "key 0 zeroed at open";
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  EXPECT_EQ(st, kStatusEndOfFile);
  struct Case {
    int key;
    const char* search;
    int direction;
    std::int16_t status;
    const char* record;
  } cases[] = {{0, "", 1, 0, "B2"},  {0, "C", 1, 0, "D3"}, {0, "C", -1, 0, "B2"},
               {0, "D", 0, 0, "D3"}, {0, "C", 0, 4, ""},   {0, "F", 1, 9, ""},
               {1, "3", 1, 0, "D3"}, {2, "", 1, 1004, ""}, {-1, "", 1, 1004, ""}};
  for (const Case& c : cases) {
    Recorder rec;
    DbFind(2, static_cast<std::int16_t>(c.key), c.search, static_cast<std::int16_t>(c.direction),
           &st);
    EXPECT_EQ(st, c.status) << "key " << c.key << " search " << c.search << " dir " << c.direction;
    if (c.status == kStatusNoSuchKey) {
      EXPECT_EQ(rec.Operations(), (std::vector<int>{15, 15})) << "decided from Stat alone";
    }
    if (c.status == 0) {
      EXPECT_EQ(Area(), Rec(c.record)) << c.search;
    }
  }
}

TEST_F(DbFileTest, StepMovesByCountAndReadsOnlyTheRecordReached) {
  OpenAs(1, MakeLetters("L", {Rec("E"), Rec("B"), Rec("D"), Rec("A"), Rec("C")}));
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  ASSERT_EQ(Area(), Rec("A"));
  Recorder rec;
  DbStep(1, 3, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(Area(), Rec("D"));
  ASSERT_EQ(rec.Operations(), (std::vector<int>{6, 6, 6}));
  // Two skipping calls into the scratch buffers, then the read proper.
  EXPECT_EQ(rec.calls()[0].data_length_in, 1536u);
  EXPECT_EQ(rec.calls()[0].key_length, 0);
  EXPECT_EQ(rec.calls()[2].data_length_in, 8u);
  DbStep(1, 0, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(rec.calls().size(), 3u) << "count 0 calls nothing";
  DbStep(1, -1, &st);
  EXPECT_EQ(Area(), Rec("C"));
  DbStep(1, 5, &st);
  EXPECT_EQ(st, kStatusEndOfFile);
}

// Reading without the keys: the record count of Stat and the physical
// order (insertion order here), which a check uses when it cannot trust an
// index; the key path is gone afterwards.
TEST_F(DbFileTest, RecordCountAndPhysicalOrderNeedNoKey) {
  OpenAs(1, MakeLetters("L", {Rec("E"), Rec("B"), Rec("D")}));
  std::int16_t st = -1;
  EXPECT_EQ(DbRecordCount(1, &st), 3);
  EXPECT_EQ(st, kStatusOk);
  std::string order;
  DbStepPhysical(1, true, &st);
  while (st == kStatusOk) {
    order += Area().substr(0, 1);
    DbStepPhysical(1, false, &st);
  }
  EXPECT_EQ(st, kStatusEndOfFile);
  EXPECT_EQ(order, "EBD");
  DbStep(1, 1, &st);
  EXPECT_EQ(st, kStatusInvalidPositioning);
  EXPECT_EQ(DbRecordCount(9, &st), 0);
  EXPECT_EQ(st, kStatusFileNotOpen);
  DbStepPhysical(9, true, &st);
  EXPECT_EQ(st, kStatusFileNotOpen);
}

TEST_F(DbFileTest, UpdateThatMovesKeyZeroContinuesAfterTheNewPosition) {
  OpenAs(1, MakeLetters("L", {Rec("A1"), Rec("C2"), Rec("E3"), Rec("G4")}));
  std::int16_t st = 0;
  DbFind(1, 0, "C", 0, &st);
  area_[0] = 'F';
  Recorder rec;
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusOk);
  EXPECT_EQ(rec.Operations(), (std::vector<int>{22, 3, 23}));
  EXPECT_EQ(Entry(1).KeyValue, "F");
  DbStep(1, 1, &st);
  EXPECT_EQ(Area(), Rec("G4"));
  DbStep(1, -2, &st);
  EXPECT_EQ(Area(), Rec("E3")) << "F2 lies between E3 and G4 now";
}

TEST_F(DbFileTest, RangesReadUpOrDownAndEndCleanly) {
  OpenAs(1, MakeLetters("L", {Rec("A"), Rec("B"), Rec("C"), Rec("D"), Rec("E")}));
  const char* cases[][3] = {
      {"B", "D", "BCD"}, {"D", "B", "DCB"}, {"", "", "ABCDE"}, {"C", "C", "C"}, {"X", "Z", ""}};
  for (const auto& c : cases) {
    std::int16_t st = 77;
    DbSetRange(1, 0, c[0], c[1], &st);
    EXPECT_EQ(st, 77) << "the status is left as passed";
    EXPECT_EQ(Entry(1).KeyNumber, -1);
    std::string got;
    std::int16_t next;
    while ((next = DbRangeNext(1)) == kStatusOk) got += area_[0];
    EXPECT_EQ(got, c[2]) << c[0] << ".." << c[1];
    EXPECT_EQ(next, kStatusEndOfFile);
    EXPECT_EQ(Entry(1).KeyNumber, 0);
    EXPECT_EQ(Entry(1).RangeStart + Entry(1).RangeEnd, "");
  }
  std::int16_t st = 0;
  DbSetRange(1, 4, "A", "B", &st);
  EXPECT_EQ(st, kStatusNoSuchKey);
}

TEST_F(DbFileTest, KeyTextIsTheKeyInCollatingForm) {
  TestFileSpec file_spec;
  // Key 0: a 2-byte binary number. Key 1: a binary byte, then a collated text.
  file_spec.keys = {{{1, 2, 0x4}}, {{1, 1, 0x5}, {3, 2, 0x21}}};
  file_spec.collating_table.resize(256);
  for (int b = 0; b < 256; ++b) file_spec.collating_table[b] = static_cast<char>(b == 'a' ? 'A' : b);
  ASSERT_EQ(CreateFile(root() + "K.dat", file_spec), kStatusOk);
  Insert(root() + "K.dat", {std::string("\x01\x00"
                                        "aa    ",
                                        8)});
  OpenAs(1, root() + "K");
  std::int16_t st = 0;
  DbFind(1, 0, "", 1, &st);
  Recorder rec;
  EXPECT_EQ(DbKeyText(1), std::string("\x00\x01", 2));
  EXPECT_EQ(rec.Count(kOpStat), 2) << "no caching: two Stats per call";
  EXPECT_EQ(DbSortKey("\x05", 1), std::string("\x00\x05", 2)) << "short text zero-extended";
  DbFind(1, 1, "", 1, &st);
  EXPECT_EQ(DbKeyText(1),
            "\x01"
            "AA");
}

TEST_F(DbFileTest, AShortRecordAreaIsNeverWrittenPastAndKeepsTheRecordTail) {
  MakeLetters("L", {Rec("A1234567"), Rec("B7654321")});
  char area[8] = {'x', 'x', 'x', 'x', '#', '#', '#', '#'};
  std::int16_t st = 0;
  DbOpen(1, root() + "L", area, 4, &st);
  DbFind(1, 0, "B", 0, &st);
  EXPECT_EQ(std::string(area, 8), "B765####");
  area[1] = 'X';
  DbUpdate(1, &st);
  EXPECT_EQ(std::string(area, 8), "BX65####");
  EXPECT_EQ(ReadAll(root() + "L.dat")[1], "BX654321") << "the bytes beyond the area stay";
}

TEST_F(DbFileTest, AFailedUpdateReportsItsStatusAndTheAreaGetsTheStoredRecord) {
  OpenAs(1, MakeLetters("L", {Rec("A1"), Rec("B2")}));
  std::int16_t st = 0;
  DbFind(1, 0, "B", 0, &st);
  area_[1] = '9';
  Recorder rec;
  rec.FailNext(kOpUpdate, kStatusConflict);
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusConflict);
  EXPECT_EQ(Area(), Rec("B2")) << "read again from the remembered position";
  rec.FailNext(kOpUpdate, kStatusDataBufferTooShort);
  DbUpdate(1, &st);
  EXPECT_EQ(st, kStatusOk) << "22 counts as success";
}

TEST_F(DbFileTest, DamagedStatDataIsNeverReadOrClearedPastTheBuffer) {
  OpenAs(1, MakeLetters("L", {Rec("A")}));
  const auto stat = [](int page, int keys, std::vector<std::pair<int, int>> segments) {
    std::string s = std::string("\x08\x00", 2) + static_cast<char>(page & 0xFF) +
                    static_cast<char>(page >> 8) + static_cast<char>(keys & 0xFF) +
                    static_cast<char>(keys >> 8) + std::string(10, '\0');
    for (auto [length, flags] : segments) {
      s += std::string("\x01\x00", 2) + static_cast<char>(length) + '\0' +
           static_cast<char>(flags) + std::string(11, '\0');
    }
    return s;
  };
  struct Case {
    const char* what;
    std::string data;
    int key, key_length;
  } cases[] = {
      {"page size larger than the buffer", stat(4096, 1, {{3, 0}}), 0, 3},
      {"page size 0xFFFF", stat(0xFFFF, 1, {{3, 0}}), 0, 3},
      {"more keys than specifications", stat(512, 90, {{3, 0}}), 1, 0},
      {"segment chain runs off the data", stat(512, 1, {{3, 0x10}, {4, 0x10}}), 0, 0},
      {"negative key count", stat(512, 0x8000, {{3, 0}}), 0, 0},
      {"three bytes of data", std::string("\x08\x00\x02", 3), 0, 0},
  };
  for (const Case& c : cases) {
    Recorder rec;
    rec.ReplyStat(c.data);
    std::int16_t key_length = -1;
    std::int32_t record_length = -1;
    DbKeyInfo(1, static_cast<std::int16_t>(c.key), &key_length, &record_length);
    EXPECT_EQ(key_length, c.key_length) << c.what;
    EXPECT_EQ(record_length, 8) << c.what;
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
