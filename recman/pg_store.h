// The PostgreSQL engine: each data file is one table of the installation's
// schema on a server that every station of the installation reaches.
// Internal to the record manager.
//
// Server schema (docs/record-files.md has the full description):
//   <schema>.kel_files(id, name, format, record_length, create_buffer,
//                      owner, owner_mode, counts)
//       one row per data file; name = ServerFileName of its path ("taules/
//       upaisos"); counts = 8-byte little-endian integers: records, then the
//       unique values of each key
//   <schema>.kel_r<id>(id, data, k0, k1, ...)   the records, as in a SQLite
//       file: id = position, data = the bytes, kN = key N encoded, NULL when
//       the record is left out of key N; an index per key on (kN) (UNIQUE)
//       or (kN, id) (duplicates), WHERE kN IS NOT NULL
//
// Locks are the session's advisory locks, keyed by the records table's oid:
// the open lock, the "takes record locks" mark and the file's write lock
// (held by the transaction that writes the file) on the 64-bit keys
// 4 * oid + 0, 1, 2; the record locks on the pair (oid, position).
#ifndef KEL_RECMAN_PG_STORE_H_
#define KEL_RECMAN_PG_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/record_locks.h"
#include "recman/store.h"

namespace kel {

// What the entry point of the record manager tells the file's SharedFile
// apart by: the server, the schema and the file's name there.
std::string ServerIdentity(const RecordManagerConfig& config, const std::string& native_path);

// Opens the file named by `native_path` on the configured server. 12 when
// the schema has no such file, 30 when its description is unreadable, 2
// when the server cannot be reached.
[[nodiscard]] std::int16_t OpenServerFile(const RecordManagerConfig& config,
                                          const std::string& native_path,
                                          std::unique_ptr<Store>* out);

// The locks of one more open of a file opened by OpenServerFile.
std::unique_ptr<OpenLocks> ServerLocks(Store* store);

// Creates (or, with `replace`, replaces) the file on the configured server,
// creating the schema and its catalogue when missing. 59 when it exists and
// `replace` is false, 85 when another open has it, 2 on server failures.
[[nodiscard]] std::int16_t CreateServerFile(const RecordManagerConfig& config,
                                            const std::string& native_path,
                                            const FileSpec& file_spec, bool replace);

// RepairDataFile on a server (admin.h): opens the file exclusively and
// rebuilds its keys, indexes and counts in one transaction.
struct RepairOutcome;
[[nodiscard]] std::int16_t RepairServerFile(const std::string& native_path,
                                            const std::string& owner, RepairOutcome* out);

// After fork(): the child forgets its parent's server connections.
void ForgetServerConnectionsAfterFork();

}  // namespace kel

#endif  // KEL_RECMAN_PG_STORE_H_
