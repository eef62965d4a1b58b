// SQL text and small SQLite helpers shared by the store's files. Internal.
#ifndef KEL_RECMAN_STORE_SQL_H_
#define KEL_RECMAN_STORE_SQL_H_

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace kel {

// The engine's format (kel_file.format, PRAGMA user_version) and the
// database's application id ("KELR").
inline constexpr int kFormat = 1;
inline constexpr int kApplicationId = 0x4B454C52;

// Statement slots per key.
enum KeySlot : int {
  kSlotFirst,
  kSlotLast,
  kSlotEqual,
  kSlotGreater,
  kSlotGreaterOrEqual,
  kSlotLess,
  kSlotLessOrEqual,
  kSlotSameAfter,
  kSlotSameBefore,
  kSlotExistsOther,
  kKeySlotCount,
};

// The column of key `key` ("k0", "k1", ...).
std::string KeyColumn(int key);

// The statement of `slot` for key `key`. Every one names the key's index
// (INDEXED BY), so a query that could not use it fails to prepare instead of
// scanning the table.
std::string KeySql(int slot, int key);

// Resets a statement when the scope ends, whatever path leaves it.
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* s) : s_(s) {}
  ~ResetOnExit() {
    if (s_ != nullptr) sqlite3_reset(s_);
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* s_;
};

// Binds bytes as a BLOB (never as NULL, also when empty).
void BindBlob(sqlite3_stmt* s, int i, const void* p, std::size_t n);

}  // namespace kel

#endif  // KEL_RECMAN_STORE_SQL_H_
