// One process's connection to a PostgreSQL server, shared by every data file
// and every open of the process on that server. Internal to the record
// manager.
//
// The connection stays in libpq's pipeline mode: statements whose answer the
// caller does not need at once (BEGIN, a rewrite that changes no key, the
// counts before COMMIT) are sent without waiting (Defer); a statement whose
// rows are needed (Query) is sent behind them with a sync point and its
// answer read after theirs. A failure of a deferred statement fails the
// transaction; it is reported by the next Query or by the commit, never lost.
//
// One transaction at a time spans every file of the process on the server
// (BeginTransaction / CommitTransaction). The stores that take part in it
// are told before and after the commit (PgParticipant), so that each writes
// its counts first and learns whether its work reached the server.
//
// The session's advisory locks (open locks, record locks) belong to the
// connection: they all go when it closes or the process dies.
#ifndef KEL_RECMAN_PG_CONN_H_
#define KEL_RECMAN_PG_CONN_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace kel {

// A statement's parameter: an 8-byte integer, a 4-byte integer, bytes, or
// NULL. Sent in binary.
struct PgParam {
  enum class Kind { kInt8, kInt4, kBytes, kText, kRaw, kNull };
  static PgParam Int8(std::int64_t v);
  static PgParam Int4(std::int32_t v);
  static PgParam Bytes(const void* p, std::size_t n);
  static PgParam Bytes(const std::string& s) { return Bytes(s.data(), s.size()); }
  static PgParam Text(const std::string& s);
  // Bytes in the binary form of the type `type_oid` (arrays).
  static PgParam Raw(unsigned type_oid, const std::string& s);
  static PgParam Null();

  Kind kind = Kind::kNull;
  unsigned type_oid = 0;  // kRaw
  char num[8] = {};  // big-endian integer
  const char* data = nullptr;
  int length = 0;
};

// The rows of a Query, in binary. Owns the libpq result.
class PgRows {
 public:
  PgRows() = default;
  explicit PgRows(pg_result* r) : r_(r) {}
  ~PgRows();
  PgRows(PgRows&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  PgRows& operator=(PgRows&& o) noexcept;
  PgRows(const PgRows&) = delete;
  PgRows& operator=(const PgRows&) = delete;

  int rows() const;
  int columns() const;
  bool IsNull(int row, int col) const;
  std::int64_t Int8(int row, int col) const;  // binary int8 (or int4, bool)
  std::string Bytes(int row, int col) const;
  const char* Data(int row, int col) const;
  int Length(int row, int col) const;
  // Rows a write touched ("UPDATE 1" gives 1).
  std::int64_t Affected() const;

 private:
  pg_result* r_ = nullptr;
};

// A store taking part in the connection's transaction.
class PgParticipant {
 public:
  // TransactionEnded's status when the transaction was undone on purpose.
  static constexpr std::int16_t kRolledBack = -1;

  virtual ~PgParticipant() = default;
  // Before any statement that waits for an answer: defer the writes kept
  // back to be sent together (the answer may depend on them).
  virtual void SendPending() = 0;
  // Right before COMMIT: defer the writes that wait for the commit (counts).
  virtual void BeforeCommit() = 0;
  // After the transaction ended: committed (status 0), lost (the status) or
  // rolled back on purpose (kRolledBack).
  virtual void TransactionEnded(std::int16_t status) = 0;
};

class PgConn {
 public:
  // The process's connection to `conninfo`, opened when there is none (or
  // the one there is was lost). 2 when the server cannot be reached. The
  // caller holds a reference until Release.
  [[nodiscard]] static std::int16_t Acquire(const std::string& conninfo, PgConn** out);
  // Another reference to this connection.
  void AddRef() { ++refs_; }
  // Gives up a reference; the last one closes the connection.
  void Release();
  // A child of fork() must not use its parent's connections: forget them
  // without closing (closing would end the parent's session).
  static void ForgetAfterFork();

  // Non-zero once the connection is lost: every further call fails with it.
  std::int16_t lost() const { return lost_; }
  // The server's last error message (for reports; "" when none).
  const std::string& last_error() const { return last_error_; }

  // Sends a statement without waiting for its answer. Its failure is
  // reported by the next Query or commit.
  void Defer(const std::string& sql, const std::vector<PgParam>& params);
  // Sends a statement and waits for its rows. Returns 0 or the status of the
  // first failure among it and the deferred statements before it (the
  // transaction, if any, is then lost and rolled back: see txn_failed()).
  // `send_pending` false: the participants' kept-back writes may stay back
  // (a read whose caller corrects the rows itself).
  [[nodiscard]] std::int16_t Query(const std::string& sql, const std::vector<PgParam>& params,
                                   PgRows* rows = nullptr, bool send_pending = true);
  // Pushes what was sent to the server now, so that it works on deferred
  // statements while the caller goes on.
  void Push();
  // Sends a statement whose rows are wanted later (a read-ahead of the next
  // rows): the server runs it while the caller goes on. Returns a ticket
  // for TakeKept, 0 when the connection is lost.
  std::uint64_t DeferKept(const std::string& sql, const std::vector<PgParam>& params);
  // The rows of a kept statement, waiting for them when they are not in yet.
  // 0, or the status of the failure (as Query reports it).
  [[nodiscard]] std::int16_t TakeKept(std::uint64_t ticket, PgRows* rows);
  // The rows of a kept statement whose answer has come in already (read
  // with an earlier statement's); false, without waiting, when it has not.
  bool TakeKeptIfIn(std::uint64_t ticket, PgRows* rows);
  // The rows of that statement are not wanted any more.
  void DropKept(std::uint64_t ticket);
  // Runs statements without parameters (schema changes) as one Query.
  [[nodiscard]] std::int16_t Exec(const std::string& sql);
  // Runs `sql`, a COPY ... FROM STDIN, and sends it the data that `next`
  // gives piece by piece (false: no more). Like Exec it runs after whatever
  // is pending, outside the pipeline. 0 or the failure's status (the
  // transaction, if any, is then lost, as with Query).
  [[nodiscard]] std::int16_t CopyIn(const std::string& sql,
                                    const std::function<bool(std::string*)>& next);

  // --- The transaction shared by the process's files on this server.
  bool InTransaction() const { return in_txn_; }
  // Changes with every transaction begun.
  std::uint64_t transaction_id() const { return txn_id_; }
  std::chrono::steady_clock::time_point started() const { return started_; }
  // Starts one (deferred BEGIN) when none is open.
  void BeginTransaction();
  void Join(PgParticipant* p);
  void Leave(PgParticipant* p);
  // Writes acknowledged in this transaction (for the bound on its size).
  void CountWrite() { ++writes_; }
  int writes() const { return writes_; }
  // Commits the open transaction (nothing to do without one). On failure
  // every participant learns the status and the server keeps nothing of it.
  [[nodiscard]] std::int16_t CommitTransaction();
  // Undoes the open transaction on purpose.
  void RollbackTransaction();

  // Session settings for one statement that may wait on a lock: no limit
  // (record lock waits) or the usual bound.
  void SetLockWaitUnbounded(bool unbounded);

  // How many times this process has waited for answers from any server
  // (one round trip each), for the benchmarks.
  static std::uint64_t Waits();

 private:
  PgConn() = default;
  ~PgConn();
  void SendPrepared(const std::string& sql, const std::vector<PgParam>& params,
                    std::uint64_t ticket = 0);
  void SendParticipantsPending();
  std::int16_t ReadUntilSync(PgRows* rows);
  // Leaves the pipeline after what is pending; 0 or the failure's status.
  std::int16_t LeavePipeline();
  // Back into the pipeline after a statement outside it whose status was
  // `st`: a failure ends the transaction. Returns `st` (or the loss).
  std::int16_t ReturnToPipeline(std::int16_t st);
  std::int16_t StatusOf(pg_result* r);
  void MarkLost();
  void EndTransaction(std::int16_t status);

  pg_conn* conn_ = nullptr;
  std::string conninfo_;
  int refs_ = 0;
  std::int16_t lost_ = 0;
  std::string last_error_;
  std::map<std::string, std::string> prepared_;  // SQL text -> statement name
  int pending_ = 0;                              // deferred answers not read
  std::deque<std::uint64_t> items_;  // per answer not read: its ticket or 0
  std::set<std::uint64_t> wanted_;   // tickets of kept statements not dropped
  std::map<std::uint64_t, std::pair<std::int16_t, PgRows>> kept_;  // their answers
  std::uint64_t next_ticket_ = 1;
  std::int16_t deferred_failure_ = 0;
  bool in_txn_ = false;
  bool txn_failed_ = false;
  std::int16_t ended_status_ = 0;  // how the last transaction ended
  std::uint64_t txn_id_ = 0;
  std::chrono::steady_clock::time_point started_;
  int writes_ = 0;
  std::vector<PgParticipant*> participants_;
};

// The status for a SQLSTATE (23505 duplicate 5, 53100 disk full 18, 55P03
// lock timeout 85, 40P01 deadlock 84, 42501 no privilege 46, others 2).
std::int16_t StatusFromSqlState(const char* sqlstate);

// A quoted SQL identifier ("kel" -> "\"kel\"").
std::string QuoteIdentifier(const std::string& name);

}  // namespace kel

#endif  // KEL_RECMAN_PG_CONN_H_
