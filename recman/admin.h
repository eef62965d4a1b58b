// Administration of data files beyond the classic operations: what the
// administrator's tool (recutil) and the benchmarks need. Each function takes
// a position block opened with BTRCALL; a block that is not open gives 3.
#ifndef KEL_RECMAN_ADMIN_H_
#define KEL_RECMAN_ADMIN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// Checks the file: SQLite's integrity check, every record's length, every
// stored key against the record's bytes, the counts of records and unique
// values. Commits the block's pending work first. Appends one line per
// problem to `*report`. 0 when clean, 2 when a problem was found.
[[nodiscard]] std::int16_t CheckDataFile(void* position_block, std::string* report);

// What RepairDataFile did.
struct RepairOutcome {
  // Records in the repaired file.
  std::int64_t kept = 0;
  // What could not be read: one line per record, or per damaged page (its
  // range of positions), for the administrator.
  std::vector<std::string> unreadable;
  // Records read whole that the repaired file cannot hold (their key value
  // in a key without duplicates is another record's: bytes changed on the
  // disk), their bytes and why; the caller keeps them somewhere.
  std::vector<std::string> refused;
  std::vector<std::string> refused_why;
  // SQLite files: where the damaged file was kept (its "-wal" beside it).
  std::string damaged_copy;
};

// Rebuilds the keys of the data file at `native_path` from its records, on
// the configured engine, keeping every record that can be read.
// - SQLite files: every record that can still be read, whatever pages are
//   damaged, goes with its position into a new file made from the file's
//   own specification (kept in it) and its owner name; its keys and counts
//   are computed from the records' bytes; the new file takes the old one's
//   place and the old one is kept as `native_path` + ".damaged" (".2"...
//   when that exists). 30 when the file's description cannot be read (no
//   repair is possible: create it from its dictionary and load a save).
// - A server: PostgreSQL keeps its tables' pages itself (a page it cannot
//   read is its own error, 2); in one transaction every record's stored
//   keys are computed again from its bytes, records whose key a key without
//   duplicates already holds are taken out (refused), the table's indexes
//   are rebuilt (REINDEX) and the counts set from what is stored. Opens the
//   file exclusively with `owner`.
// Nobody may have the file open: 85 otherwise. 12 when it does not exist.
[[nodiscard]] std::int16_t RepairDataFile(const std::string& native_path,
                                          const std::string& owner, RepairOutcome* out);

// Inserts every record (each exactly the record length) in one transaction:
// all of them or none (on a server: one COPY, with one wait for the
// answers). On failure `*failed` is the index of the record that
// failed and the file is as it was. The block's currency is reset. Holds the
// file's write lock for the whole batch.
[[nodiscard]] std::int16_t InsertAll(void* position_block, const std::vector<std::string>& records,
                                     std::size_t* failed);

// The bytes of records that a caller moving many records (recutil copy,
// the benchmarks' loading) hands to one InsertAll: on a server each call
// ends with a commit, which waits for the server's log flush, and a batch
// this big makes that wait a small share of each record's cost.
inline constexpr std::size_t kInsertAllBatchBytes = std::size_t{8} << 20;

// Replaces `bytes` at `offset` (0-based) of every record with one SQL UPDATE
// in one transaction: the physical bound of a rewrite. 27 when the range
// touches a key segment or leaves the record.
[[nodiscard]] std::int16_t RewriteEveryRecord(void* position_block, int offset,
                                              const std::string& bytes);

// The names of the data files of the configured server schema
// (RecordManagerConfiguration()'s server and schema), as the server names
// them (ServerFileName: "taules/upaisos"), in byte order. Needs no position
// block. `*names` is emptied first and stays empty on failure. 0 (possibly
// with no names: a catalogue without rows); 12 when the schema or its
// catalogue does not exist (nothing was ever copied or created there);
// 2 when the server cannot be reached (or this build has no server engine);
// 1 when no server is configured.
[[nodiscard]] std::int16_t ListServerDataFiles(std::vector<std::string>* names);

// How many times this process has waited for a server's answers since it
// started: one round trip each (0 without a server). The benchmarks divide
// it by the records they went through.
std::uint64_t ServerWaits();

// The native path of the data file (for messages and the side files).
std::string DataFilePath(void* position_block);

}  // namespace kel

#endif  // KEL_RECMAN_ADMIN_H_
