// The private server the server-backend tests run against answers, and the
// server engine's rewrites that move keys give what the SQLite files give.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/test_util.h"
#include "util/cp850.h"

#ifdef KEL_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::TempDir;

constexpr int kLen = testing::kParityRecordLength;

CreateSpec Spec() { return testing::ParitySpec(); }

struct Side {
  Handle h;
};

TEST(PgServerTest, TheTestServerAnswers) {
  const char* conninfo = std::getenv("KEL_TEST_PG");
  if (conninfo == nullptr || *conninfo == '\0') {
    GTEST_SKIP() << "no PostgreSQL server for the tests (libpq or the server programs missing)";
  }
#ifdef KEL_HAVE_LIBPQ
  PGconn* conn = PQconnectdb(conninfo);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
  PQfinish(conn);
#endif
}

// Rewrites that move keys, over many records read ahead along key 0 and
// along the physical order: the duplicate and null keys change on every
// record, now and then the unique key too (to a taken value: 5; to a new
// one: the record moves along the path being read).
TEST(PgServerTest, ALongLoopRewritingKeysGivesTheSameAnswersOnBothEngines) {
  if (testing::TestServer().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  TempDir dir;
  const std::string path = dir.File("m.dat");
  Side sqlite, server;
  // A second open of the same file rewrites records the first one has read
  // ahead but not reached yet.
  Handle other_sqlite, other_server;
  ASSERT_EQ(testing::CreateFile(path, Spec()), kStatusOk);
  ASSERT_EQ(sqlite.h.Open(path), kStatusOk);
  ASSERT_EQ(other_sqlite.Open(path), kStatusOk);
  testing::BackendScope scope(testing::Backend::kServer, dir.path());
  ASSERT_EQ(testing::CreateFile(path, Spec()), kStatusOk);
  ASSERT_EQ(server.h.Open(path), kStatusOk);
  ASSERT_EQ(other_server.Open(path), kStatusOk);
  for (int i = 0; i < 1500; ++i) {
    char k[8];
    std::snprintf(k, sizeof k, "%03X", i);
    const std::string r = Rec(std::string(k) + "xy " + std::to_string(i), kLen, '.');
    ASSERT_EQ(sqlite.h.Insert(r), kStatusOk);
    ASSERT_EQ(server.h.Insert(r), kStatusOk);
  }
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  const char* dup_values[] = {"xx", "xy", "yz", "zz"};
  const char* null_values[] = {" ", "p", "q"};
  for (int pass = 0; pass < 2; ++pass) {
    const bool physical = pass == 1;
    std::int16_t a = physical ? sqlite.h.Step(kOpStepFirst) : sqlite.h.Get(kOpGetFirst, "", 0);
    std::int16_t b = physical ? server.h.Step(kOpStepFirst) : server.h.Get(kOpGetFirst, "", 0);
    int n = 0;
    while (a == kStatusOk && n < 3000) {
      ASSERT_EQ(b, kStatusOk) << n;
      ASSERT_EQ(sqlite.h.record(), server.h.record()) << "pass " << pass << " record " << n;
      std::string changed = sqlite.h.record();
      changed.replace(3, 2, dup_values[(n + pass) % 4]);
      changed.replace(5, 1, null_values[n % 3]);
      if (n % 7 == 3) changed.replace(0, 3, "000");  // taken
      if (n % 11 == 5) {
        char k[8];
        std::snprintf(k, sizeof k, "%c%02X", 'P' + pass, n % 256);  // new, or taken by then
        changed.replace(0, 3, k);
      }
      const std::string trace = "pass " + std::to_string(pass) + " record " + std::to_string(n);
      a = sqlite.h.Update(changed);
      b = server.h.Update(changed);
      ASSERT_EQ(a, b) << trace;
      if (n % 9 == 4) {
        std::uint32_t pa = 0, pb = 0;
        ASSERT_EQ(sqlite.h.Position(&pa), kStatusOk);
        ASSERT_EQ(server.h.Position(&pb), kStatusOk);
        ASSERT_EQ(pa, pb);
        a = other_sqlite.Direct(pa + 2);
        b = other_server.Direct(pb + 2);
        ASSERT_EQ(a, b) << trace;
        if (a == kStatusOk) {
          std::string ahead = other_sqlite.record();
          ahead.replace(3, 2, dup_values[n % 4]);
          ahead.replace(12, 4, "AHD" + std::to_string(pass));
          ASSERT_EQ(other_sqlite.Update(ahead), kStatusOk) << trace;
          ASSERT_EQ(other_server.Update(ahead), kStatusOk) << trace;
        }
      }
      ++n;
      if (n % 500 == 0) {
        ASSERT_EQ(FlushRecordManager(), kStatusOk);
      }
      a = physical ? sqlite.h.Step(kOpStepNext) : sqlite.h.Get(kOpGetNext, "", 0);
      b = physical ? server.h.Step(kOpStepNext) : server.h.Get(kOpGetNext, "", 0);
      ASSERT_EQ(a, b) << trace;
    }
    for (int key : {0, 1, 2}) {
      std::int16_t sa, sb;
      EXPECT_EQ(testing::ReadAll(sqlite.h, key, &sa), testing::ReadAll(server.h, key, &sb));
      EXPECT_EQ(sa, sb);
    }
    std::string sa, sb;
    ASSERT_EQ(sqlite.h.Stat(&sa), kStatusOk);
    ASSERT_EQ(server.h.Stat(&sb), kStatusOk);
    EXPECT_EQ(sa, sb) << "pass " << pass;
  }
  ASSERT_EQ(other_server.Close(), kStatusOk);
  ASSERT_EQ(server.h.Close(), kStatusOk);
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// On a server "Ñ" and "ñ" name one table, as they name one file on the
// family's file systems; a table created when only a-z were folded keeps
// its name and stays reachable under every spelling, and is neither
// created again nor shadowed by a new one.
TEST(PgServerTest, AccentedCapitalsNameTheSameTableAndOldNamesStayReachable) {
  if (testing::TestServer().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  TempDir dir;
  testing::BackendScope scope(testing::Backend::kServer, dir.path());
  // The engine takes system paths: code page 850.
  const std::string upper = Utf8ToCp850(dir.File("DADES/ÑANDÚ.dat"));
  const std::string lower = Utf8ToCp850(dir.File("dades/ñandú.dat"));
  ASSERT_EQ(testing::CreateFile(upper, testing::ParitySpec()), kStatusOk);
  EXPECT_EQ(testing::CreateFile(lower, testing::ParitySpec()), kStatusFileAlreadyExists);
  {
    Handle h;
    ASSERT_EQ(h.Open(upper), kStatusOk);
    ASSERT_EQ(h.Insert(Rec("AAA", kLen)), kStatusOk);
  }
  Handle h;
  ASSERT_EQ(h.Open(lower), kStatusOk);
  ASSERT_EQ(h.Get(kOpGetFirst, ""), kStatusOk);
  EXPECT_EQ(h.record(), Rec("AAA", kLen));
  ASSERT_EQ(h.Close(), kStatusOk);

  // The name the engine's first versions gave this file.
  std::string error;
  ASSERT_TRUE(testing::RunOnTestServer("UPDATE \"" + scope.schema() +
                                           "\".kel_files SET name = 'dades/ÑandÚ'",
                                       &error))
      << error;
  for (const std::string& path : {upper, lower, Utf8ToCp850(dir.File("Dades/Ñandú.DAT"))}) {
    Handle again;
    ASSERT_EQ(again.Open(path), kStatusOk) << path;
    ASSERT_EQ(again.Get(kOpGetFirst, ""), kStatusOk) << path;
    EXPECT_EQ(again.record(), Rec("AAA", kLen)) << path;
  }
  EXPECT_EQ(testing::CreateFile(lower, testing::ParitySpec()), kStatusFileAlreadyExists);
  std::vector<std::string> names;
  ASSERT_EQ(ListServerDataFiles(&names), kStatusOk);
  EXPECT_EQ(names, std::vector<std::string>{"dades/ÑandÚ"});
}

}  // namespace
}  // namespace kel
