#include "bench/server_copy_reference.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace kel {
namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string Quoted(PGconn* c, const std::string& identifier) {
  char* q = PQescapeIdentifier(c, identifier.c_str(), identifier.size());
  std::string out = q == nullptr ? identifier : q;
  PQfreemem(q);
  return out;
}

// Runs `sql`; true when it gave `expected`.
bool Run(PGconn* c, const std::string& sql, ExecStatusType expected, std::string* why,
         Result* keep = nullptr) {
  Result r(PQexec(c, sql.c_str()), &PQclear);
  if (PQresultStatus(r.get()) != expected) {
    *why = sql + ": " + PQerrorMessage(c);
    return false;
  }
  if (keep != nullptr) *keep = std::move(r);
  return true;
}

}  // namespace

double ServerCopyMicrosPerRow(const std::string& conninfo, const std::string& schema,
                              const std::string& file_name, std::string* why) {
  Connection c(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (PQstatus(c.get()) != CONNECTION_OK) {
    *why = PQerrorMessage(c.get());
    return -1;
  }
  // The server's notices ("table ... does not exist, skipping") are not
  // part of the report.
  PQsetNoticeProcessor(c.get(), [](void*, const char*) {}, nullptr);
  const std::string s = Quoted(c.get(), schema);
  Result found(nullptr, &PQclear);
  char* literal = PQescapeLiteral(c.get(), file_name.c_str(), file_name.size());
  const std::string name = literal == nullptr ? "''" : literal;
  PQfreemem(literal);
  if (!Run(c.get(), "SELECT 'kel_r' || id FROM " + s + ".kel_files WHERE name = " + name,
           PGRES_TUPLES_OK, why, &found)) {
    return -1;
  }
  if (PQntuples(found.get()) != 1) {
    *why = "no file " + file_name + " in the schema's catalogue";
    return -1;
  }
  const std::string table = s + "." + Quoted(c.get(), PQgetvalue(found.get(), 0, 0));
  const std::string copy = s + ".kel_copy_reference";

  // The rows as the server's binary COPY format gives them.
  std::string rows;
  if (!Run(c.get(), "COPY (SELECT * FROM " + table + " ORDER BY id) TO STDOUT (FORMAT binary)",
           PGRES_COPY_OUT, why)) {
    return -1;
  }
  char* buffer = nullptr;
  int got;
  while ((got = PQgetCopyData(c.get(), &buffer, 0)) > 0) {
    rows.append(buffer, static_cast<std::size_t>(got));
    PQfreemem(buffer);
  }
  Result end(PQgetResult(c.get()), &PQclear);
  while (PGresult* more = PQgetResult(c.get())) PQclear(more);
  if (got != -1 || PQresultStatus(end.get()) != PGRES_COMMAND_OK) {
    *why = std::string("copy out: ") + PQerrorMessage(c.get());
    return -1;
  }
  const long long count = std::atoll(PQcmdTuples(end.get()));
  // The same columns, checks, indexes and page fill as the file's table.
  if (!Run(c.get(),
           "DROP TABLE IF EXISTS " + copy + "; CREATE TABLE " + copy + " (LIKE " + table +
               " INCLUDING ALL) WITH (fillfactor = 80)",
           PGRES_COMMAND_OK, why)) {
    return -1;
  }

  const auto start = std::chrono::steady_clock::now();
  bool ok = Run(c.get(), "BEGIN", PGRES_COMMAND_OK, why) &&
            Run(c.get(), "COPY " + copy + " FROM STDIN (FORMAT binary)", PGRES_COPY_IN, why);
  constexpr std::size_t kPiece = 256 << 10;
  for (std::size_t at = 0; ok && at < rows.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, rows.size() - at);
    ok = PQputCopyData(c.get(), rows.data() + at, static_cast<int>(n)) == 1;
  }
  if (ok) ok = PQputCopyEnd(c.get(), nullptr) == 1;
  if (ok) {
    Result done(PQgetResult(c.get()), &PQclear);
    while (PGresult* more = PQgetResult(c.get())) PQclear(more);
    ok = PQresultStatus(done.get()) == PGRES_COMMAND_OK;
  }
  if (!ok && why->empty()) *why = std::string("copy in: ") + PQerrorMessage(c.get());
  ok = ok && Run(c.get(), "COMMIT", PGRES_COMMAND_OK, why);
  const double micros =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::string ignored;
  if (!ok) Run(c.get(), "ROLLBACK", PGRES_COMMAND_OK, &ignored);
  Run(c.get(), "DROP TABLE IF EXISTS " + copy, PGRES_COMMAND_OK, &ignored);
  if (!ok) return -1;
  if (count <= 0) {
    *why = "the file has no rows";
    return -1;
  }
  return micros / static_cast<double>(count);
}

}  // namespace kel
