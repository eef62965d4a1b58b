// Runs that cannot convert everything: a commit that fails after its
// rewrites were answered 0, a lock file that cannot be used, a termination
// signal. None may be reported as a complete conversion.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/converters.h"
#include "convert/driver.h"
#include "convert/test_support.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "gtest/gtest.h"
#include "platform/signals.h"
#include "recman/recman.h"
#include "startup/ini_file.h"
#include "util/session_context.h"

namespace kel {
namespace {

using testing::FieldOffset;
using testing::FileBytes;
using testing::InstallationTest;
using testing::ReadRecords;
using testing::SampleLayout;

// A record manager whose commits of one file fail, seen from outside as the
// engine shows it: its first `good_updates` Updates are answered 0 but never
// reach the file (undone with the failed commit); from then on every
// operation on the file gives `status`; Close closes it and reports
// `status`, and a later open of it is a fresh one.
struct LostCommit {
  std::int16_t file_number = 0;  // 0: everything passes
  std::int16_t status = kStatusDiskFull;
  int good_updates = 1 << 30;
  int updates_of_file = 0;
  // Raised at this Update of any file (0: never): a signal in mid-file.
  int signal_at_update = 0;
  int updates = 0;
  int signal = 0;
  // The Get Next of `step_file` number `step_at` gives `step_status`; with
  // `every_scan`, the one of that number in every scan along key 0 (counted
  // from its Get Greater or Equal), as a damaged index that holds fewer
  // entries than the file would.
  std::int16_t step_file = 0;
  int step_at = 0;
  int steps = 0;
  std::int16_t step_status = kStatusFileInUse;
  bool every_scan = false;
  // At that Get Next, another program inserts `inserted` into the file at
  // `insert_path` instead (through an open of its own).
  std::string insert_path;
  std::string inserted;
};
LostCommit g_lost;
RecordManagerEntry g_real = nullptr;

bool IsBlockOf(const void* block, std::int16_t file_number) {
  const std::int16_t slot = DbSlot(file_number);
  return slot >= 1 &&
         block == DataFiles().OpenFileTable[static_cast<std::size_t>(slot)].PositionBlock;
}

std::int16_t LosingEntry(std::int16_t op, void* block, void* data, std::uint32_t* length, void* key,
                         std::uint8_t key_length, std::int8_t key_number) {
  if (op == kOpUpdate && g_lost.signal_at_update > 0 &&
      ++g_lost.updates == g_lost.signal_at_update) {
    SetTerminationSignalForTesting(g_lost.signal);
  }
  if (op == kOpGetGreaterOrEqual && g_lost.every_scan && IsBlockOf(block, g_lost.step_file)) {
    g_lost.steps = 0;
  }
  if (op == kOpGetNext && g_lost.step_file != 0 && IsBlockOf(block, g_lost.step_file) &&
      ++g_lost.steps == g_lost.step_at) {
    if (g_lost.insert_path.empty()) return g_lost.step_status;
    std::uint8_t other[kPositionBlockSize] = {};
    std::string path = g_lost.insert_path + '\0';
    std::uint32_t other_length = 1;
    char owner[1] = {0};
    if (g_real(kOpOpen, other, owner, &other_length, path.data(),
               static_cast<std::uint8_t>(g_lost.insert_path.size()), 0) == kStatusOk) {
      std::string record = g_lost.inserted;
      std::string key_buffer(256, '\0');
      other_length = static_cast<std::uint32_t>(record.size());
      (void)g_real(kOpInsert, other, record.data(), &other_length, key_buffer.data(), 255, 0);
      other_length = 0;
      (void)g_real(kOpClose, other, nullptr, &other_length, nullptr, 0, 0);
    }
    g_lost.insert_path.clear();
  }
  if (g_lost.file_number != 0 && IsBlockOf(block, g_lost.file_number)) {
    if (op == kOpClose) {
      (void)g_real(op, block, data, length, key, key_length, key_number);
      g_lost.file_number = 0;
      return g_lost.status;
    }
    if (g_lost.updates_of_file >= g_lost.good_updates) return g_lost.status;
    if (op == kOpUpdate) {
      ++g_lost.updates_of_file;
      return kStatusOk;
    }
  }
  return g_real(op, block, data, length, key, key_length, key_number);
}

class RunFailureTest : public InstallationTest {
 protected:
  void SetUp() override {
    InstallationTest::SetUp();
    g_lost = LostCommit();
    g_real = SetRecordManagerEntry(&LosingEntry);
  }
  void TearDown() override {
    SetTerminationSignalForTesting(0);
    InstallationTest::TearDown();
  }
  const ConverterRow& RowOf(const std::string& path) {
    for (const ConverterRow& row : ConverterTable()) {
      if (path == row.path) return row;
    }
    ADD_FAILURE() << path;
    return ConverterTable()[0];
  }
  // Records of `path` whose current text is not the column of `language`.
  long NotHolding(const std::string& path, const std::string& language) {
    const ConverterRow& row = RowOf(path);
    const auto width = static_cast<std::size_t>(row.width);
    const auto source = static_cast<std::size_t>(SourceColumn(row, language));
    long n = 0;
    for (const std::string& r : ReadRecords(DataPath(row.path))) {
      if (r.compare(static_cast<std::size_t>(row.current), width, r, source, width) != 0) ++n;
    }
    return n;
  }
  std::string Ini(const std::string& path, const char* section) {
    return IniRead(path, section, "Idioma");
  }
};

// The commit of a code table fails in an unattended run: the file counts
// as not converted with what it really holds, the output names it and says
// that a new run finishes the job, and the language is recorded all the
// same (so that /AUTO applies it again).
TEST_F(RunFailureTest, AFailedCommitCountsTheFileWithWhatItReallyHolds) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  const long before = NotHolding("TAULES\\UPaisos", "SPA");
  const long records = static_cast<long>(ReadRecords(DataPath("TAULES\\UPaisos")).size());
  ASSERT_GT(before, 0);
  g_lost.file_number = 293;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);

  EXPECT_EQ(NotHolding("TAULES\\UPaisos", "SPA"), before) << "nothing reached the file";
  EXPECT_EQ(NotHolding("TAULES\\UVies", "SPA"), 0) << "the other files are converted";
  const ConversionTally& tally = Tally();
  ASSERT_EQ(tally.files.size(), 1u);
  EXPECT_EQ(tally.files[0].path, "TAULES\\UPaisos");
  EXPECT_EQ(tally.files[0].records, records);
  EXPECT_EQ(tally.files[0].not_converted, before);
  EXPECT_NE(tally.files[0].reason.find("confirmaci\xA2n ha fallado con el estado 18"), std::string::npos) << tally.files[0].reason;
  EXPECT_EQ(tally.not_converted, before);
  EXPECT_NE(con().output().find("NO SE HA CONVERTIDO DEL TODO: TAULES\\UPaisos (" +
                                std::to_string(before) + " de " + std::to_string(records) +
                                " registros)\r\nUNA NUEVA EJECUCI\xE0N ACABA EL TRABAJO.\r\n"),
            std::string::npos)
      << con().output();
  EXPECT_EQ(Ini(Native("Nuri.ini"), "Usuari"), "SPA");
  EXPECT_LT(DbSlot(293), 1) << "the file was closed after it was counted";
}

// The menu file stays open for the whole run: a failed commit surfaces at
// a later Update or Get Next (after which the area cannot be trusted); the
// file is counted again from a fresh open and stays open for the title.
TEST_F(RunFailureTest, TheMenuFileIsCountedAgainAndStaysOpen) {
  SetTerminalLanguage("GLG");
  ASSERT_TRUE(StartProgram("/AUTO"));
  const long before = NotHolding("menu", "GLG");
  ASSERT_GT(before, 3);
  g_lost.file_number = kMenuFileNumber;
  g_lost.status = kStatusIoError;
  g_lost.good_updates = 3;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);

  EXPECT_EQ(NotHolding("menu", "GLG"), before);
  ASSERT_FALSE(Tally().files.empty());
  EXPECT_EQ(Tally().files[0].path, "menu");
  EXPECT_EQ(Tally().files[0].not_converted, before);
  EXPECT_NE(Tally().files[0].reason.find("estado 2"), std::string::npos);
  EXPECT_GE(DbSlot(kMenuFileNumber), 1) << "open again for the rest of the run";
}

// A scan that another program's lock stopped early: the records it never
// reached count as not converted too, with the file named.
TEST_F(RunFailureTest, AScanStoppedEarlyCountsTheRecordsItNeverReached) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  g_lost.step_file = 148;  // TAULES\UVies
  g_lost.step_at = 3;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  const long missing = NotHolding("TAULES\\UVies", "SPA");
  ASSERT_GT(missing, 0);
  ASSERT_EQ(Tally().files.size(), 1u);
  EXPECT_EQ(Tally().files[0].path, "TAULES\\UVies");
  EXPECT_EQ(Tally().files[0].not_converted, missing);
  EXPECT_EQ(Tally().files[0].records,
            static_cast<long>(ReadRecords(DataPath("TAULES\\UVies")).size()));
  EXPECT_EQ(Tally().files[0].reason,
            "la conversi\xA2n se ha detenido con el estado 85 antes del final del fichero");
  EXPECT_EQ(Tally().not_converted, missing);
}

// A damaged index can hold fewer entries than the file has records: the
// scan along key 0 then ends with 9 as if at the end of the file, and the
// run used to count the file as converted. Stat's record count says that
// records were not reached; they are counted in physical order and the file
// is named with the true numbers, pointing to recutil check.
TEST_F(RunFailureTest, AScanThatEndsBeforeTheLastRecordNamesTheFileAsDamaged) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  g_lost.step_file = 148;  // TAULES\UVies: key 0 ends after 3 records, in every scan
  g_lost.step_at = 3;
  g_lost.step_status = kStatusEndOfFile;
  g_lost.every_scan = true;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  const long missing = NotHolding("TAULES\\UVies", "SPA");
  const long records = static_cast<long>(ReadRecords(DataPath("TAULES\\UVies")).size());
  ASSERT_GT(missing, 0);
  ASSERT_EQ(Tally().files.size(), 1u);
  const ConversionTally::FileProblem& f = Tally().files[0];
  EXPECT_EQ(f.path, "TAULES\\UVies");
  EXPECT_EQ(f.records, records);
  EXPECT_EQ(f.not_converted, missing);
  EXPECT_TRUE(f.damaged);
  EXPECT_EQ(f.reason, "la clave 0 ha llegado a 3 de los " + std::to_string(records) +
                          " registros que cuenta el fichero: puede que el fichero est\x82 "
                          "da\xA4" "ado; recutil check dice qu\x82 est\xA0 da\xA4" "ado y recutil "
                          "check --repair rehace sus claves");
  EXPECT_EQ(Tally().not_converted, missing);
  const std::string out = con().output();
  EXPECT_NE(out.find("NO SE HA CONVERTIDO DEL TODO: TAULES\\UVies (" + std::to_string(missing) +
                     " de " + std::to_string(records) + " registros)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("recutil check --repair"), std::string::npos) << out;
  EXPECT_EQ(out.find("UNA NUEVA EJECUCI"), std::string::npos) << "a rerun cannot finish it";
}

// Another program adds a record before the place the scan has reached: the
// file holds more records than the scan reached, and the one added does not
// hold the new text. Key 0 reaches it when read again, so the index is sound:
// the file is named with its counts, not as damaged, and a new run finishes.
TEST_F(RunFailureTest, ARecordAddedDuringTheScanIsCountedWithoutCallingTheFileDamaged) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  const ConverterRow& row = RowOf("TAULES\\UVies");
  std::string record = ReadRecords(DataPath(row.path)).front();
  record.replace(0, 2, "\x01\x01");  // Codi: before every record of key 0
  ASSERT_NE(record.compare(static_cast<std::size_t>(row.current), 15, record,
                           static_cast<std::size_t>(row.text_other), 15),
            0);
  g_lost.step_file = 148;
  g_lost.step_at = 3;
  g_lost.insert_path = DataPath(row.path);
  g_lost.inserted = record;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  const long records = static_cast<long>(ReadRecords(DataPath(row.path)).size());
  EXPECT_EQ(NotHolding("TAULES\\UVies", "SPA"), 1);
  ASSERT_EQ(Tally().files.size(), 1u);
  const ConversionTally::FileProblem& f = Tally().files[0];
  EXPECT_EQ(f.records, records);
  EXPECT_EQ(f.not_converted, 1);
  EXPECT_FALSE(f.damaged);
  EXPECT_NE(f.reason.find("mientras tanto otros programas han a\xA4" "adido registros"), std::string::npos)
      << f.reason;
  EXPECT_NE(con().output().find("UNA NUEVA EJECUCI"), std::string::npos) << con().output();
}

// A scan that a damaged file stops with 2 (an I/O error) is no lost work: it
// undid nothing, and the file is named as damaged, not as a failed commit.
TEST_F(RunFailureTest, AScanStoppedBy2NamesTheFileAsDamagedNotAsAFailedCommit) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  g_lost.step_file = 148;
  g_lost.step_at = 3;
  g_lost.step_status = kStatusIoError;
  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);
  const long missing = NotHolding("TAULES\\UVies", "SPA");
  ASSERT_EQ(Tally().files.size(), 1u);
  const ConversionTally::FileProblem& f = Tally().files[0];
  EXPECT_EQ(f.not_converted, missing);
  EXPECT_TRUE(f.damaged);
  EXPECT_EQ(f.reason.find("confirmaci"), std::string::npos) << f.reason;
  EXPECT_NE(f.reason.find("se ha detenido con el estado 2"), std::string::npos) << f.reason;
  EXPECT_NE(f.reason.find("recutil check"), std::string::npos) << f.reason;
}

// A failed commit in an interactive run: the closing message names the
// file and says that a new run finishes the job.
TEST_F(RunFailureTest, TheClosingMessageNamesEachFileNotConverted) {
  ASSERT_TRUE(StartProgram());
  con().QueueKey(keys::kRight);  // Castellà
  con().QueueKey(keys::kEnter);
  std::string message_screen;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    message_screen = Screenful();
    c.QueueKey(keys::kEnter);
    return true;
  });
  g_lost.file_number = 148;  // TAULES\UVies
  EXPECT_EQ(RunDriver(), DriverOutcome::kConfirmed);
  const std::string counts =
      "TAULES\\UVies (" + std::to_string(NotHolding("TAULES\\UVies", "SPA")) + " de " +
      std::to_string(ReadRecords(DataPath("TAULES\\UVies")).size()) + " registros)";
  EXPECT_NE(message_screen.find("NO SE HA CONVERTIDO DEL TODO:"), std::string::npos)
      << message_screen;
  EXPECT_NE(message_screen.find(counts), std::string::npos) << message_screen;
  EXPECT_NE(message_screen.find("UNA NUEVA EJECUCI\xE0N ACABA EL TRABAJO."), std::string::npos)
      << message_screen;
  ASSERT_EQ(Tally().files.size(), 1u);
  EXPECT_EQ(Tally().files[0].not_converted, NotHolding("TAULES\\UVies", "SPA"));
}

// A lock file that cannot be used: the file is not rewritten at all (a file
// with a lock is never rewritten without it), and the problem names the
// lock file and the reason.
TEST_F(RunFailureTest, AnUnusableLockFileLeavesItsFileUntouchedAndNamesTheReason) {
  struct Case {
    const char* what;
    bool read_only_file;  // else a directory stands in its place
    const char* reason;
  };
  const Case cases[] = {
      {"directory", false, "LOCKS\\RConcept.lck: a directory stands in its place"},
      {"read-only file", true, "LOCKS\\RConcept.lck: permission denied"},
  };
  for (const Case& c : cases) {
    SetTerminalLanguage("SPA");
    ASSERT_TRUE(StartProgram("/AUTO"));
    std::filesystem::create_directories(Native("LOCKS"));
    const std::string lock = Native("LOCKS/RConcept.lck");
    std::filesystem::remove_all(lock);
    if (c.read_only_file) {
      FILE* f = std::fopen(lock.c_str(), "w");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
      std::filesystem::permissions(lock, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
      if (FILE* w = std::fopen(lock.c_str(), "r+"); w != nullptr) {  // root may write anything
        std::fclose(w);
        std::error_code ec;  // writable again, so that it can go (Windows)
        std::filesystem::permissions(lock, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(lock);
        continue;
      }
    } else {
      std::filesystem::create_directory(lock);
    }
    const auto before = ReadRecords(DataPath("DADES\\RConcept"));
    ResetTally();
    EXPECT_EQ(RunDriver(), DriverOutcome::kConverted) << c.what;
    EXPECT_EQ(ReadRecords(DataPath("DADES\\RConcept")), before) << c.what;
    EXPECT_EQ(NotHolding("DADES\\VConcept", "SPA"), 0) << "the next file is converted";
    ASSERT_EQ(Tally().files.size(), 1u) << c.what;
    EXPECT_EQ(Tally().files[0].path, "DADES\\RConcept");
    EXPECT_EQ(Tally().files[0].records, static_cast<long>(before.size()));
    EXPECT_EQ(Tally().files[0].not_converted, NotHolding("DADES\\RConcept", "SPA"));
    EXPECT_NE(Tally().files[0].reason.find(c.reason), std::string::npos) << Tally().files[0].reason;
    EXPECT_NE(Tally().first_problem.find(c.reason), std::string::npos) << Tally().first_problem;
    std::error_code ec;  // writable again, so that it can go (Windows)
    std::filesystem::permissions(lock, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(lock);
    std::int16_t status = 0;
    DbResetAll(&status);
  }
}

// A termination signal in mid-file: the scan stops at the record boundary,
// the rewrites so far are committed, the lock is released, no further file
// is begun and the language is not recorded.
TEST_F(RunFailureTest, ATerminationSignalStopsAtARecordBoundaryAndReleasesTheLock) {
  SetTerminalLanguage("SPA");
  ASSERT_TRUE(StartProgram("/AUTO"));
  const std::string nuri = FileBytes(Native("Nuri.ini"));
  const ConverterRow& hconcept = RowOf("DADES\\HConcept");
  // Updates before HConcept: the menu and the nine tables.
  int before_hconcept = 0;
  for (const ConverterRow& row : ConverterTable()) {
    if (&row == &hconcept) break;
    before_hconcept += static_cast<int>(ReadRecords(DataPath(row.path)).size());
  }
  const long records = static_cast<long>(ReadRecords(DataPath(hconcept.path)).size());
  ASSERT_GE(records, 3);
  g_lost.signal_at_update = before_hconcept + 2;
  g_lost.signal = SIGTERM;
  const long not_holding = NotHolding(hconcept.path, "SPA");

  EXPECT_EQ(RunDriver(), DriverOutcome::kConverted);  // unattended: the caller ends the run
  EXPECT_EQ(TerminationSignal(), SIGTERM);
  // Two records rewritten, the rest as they were.
  EXPECT_EQ(NotHolding(hconcept.path, "SPA"), not_holding - 2);
  EXPECT_EQ(NotHolding("DADES\\HDespesa", "CAT"), 0) << "the next file was not begun";
  const std::string lock = FileBytes(Native("LOCKS/HConcept.lck"));
  ASSERT_EQ(lock.size(), kLockRecordSize);
  EXPECT_EQ(lock[34], ' ') << "the lock record is free again";
  EXPECT_EQ(FileBytes(Native("Nuri.ini")), nuri) << "nothing recorded";
  ASSERT_FALSE(Tally().files.empty());
  EXPECT_EQ(Tally().files.back().path, hconcept.path);
  EXPECT_EQ(Tally().files.back().reason, "la ejecuci\xA2n se ha interrumpido");
}

}  // namespace
}  // namespace kel
