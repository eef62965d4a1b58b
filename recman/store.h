// One data file as one process uses it, behind one interface with two
// engines: a SQLite database file (SqliteStore, below) or a table of a
// PostgreSQL server (pg_store.h). The cursor and the entry point see only
// Store: the transaction that bundles consecutive operations, the record
// and unique-value counts, the reads and writes by key and by position.
//
// SQLite schema (docs/record-files.md has the full description):
//   kel_file(id = 1, format, record_length, create_buffer, owner, owner_mode)
//   kel_counts(slot, value)    slot 0 = records, slot 1 + i = unique values
//                              of key i, slot -1 = commits undone after a
//                              failure
//   kel_records(id, data, k0, k1, ...)  id = the record's position
//                              (1..2^32-1), data = the record's bytes, kN =
//                              key N encoded (key_codec.h), NULL when the
//                              record is left out of key N
//   kel_key<N> on kel_records(kN) WHERE kN IS NOT NULL, UNIQUE unless the key
//                              allows duplicates (rowid breaks ties)
#ifndef KEL_RECMAN_STORE_H_
#define KEL_RECMAN_STORE_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recman/file_spec.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kel {

// A record as a query returns it.
struct Row {
  std::int64_t id = 0;
  std::string data;
  std::string key;  // the encoded key of the key searched, when a key query
};

enum class SeekMode { kFirst, kLast, kEqual, kGreater, kGreaterOrEqual, kLess, kLessOrEqual };
enum class StepMode { kFirst, kLast, kNext, kPrevious };

// The highest record position.
inline constexpr std::int64_t kMaxPosition = 0xFFFFFFFFll;

class Store {
 public:
  virtual ~Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens an existing SQLite data file. Statuses: 12 missing, 30 not a data
  // file (not SQLite, or not our schema, or an unreadable specification), 46
  // no permission, 2 other failures.
  [[nodiscard]] static std::int16_t Open(const std::string& native_path,
                                         std::unique_ptr<Store>* out);

  // Writes a new, empty SQLite data file at `native_path`, replacing what is
  // there (the caller holds the file's exclusive open lock). The file is
  // built under a temporary name and renamed into place, so a crash leaves
  // either the old file or the new one. Statuses: 12 missing directory, 46
  // no permission, 18 disk full, 2 other failures.
  [[nodiscard]] static std::int16_t Create(const std::string& native_path, const FileSpec& file_spec);

  // The SQLite VFS that new connections use (nullptr: the default). Tests
  // install a fault-injecting one.
  static void SetVfsForTesting(const char* vfs_name);
  // The commit windows: 20 ms for SQLite files, 40 ms on a server, where
  // each commit also waits for the server's log flush. A test may set one
  // window for both, so that commits happen exactly where it asks for them,
  // and reset them afterwards.
  static void SetCommitWindowForTesting(std::chrono::milliseconds window);
  static void ResetCommitWindowForTesting();
  static std::chrono::milliseconds CommitWindow();
  static std::chrono::milliseconds ServerCommitWindow();
  // Whether each commit of a SQLite file waits for the disk (synchronous
  // FULL, the default: one sync per commit window). The commit-each-call
  // mode turns it off for the files opened after it (synchronous NORMAL): a
  // commit is then written to the write-ahead log without a sync, so a killed
  // process still loses nothing that was answered, and a power cut can take
  // the last commits back (the file stays whole); a sync per operation would
  // make every operation wait for the disk.
  static void SetSyncEachCommit(bool on);
  static bool SyncEachCommit();
  // Called when a write must wait for another process: commits the pending
  // work of every other store of this process, so that two processes never
  // wait on each other's open transactions.
  static void SetBusyFlush(void (*flush)(Store* except));
  static void BusyFlush(Store* except);

  const FileSpec& file_spec() const { return spec_; }
  const std::string& native_path() const { return path_; }
  const std::string& owner() const { return owner_; }
  int owner_mode() const { return owner_mode_; }
  bool file_read_only() const { return file_read_only_; }

  // --- Transactions. Operations run inside the store's transaction, which
  // stays open across operations until it is older than the commit window
  // or has taken the most writes, and is then committed by the next Begin.

  // Makes sure a transaction of at least the asked kind is open (a write
  // transaction holds the file's write lock: one writer per file at a time,
  // which waits for another process's write lock for a bounded time). 85
  // when another process holds the write lock for too long; the status of a
  // failed commit.
  [[nodiscard]] virtual std::int16_t Begin(bool write) = 0;
  // Commits the open transaction, if any. On failure the transaction's
  // writes are undone and the store is broken (see broken()).
  [[nodiscard]] virtual std::int16_t Commit() = 0;
  // Ends a write transaction that has written nothing (a locking read took
  // the write lock only to read fresh data): nobody should wait on it.
  [[nodiscard]] virtual std::int16_t ReleaseUnusedWriteLock() = 0;
  // Undoes the open transaction on purpose (an all-or-nothing batch that
  // failed): the store is not broken by it.
  virtual void Rollback() = 0;
  // While a batch is on, nothing written was acknowledged to a caller yet:
  // a failure undoes the batch without breaking the store.
  void SetBatch(bool on) { batch_ = on; }
  virtual bool HasTransaction() const = 0;
  // True when a transaction is open and older than the commit window: the
  // file sits idle while the process works on other files, and its pending
  // work must not stay invisible (or its write lock held) meanwhile.
  virtual bool TransactionExpired(std::chrono::steady_clock::time_point now) const = 0;
  virtual bool InWriteTransaction() const = 0;
  // Changes whenever a transaction starts (or takes the write lock): what
  // was read under an older serial may have been changed by other processes
  // since.
  std::uint64_t serial() const { return serial_; }
  // Changes on every write of this process.
  std::uint64_t write_generation() const { return write_generation_; }
  // Non-zero once acknowledged writes were lost by a failed commit: every
  // further operation must report it until the file is closed.
  virtual std::int16_t broken() const { return broken_; }

  // --- Reading (inside a transaction).

  // The counts of records and unique key values.
  [[nodiscard]] virtual std::int16_t Counts(FileCounts* out) = 0;
  // The record at `id`: 0, or 43 when there is none.
  [[nodiscard]] virtual std::int16_t Read(std::int64_t id, Row* row) = 0;
  // The first or last record of key `key` (an index into file_spec().keys), or the
  // one the search value `encoded` selects. 0, or 4 (kEqual) / 9 when none.
  [[nodiscard]] virtual std::int16_t Seek(int key, SeekMode mode, const std::string& encoded,
                                          Row* row) = 0;
  // The record after (forward) or before the place (encoded, id) in key
  // order; id may be 0 or beyond every position to name the edges of a run
  // of equal keys. 0 or 9.
  [[nodiscard]] virtual std::int16_t Next(int key, const std::string& encoded, std::int64_t id,
                                          bool forward, Row* row) = 0;
  // Physical order. For kNext / kPrevious, `id` is the place to move from.
  [[nodiscard]] virtual std::int16_t Step(StepMode mode, std::int64_t id, Row* row) = 0;

  // --- Writing (inside a write transaction). Each call is all or nothing;
  // the counts follow.

  // Stores `record` at a new position (autoincrement keys holding 0 get the
  // highest value + 1, written into `record`). 5 duplicate in a unique key.
  [[nodiscard]] virtual std::int16_t Insert(std::uint8_t* record, std::int64_t* id) = 0;
  // Inserts `records` (each of the record length) as Insert would one after
  // the other. 0; otherwise the status, with `*failed` the index of the
  // record that failed, or records.size() when the engine cannot tell which
  // (the batch went to a server as a whole): the caller undoes the
  // transaction in both cases.
  [[nodiscard]] virtual std::int16_t InsertBatch(const std::vector<std::string>& records,
                                                 std::size_t* failed);
  // Rewrites the record at `id`, whose stored bytes are `old_record`; only
  // the key columns whose value changes are written. 10 a non-modifiable key
  // changes, 5 duplicate.
  [[nodiscard]] virtual std::int16_t Update(std::int64_t id, const std::string& old_record,
                                            const std::uint8_t* record) = 0;
  [[nodiscard]] virtual std::int16_t Delete(std::int64_t id, const std::string& old_record) = 0;
  // Sets or clears (empty name) the owner name.
  [[nodiscard]] virtual std::int16_t SetOwner(const std::string& name, int mode) = 0;

  // --- Administration.

  // Runs the engine's integrity check and our own: every record's length
  // and stored keys match its bytes, the counts match. Appends one line per
  // problem to `*report`; 0 when clean, 2 otherwise.
  [[nodiscard]] virtual std::int16_t Check(std::string* report) = 0;
  // Replaces `bytes.size()` bytes at `offset` (0-based) of every record with
  // `bytes` in one SQL statement and one transaction. Refused (27) when the
  // range touches a key segment.
  [[nodiscard]] virtual std::int16_t RewriteEveryRecord(int offset, const std::string& bytes) = 0;

 protected:
  Store() = default;
  // 27 when [offset, offset + size) leaves the record or touches a key.
  std::int16_t CheckRewriteRange(int offset, std::size_t size) const;
  // Gives every autoincrement key holding 0 in `record` the highest value of
  // that key + 1 (1 on an empty key), written into `record`, as both
  // engines' Insert does.
  std::int16_t AssignAutoincrementValues(std::uint8_t* record);

  std::string path_;
  FileSpec spec_;
  std::string owner_;
  int owner_mode_ = 0;
  bool file_read_only_ = false;
  std::uint64_t serial_ = 0;
  std::uint64_t write_generation_ = 0;
  std::int16_t broken_ = 0;
  bool batch_ = false;
};

// The SQLite engine: one database file per data file, one connection per
// process and file.
class SqliteStore final : public Store {
 public:
  ~SqliteStore() override;

  std::int16_t Begin(bool write) override;
  std::int16_t Commit() override;
  std::int16_t ReleaseUnusedWriteLock() override;
  void Rollback() override;
  bool HasTransaction() const override { return txn_ != Txn::kNone; }
  bool TransactionExpired(std::chrono::steady_clock::time_point now) const override;
  bool InWriteTransaction() const override { return txn_ == Txn::kWrite; }
  std::int16_t Counts(FileCounts* out) override;
  std::int16_t Read(std::int64_t id, Row* row) override;
  std::int16_t Seek(int key, SeekMode mode, const std::string& encoded, Row* row) override;
  std::int16_t Next(int key, const std::string& encoded, std::int64_t id, bool forward,
                    Row* row) override;
  std::int16_t Step(StepMode mode, std::int64_t id, Row* row) override;
  std::int16_t Insert(std::uint8_t* record, std::int64_t* id) override;
  std::int16_t Update(std::int64_t id, const std::string& old_record,
                      const std::uint8_t* record) override;
  std::int16_t Delete(std::int64_t id, const std::string& old_record) override;
  std::int16_t SetOwner(const std::string& name, int mode) override;
  std::int16_t Check(std::string* report) override;
  std::int16_t RewriteEveryRecord(int offset, const std::string& bytes) override;

 private:
  friend class Store;
  enum class Txn { kNone, kRead, kWrite };
  SqliteStore() = default;

  sqlite3_stmt* Prepare(const std::string& sql);
  sqlite3_stmt* Cached(int slot, int key);
  std::int16_t Exec(const char* sql);
  // Maps a failed SQLite call to a status and notices whether SQLite undid
  // the whole transaction (then writes acknowledged earlier are lost).
  std::int16_t Fail(int rc);
  std::int16_t BeginTransaction(bool write);
  void OverwriteFailedCommit();
  std::int16_t LoadCounts();
  std::int16_t WriteCounts();
  std::int16_t NextId(std::int64_t* id);
  std::int16_t KeyValueExists(int key, const std::string& encoded, std::int64_t except_id,
                              bool* exists);
  std::int16_t RowFrom(sqlite3_stmt* stmt, int rc, std::int16_t none, Row* row);
  static int BusyHandler(void* self, int count);

  sqlite3* db_ = nullptr;

  std::map<std::string, sqlite3_stmt*> statements_;  // by SQL text
  std::vector<sqlite3_stmt*> slots_;                 // fast path, by slot * keys + key

  Txn txn_ = Txn::kNone;
  std::chrono::steady_clock::time_point started_;
  int writes_ = 0;

  // Counts as of the transaction's start plus this process's changes.
  FileCounts counts_;
  std::vector<bool> counts_dirty_;  // slot 0 records, 1 + i key i
  std::uint64_t counts_serial_ = 0;
  std::int64_t next_id_ = 0;
  std::uint64_t next_id_serial_ = 0;

  std::chrono::steady_clock::time_point busy_since_;
};

// The status for a SQLite result code (I/O error 2, disk full 18, not a
// database 30, busy 85, read-only 46, constraint 5...).
std::int16_t StatusFromSqlite(int rc);

}  // namespace kel

#endif  // KEL_RECMAN_STORE_H_
