// The private server the server-backend tests run against answers.
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"

#ifdef KEL_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

namespace kel {
namespace {

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

}  // namespace
}  // namespace kel
