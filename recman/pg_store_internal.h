// The PostgreSQL store's class, shared by its files (pg_store.cc: the
// operations; pg_batch.cc: inserting many records; pg_values.cc: the known
// key values; pg_open.cc: opening, creating, the SQL texts; pg_locks.cc:
// the locks). Internal to the record manager.
#ifndef KEL_RECMAN_PG_STORE_INTERNAL_H_
#define KEL_RECMAN_PG_STORE_INTERNAL_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "recman/admin.h"
#include "recman/pg_conn.h"
#include "recman/store.h"

namespace kel {

inline constexpr int kSeekModes = 7;     // SeekMode's values
inline constexpr int kNextVariants = 6;  // see PgStore::Next

// The statements of one file, built once at Open.
struct PgSql {
  std::string read, counts, update_counts, update_batch, set_owner, max_id, free_id, insert, update_data,
      delete_record, step_first, step_last, step_next, step_previous;
  // Rewrites kept back (update_batch), and those that move keys with
  // duplicates (update_keyed): positions, offsets and changed bytes, then
  // for update_keyed one array per key with duplicates (in dup_keys' order).
  std::string update_keyed;
  std::vector<int> dup_keys;
  std::vector<std::string> seek;          // key * kSeekModes + mode
  std::vector<std::string> next;          // key * kNextVariants + variant
  std::vector<std::string> exists_other;  // per key
  std::vector<std::string> values;        // per key: each value and its records
};

class PgStore final : public Store, public PgParticipant {
 public:
  ~PgStore() override;

  std::int16_t Begin(bool write) override;
  std::int16_t Commit() override;
  std::int16_t ReleaseUnusedWriteLock() override;
  void Rollback() override;
  bool HasTransaction() const override { return mode_ != Mode::kNone; }
  bool TransactionExpired(std::chrono::steady_clock::time_point now) const override;
  bool InWriteTransaction() const override { return mode_ == Mode::kWrite; }
  std::int16_t broken() const override;
  std::int16_t Counts(FileCounts* out) override;
  std::int16_t Read(std::int64_t id, Row* row) override;
  std::int16_t Seek(int key, SeekMode mode, const std::string& encoded, Row* row) override;
  std::int16_t Next(int key, const std::string& encoded, std::int64_t id, bool forward,
                    Row* row) override;
  std::int16_t Step(StepMode mode, std::int64_t id, Row* row) override;
  std::int16_t Insert(std::uint8_t* record, std::int64_t* id) override;
  std::int16_t InsertBatch(const std::vector<std::string>& records, std::size_t* failed) override;
  std::int16_t Update(std::int64_t id, const std::string& old_record,
                      const std::uint8_t* record) override;
  std::int16_t Delete(std::int64_t id, const std::string& old_record) override;
  std::int16_t SetOwner(const std::string& name, int mode) override;
  std::int16_t Check(std::string* report) override;
  std::int16_t RewriteEveryRecord(int offset, const std::string& bytes) override;
  // Computes every record's keys again from its bytes, takes out the
  // records whose key a unique key already holds, rebuilds the indexes and
  // the counts, in one transaction (pg_repair.cc).
  [[nodiscard]] std::int16_t Rebuild(RepairOutcome* out);

  void SendPending() override;
  void BeforeCommit() override;
  void TransactionEnded(std::int16_t status) override;

  PgConn* conn() const { return conn_; }
  std::uint32_t table_oid() const { return oid_; }
  // Advisory lock keys (see pg_store.h).
  std::int64_t OpenLockKey() const { return 4 * static_cast<std::int64_t>(oid_); }
  std::int64_t LockerKey() const { return 4 * static_cast<std::int64_t>(oid_) + 1; }
  std::int64_t WriteLockKey() const { return 4 * static_cast<std::int64_t>(oid_) + 2; }

  static std::string CountsOf(const FileCounts& counts);
  static std::string KeyName(int key) { return "k" + std::to_string(key); }

 private:
  friend std::int16_t OpenPgStore(PgConn* conn, const std::string& schema, const std::string& name,
                                  const std::string& native_path, std::unique_ptr<Store>* out);
  enum class Mode { kNone, kRead, kWrite };
  // Records read ahead along one path (a key index, or -1 for the physical
  // order), valid within one transaction serial.
  struct Ahead {
    int path = -2;
    bool forward = true;
    std::vector<Row> rows;
    std::size_t pos = 0;  // rows handed out
    bool complete = false;
    bool sequential = false;
    int limit = 0;
    std::uint64_t serial = 0;
  };

  PgStore() = default;
  void Joined();
  void Wrote();
  void ForgetAhead();
  std::int16_t LoadCounts();
  // Applies the answers of the count questions sent without waiting.
  std::int16_t ResolveCounts();
  std::int16_t RowsFrom(const PgRows& r, std::vector<Row>* rows);
  std::int16_t One(const std::string& sql, const std::vector<PgParam>& params, std::int16_t none,
                   Row* row);
  std::int16_t FromAhead(int path, bool forward, const std::string& encoded, std::int64_t id,
                         Row* row);
  // Reads the rows after (forward) or before the place (encoded, id) along
  // `path` into the read-ahead, and the first of them into `*row`.
  std::int16_t Fetch(int path, bool forward, const std::string& encoded, std::int64_t id,
                     Row* row);
  // The statement and parameters of a read along `path` from that place
  // (the limit still to be added).
  void Continuation(int path, bool forward, const std::string& encoded, std::int64_t id,
                    const std::string** sql, std::vector<PgParam>* params) const;
  void DropPrefetch();
  std::int16_t KeyValueExists(int key, const std::string& encoded, std::int64_t except_id,
                              bool* exists);
  std::int16_t NextId(std::int64_t* id);
  // Keeps a rewrite of the record stored as `old_record` back to go out
  // with the others; `moved` lists the keys (all with duplicates) whose
  // values it changes.
  void KeepRewrite(std::int64_t id, const std::string& old_record, const std::uint8_t* record,
                   const std::vector<int>& moved);
  bool KeepsKeyedRewrites() const { return keyed_kept_ > 0; }
  // Gives the rows read ahead with position `id` the record's new bytes.
  void UpdateAhead(std::int64_t id, const std::uint8_t* record);
  // Before a read along `key` or a question about key values: the rewrites
  // kept back that move that key (any key, for -1) go to the server first.
  void SendKeyedFor(int key);

  // --- Known key values (pg_values.cc).
  // Whether the values of `key` are known in this write transaction.
  bool ValuesKnown(int key) const;
  // Called for each rewrite that moves keys without their values known:
  // after enough of them, loads the values of `keys` (when there are not
  // too many). 0, or the status of a failed load.
  std::int16_t MaybeLoadValues(const std::vector<int>& keys);
  // One more (+1) or one fewer (-1) record holds `encoded` on `key`, whose
  // values are known: true when a value appears or disappears (the key's
  // count of unique values changes).
  bool NoteValue(int key, const std::string& encoded, int delta);
  void DropValues();
  // After the transaction: the version of the catalogue row its commit
  // wrote, which the known values now describe.
  void ValuesAfterTransaction(std::int16_t status);

  PgConn* conn_ = nullptr;
  std::int64_t file_id_ = 0;
  std::uint32_t oid_ = 0;
  std::string table_;  // quoted, with its schema
  PgSql sql_;

  Mode mode_ = Mode::kNone;
  int writes_ = 0;
  FileCounts counts_;
  std::vector<bool> counts_dirty_;
  std::uint64_t counts_serial_ = 0;
  std::int64_t next_id_ = 0;
  std::uint64_t next_id_serial_ = 0;
  Ahead ahead_;
  // The read of the rows after the read-ahead, sent before they are asked
  // for (a long read along one path).
  struct Prefetch {
    std::uint64_t ticket = 0;
    int path = -2;
    bool forward = true;
    std::uint64_t serial = 0;
    std::int64_t id = 0;
    std::string key;
    int limit = 0;
  };
  Prefetch prefetch_;
  // Rewrites kept back to go to the server as one statement: positions,
  // the records one after the other, and per record the bytes [first,
  // last) that differ from the record as the server has it (only those are
  // sent; nothing at all when none differs).
  std::vector<std::int64_t> rewrite_ids_;
  std::string rewrite_data_;
  std::vector<std::pair<int, int>> rewrite_span_;
  std::unordered_map<std::int64_t, std::size_t> rewrite_index_;
  // Per rewrite kept back: whether it moves keys with duplicates (sent with
  // its keys' new values); per key: whether a kept-back rewrite moves it.
  std::vector<char> rewrite_keyed_;
  std::size_t keyed_kept_ = 0;
  std::vector<char> kept_moved_;
  // Known key values: per key whose values were loaded, each value's
  // number of records, as the server had them when the
  // catalogue row's version was `values_token_`, plus this process's
  // writes since. Every write that changes key values rewrites that row at
  // its commit, so another version means that another station wrote keys.
  std::vector<std::unordered_map<std::string, std::int64_t>> values_;
  std::vector<char> values_loaded_;
  std::string values_token_;
  std::string counts_token_;        // the row's version read with the counts
  std::uint64_t token_ticket_ = 0;  // the version the commit writes
  int value_questions_ = 0;         // rewrites asked about since the values were dropped
  // Rewrites moving only keys with duplicates send their question (is the
  // new value already there, is the old one still there) without waiting:
  // per question, its ticket and, per answer column, the key and the change
  // of its count of values when the answer is no.
  struct PendingCounts {
    std::uint64_t ticket = 0;
    std::vector<std::pair<int, int>> columns;
  };
  std::vector<PendingCounts> pending_counts_;
};

// Opens the store of the file `name` of `schema` (the caller's reference to
// `conn` passes to the store on success).
[[nodiscard]] std::int16_t OpenPgStore(PgConn* conn, const std::string& schema,
                                       const std::string& name, const std::string& native_path,
                                       std::unique_ptr<Store>* out);

}  // namespace kel

#endif  // KEL_RECMAN_PG_STORE_INTERNAL_H_
