// The list of a server schema's data files, read from its catalogue, and
// the count of the process's waits for servers.
#include <string>
#include <vector>

#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/pg_conn.h"
#include "recman/recman.h"

namespace kel {

std::int16_t ListServerDataFiles(std::vector<std::string>* names) {
  names->clear();
  const RecordManagerConfig& config = RecordManagerConfiguration();
  if (config.server.empty()) return kStatusInvalidOperation;
  PgConn* conn = nullptr;
  if (std::int16_t st = PgConn::Acquire(config.server, &conn); st != kStatusOk) return st;
  PgRows exists;
  std::int16_t st = conn->Query("SELECT to_regclass(quote_ident($1) || '.kel_files') IS NULL",
                                {PgParam::Text(config.schema)}, &exists);
  if (st == kStatusOk && (exists.rows() != 1 || exists.Int8(0, 0) != 0)) {
    st = kStatusFileNotFound;
  }
  PgRows rows;
  if (st == kStatusOk) {
    // Byte order, whatever the database's collation.
    st = conn->Query("SELECT name FROM " + QuoteIdentifier(config.schema) +
                         ".kel_files ORDER BY name COLLATE \"C\"",
                     {}, &rows);
  }
  if (st == kStatusOk) {
    names->reserve(static_cast<std::size_t>(rows.rows()));
    for (int i = 0; i < rows.rows(); ++i) names->push_back(rows.Bytes(i, 0));
  }
  conn->Release();
  return st;
}

std::uint64_t ServerWaits() { return PgConn::Waits(); }

}  // namespace kel
