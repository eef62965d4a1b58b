#include "recman/store_sql.h"

#include "recman/recman.h"
#include "recman/store.h"

namespace kel {

// (Appending, not "k" + ...: GCC 12 warns wrongly about the latter.)
std::string KeyColumn(int key) {
  std::string col = "k";
  col += std::to_string(key);
  return col;
}

std::string KeySql(int slot, int key) {
  const std::string k = KeyColumn(key);
  const std::string from = " FROM kel_records INDEXED BY kel_key" + std::to_string(key) + " WHERE ";
  const std::string select = "SELECT id, data, " + k + from;
  const std::string up = " ORDER BY " + k + ", id LIMIT 1";
  const std::string down = " ORDER BY " + k + " DESC, id DESC LIMIT 1";
  switch (slot) {
    case kSlotFirst:
      return select + k + " IS NOT NULL" + up;
    case kSlotLast:
      return select + k + " IS NOT NULL" + down;
    case kSlotEqual:
      return select + k + " = ?1" + up;
    case kSlotGreater:
      return select + k + " > ?1" + up;
    case kSlotGreaterOrEqual:
      return select + k + " >= ?1" + up;
    case kSlotLess:
      return select + k + " < ?1" + down;
    case kSlotLessOrEqual:
      return select + k + " <= ?1" + down;
    case kSlotSameAfter:
      return select + k + " = ?1 AND id > ?2" + up;
    case kSlotSameBefore:
      return select + k + " = ?1 AND id < ?2" + down;
    case kSlotExistsOther:
      return "SELECT 1" + from + k + " = ?1 AND id <> ?2 LIMIT 1";
  }
  return "";
}

void BindBlob(sqlite3_stmt* s, int i, const void* p, std::size_t n) {
  // A zero-length BLOB must not bind as NULL.
  static const char kEmpty = 0;
  sqlite3_bind_blob(s, i, n ? p : &kEmpty, static_cast<int>(n), SQLITE_STATIC);
}

std::int16_t StatusFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kStatusOk;
    case SQLITE_CONSTRAINT:
      return (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
                 ? kStatusDuplicateKey
                 : kStatusIoError;
    case SQLITE_FULL:
      return kStatusDiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kStatusFileInUse;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kStatusAccessDenied;
    case SQLITE_NOTADB:
      return kStatusNotADataFile;
    default:
      return kStatusIoError;  // I/O errors, corruption, out of memory
  }
}

}  // namespace kel
