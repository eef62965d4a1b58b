// The layer's choice of record manager: our engine, or an installed one's
// library named by the configuration, which then gets every call; and the
// open failure when there is no record manager to call.
#include "datafile/db_manager.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "recman/backend_config.h"
#include "recman/manager_library.h"
#include "recman/recman.h"
#include "tests/support/child_process.h"
#include "util/fixed_text.h"

namespace kel::testing {
namespace {

// Sets an environment variable of this process (the counting library reads
// its orders from there).
void SetVariable(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  (void)_putenv((name + "=" + value).c_str());
#else
  (void)::setenv(name.c_str(), value.c_str(), 1);
#endif
}

class DbManagerTest : public DataFileTest {
 protected:
  void SetUp() override {
    DataFileTest::SetUp();
    con().SetExhaustedHandler([](MemoryConsole& c) {
      c.QueueKey(keys::kEnter);
      return true;
    });
    ASSERT_EQ(CreateFile(root() + "T.dat", TestFileSpec{12, 4096, {{{1, 3, 0x3}}}, ""}), kStatusOk);
    Insert(root() + "T.dat", {Rec("AAA", 12), Rec("BBB", 12)});
  }
  void Use(const std::string& library, const std::string& server = "") {
    RecordManagerConfig config;
    config.library = library;
    config.server = server;
    ConfigureRecordManager(config);
    ResetRecordManagerChoice();
  }
  // The lines the counting library wrote: "operation status".
  static std::vector<std::string> CountedCalls(const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  char area_[64] = {};
};

// Every call of the layer goes to the library: its position blocks are the
// library's (our engine does not know them), and Close and Reset reach it.
TEST_F(DbManagerTest, AConfiguredLibraryGetsEveryCall) {
  RecordManagerEntry standin = nullptr;
  std::string problem;
  ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &standin, &problem), kStatusOk);
  Use(KEL_STANDIN_LIBRARY);
  std::int16_t st = -1;
  DbOpen(1, root() + "T", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(RecordManager(), standin);
  EXPECT_FALSE(UsingOwnRecordManager());
  EXPECT_EQ(RecordManagerProblem(), "");
  DbFind(1, 0, "", 1, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_EQ(std::string(area_, 12), Rec("AAA", 12));
  std::uint8_t* block =
      DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(1))].PositionBlock;
  std::uint8_t saved[kPositionBlockSize];
  std::memcpy(saved, block, sizeof saved);
  std::string data(1536, ' '), key(256, ' ');
  std::uint32_t length = 1536;
  EXPECT_EQ(BTRCALL(kOpStat, saved, data.data(), &length, key.data(), 255, 0), kStatusFileNotOpen);
  length = 1536;
  EXPECT_EQ(standin(kOpStat, saved, data.data(), &length, key.data(), 255, 0), kStatusOk);
  EXPECT_EQ(DbFlush(), kStatusOk);
  DbResetAll(&st);
  EXPECT_EQ(st, kStatusOk);
  length = 1536;
  EXPECT_EQ(standin(kOpStat, saved, data.data(), &length, key.data(), 255, 0), kStatusFileNotOpen)
      << "the Reset closed the library's open";
}

TEST_F(DbManagerTest, WithoutALibraryOurEngineIsCalled) {
  Use("");
  std::int16_t st = -1;
  DbOpen(1, root() + "T", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  EXPECT_TRUE(UsingOwnRecordManager());
  EXPECT_EQ(RecordManager(), &BTRCALL);
}

// No record manager: the open failure with status 20 before anything is
// opened or created (a missing file is not created from its dictionary),
// the reason kept for the program's last words, and no call anywhere.
TEST_F(DbManagerTest, NoRecordManagerToCallIsTheOpenFailureWithStatus20) {
  struct Case {
    const char* what;
    std::string library, server;
    std::vector<std::string> problem_holds;
    std::string reason_holds;
  };
  const Case cases[] = {
      {"missing library",
       "/nonexistent/WBTRV32.DLL",
       "",
       {"/nonexistent/WBTRV32.DLL", "cannot be loaded"},
       "No es pot carregar la biblioteca del gestor de registres ([Dades] Gestor) "
       "/nonexistent/WBTRV32.DLL: "},
      {"library without BTRCALL",
       KEL_PROBE_LIBRARY,
       "",
       {KEL_PROBE_LIBRARY, "BTRCALL"},
       std::string("punt d'entrada BTRCALL: ") + KEL_PROBE_LIBRARY},
      {"library and server",
       KEL_STANDIN_LIBRARY,
       "host=db1",
       {"Gestor", "Servidor"},
       "un gestor de registres (Gestor o KELBTR) i un servidor (Servidor o KELDB)"},
  };
  WriteDictionary("NEW", TestFileSpec{12, 4096, {{{1, 3, 0x3}}}, ""}.Bytes());
  for (const Case& c : cases) {
    Use(c.library, c.server);
    ExitCodes().clear();
    for (const char* name : {"T", "NEW"}) {
      std::int16_t st = -1;
      DbOpen(1, root() + name, area_, sizeof area_, &st);
      EXPECT_EQ(st, kStatusRecordManagerInactive) << c.what << " " << name;
      // The message, and under it the reason in the session's language.
      const std::string message = "NO ES POT ACCEDIR AL FITXER " + root() + name + " (20)\n";
      EXPECT_EQ(LastOpenFailure().substr(0, message.size()), message) << c.what;
      EXPECT_NE(LastOpenFailure().find(c.reason_holds), std::string::npos)
          << c.what << ": " << LastOpenFailure();
      EXPECT_LT(DbSlot(1), 1) << c.what;
    }
    EXPECT_EQ(ExitCodes(), (std::vector<int>{kExitOpenFailure, kExitOpenFailure})) << c.what;
    EXPECT_FALSE(FileExists(root() + "NEW.dat")) << c.what << ": nothing created";
    for (const std::string& part : c.problem_holds) {
      EXPECT_NE(RecordManagerProblem().find(part), std::string::npos)
          << c.what << ": " << RecordManagerProblem();
    }
    EXPECT_FALSE(UsingOwnRecordManager()) << c.what;
    EXPECT_EQ(DbFlush(), kStatusOk) << c.what;
    std::int16_t st = -1;
    DbResetAll(&st);
    EXPECT_EQ(st, kStatusOk) << c.what << ": nothing was held";
  }
}

// The other process of the test below: opens the file of the test's folder
// through the counting library in front of the stand-in, reads, and ends
// with the file still open.
TEST_F(DbManagerTest, EndsWithAFileOpen) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  // Its own scratch folder is not used.
  (void)ChangeDirectory(previous_dir_);
  std::error_code ignored;
  std::filesystem::remove_all(install_, ignored);
  SetVariable("KELBTR_NEXT", KEL_STANDIN_LIBRARY);
  SetVariable("KELBTR_COUNT", TestArgument("kel-count"));
  Use(KEL_COUNTING_LIBRARY);
  std::int16_t st = -1;
  DbOpen(1, TestArgument("kel-install") + "\\T", area_, sizeof area_, &st);
  DbFind(1, 0, "", 1, &st);
  std::exit(st == kStatusOk ? 0 : 1);
}

// A process that ends with files still open gives them back to the loaded
// record manager with a Reset, after the library's first answer; the counting
// library in front of the stand-in sees the calls in order.
TEST_F(DbManagerTest, TheEndOfTheProcessResetsTheLoadedRecordManager) {
  const std::string counted = install_ + "/calls.txt";
  EXPECT_EQ(RunChildTest("DbManagerTest.EndsWithAFileOpen",
                         {"--kel-install=" + install_, "--kel-count=" + counted}),
            0);
  const std::vector<std::string> calls = CountedCalls(counted);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "0 0") << "the Open came first";
  EXPECT_EQ(calls.back(), "28 0") << "the Reset came last";
  // Nothing is left open by the ended process.
  RawOpen exclusive(root() + "T.dat", kOpenExclusive);
  EXPECT_EQ(exclusive.status(), kStatusOk);
}

}  // namespace
}  // namespace kel::testing
