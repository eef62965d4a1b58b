#include "datafile/lock_mode.h"

#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_internal.h"
#include "datafile/db_open.h"
#include "datafile/lock_mode_test_fixture.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"

namespace kel::testing {
namespace {

TEST_F(LockModeTest, LettersSetSaveAndRestoreTheModeOfEachFile) {
  const std::string name = MakeLetters("L", {Rec("A")});
  OpenAs(1, name);
  OpenAs(2, name);
  struct Case {
    const char* letters;
    int mode;
  } cases[] = {{"a+b-", 1}, {"A", 1},    {"b", 2},       {"ad", 0}, {"a+d-", 1},
               {"-", 0},    {"xyz?", 0}, {"B+A+D--", 2}, {"b+-", 2}};
  for (const Case& c : cases) {
    DataFiles().LockModeStack.clear();
    std::int16_t st = 55;
    DbLockMode(1, "d", &st);
    DbLockMode(1, c.letters, &st);
    EXPECT_EQ(st, 55) << "an open file leaves the status as passed";
    EXPECT_EQ(Mode(1), c.mode) << c.letters;
    EXPECT_EQ(DataFiles().LockModeStack.size() % 2, 0u) << c.letters;
  }
  DataFiles().LockModeStack.clear();
  std::int16_t st = 0;
  DbLockMode(1, "a+", &st);
  DbLockMode(2, "b+", &st);
  DbLockMode(1, "d", &st);
  DbLockMode(2, "d", &st);
  DbLockMode(1, "-", &st);
  EXPECT_EQ(Mode(1), 1);
  EXPECT_EQ(Mode(2), 0);
  DbLockMode(2, "-", &st);
  EXPECT_EQ(Mode(2), 2);
  EXPECT_EQ(DataFiles().LockModeStack, "");
  DbLockMode(9, "a", &st);
  EXPECT_EQ(st, kStatusFileNotOpen);
}

TEST_F(LockModeTest, LockableReadsCarryTheBiasAndTheKeyBufferIsPaddedByTheCodeSent) {
  OpenAs(1, MakeLetters("L", {Rec("A"), Rec("B"), Rec("C")}));
  struct Case {
    const char* letters;
    int direction;
    int op_sent;
    char pad;
  } cases[] = {{"d", 1, 9, '\0'},  {"d", -1, 11, '\xFF'}, {"d", 0, 5, ' '},
               {"a", 1, 209, ' '}, {"b", -1, 211, ' '},   {"a", 0, 205, ' '}};
  for (const Case& c : cases) {
    std::int16_t st = 0;
    DbLockMode(1, c.letters, &st);
    Recorder rec;
    DbFind(1, 0, "B", static_cast<std::int16_t>(c.direction), &st);
    ASSERT_EQ(rec.calls().size(), 3u) << "two Stats and the Get";
    const RecordedCall& get = rec.calls()[2];
    EXPECT_EQ(get.operation, c.op_sent) << c.letters << " " << c.direction;
    EXPECT_EQ(get.key_length, 1);
    EXPECT_EQ(get.key_in, "B" + std::string(255, c.pad)) << c.letters << " " << c.direction;
    EXPECT_EQ(get.data_length_in, 8u);
  }
  // A refused call leaves the data buffer as sent: the area, then blanks.
  std::memcpy(area_, "AREA0123", 8);
  std::int16_t st = 0;
  DbLockMode(1, "a", &st);
  {
    Recorder refusing;
    refusing.FailNext(kOpGetGreaterOrEqual + kLockBias, kStatusIoError);
    std::int16_t op = kOpGetGreaterOrEqual;
    DbCall(DbSlot(1), &op, &st);
    EXPECT_EQ(op, 209) << "the operation comes back with its bias";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Transfer().data), 1536),
              "AREA0123" + std::string(1528, ' '));
  }
  DbFind(1, 0, "", 1, &st);
  Recorder rec;
  DbStep(1, 2, &st);
  ASSERT_EQ(st, kStatusOk);
  DbUpdate(1, &st);
  EXPECT_EQ(rec.Operations(), (std::vector<int>{6, 206, 22, 3, 23}))
      << "skipping calls, Get Position, Update and Get Direct carry no bias";
}

TEST_F(LockModeTest, LogLinesPutEachNumberInAFourteenCharacterColumn) {
  struct Case {
    std::int16_t file, op, status;
    const char* line;
  } cases[] = {
      {142, 3, 0, " 142           3             0\r\n"},
      {1, 3, -1, " 1             3            -1\r\n"},
      {-32768, 3, 84, "-32768         3             84\r\n"},
      {32767, 3, 22, " 32767         3             22\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OperationLogLine(c.file, c.op, c.status), c.line) << c.file << " " << c.status;
  }
}

TEST_F(LockModeTest, EveryUpdateAppendsOneLineWithTheStatusBeforeTwentyTwoBecomesZero) {
  OpenAs(142, MakeLetters("L", {Rec("A")}));
  std::int16_t st = 0;
  DbFind(142, 0, "", 1, &st);
  DbUpdate(142, &st);
  EXPECT_EQ(st, 0);
  Recorder rec;
  rec.FailNext(kOpUpdate, kStatusConflict);
  DbUpdate(142, &st);
  EXPECT_EQ(st, kStatusConflict);
  rec.FailNext(kOpUpdate, kStatusDataBufferTooShort);
  DbUpdate(142, &st);
  EXPECT_EQ(st, 0);
  std::string log;
  ASSERT_TRUE(ReadWholeFile(kOperationLogFile, &log));
  EXPECT_EQ(log, OperationLogLine(142, 3, 0) + OperationLogLine(142, 3, 80) +
                     OperationLogLine(142, 3, 22));
}


}  // namespace
}  // namespace kel::testing
