#include "recman/pg_conn.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>

#include "recman/conninfo_passwords.h"
#include "recman/open_refusal.h"
#include "recman/recman.h"

namespace kel {
namespace {

// How long a statement waits for a lock another process holds (a file's
// write lock: its holder commits within its window) before giving up: 85.
constexpr const char* kLockTimeout = "SET lock_timeout = '30s'";
// Deferred answers read at the latest after this many, to bound the memory
// they take on both sides.
constexpr int kMaxPending = 1000;

std::uint64_t g_waits = 0;

std::vector<PgConn*>& Registry() {
  static auto* conns = new std::vector<PgConn*>();
  return *conns;
}

void IgnoreNotice(void*, const char*) {}

// Why a connection could not be made, for the message that reports it; the
// library's words may echo the connection string, so its passwords go.
void NoteConnectionRefusal(pg_conn* conn, const std::string& conninfo) {
  const char* message = conn != nullptr ? PQerrorMessage(conn) : nullptr;
  NoteOpenRefusal(OpenRefusalKind::kServerUnreachable,
                  HideConnectionPasswords(message != nullptr ? message : "", conninfo));
}

}  // namespace

PgParam PgParam::Int8(std::int64_t v) {
  PgParam p;
  p.kind = Kind::kInt8;
  const auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) p.num[i] = static_cast<char>(u >> (56 - 8 * i));
  p.length = 8;
  return p;
}

PgParam PgParam::Int4(std::int32_t v) {
  PgParam p;
  p.kind = Kind::kInt4;
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p.num[i] = static_cast<char>(u >> (24 - 8 * i));
  p.length = 4;
  return p;
}

PgParam PgParam::Bytes(const void* data, std::size_t n) {
  static const char kEmpty = 0;
  PgParam p;
  p.kind = Kind::kBytes;
  p.data = n == 0 ? &kEmpty : static_cast<const char*>(data);
  p.length = static_cast<int>(n);
  return p;
}

PgParam PgParam::Text(const std::string& s) {
  PgParam p = Bytes(s);
  p.kind = Kind::kText;
  return p;
}

PgParam PgParam::Raw(unsigned type_oid, const std::string& s) {
  PgParam p = Bytes(s);
  p.kind = Kind::kRaw;
  p.type_oid = type_oid;
  return p;
}

PgParam PgParam::Null() { return PgParam(); }

PgRows::~PgRows() {
  if (r_ != nullptr) PQclear(r_);
}

PgRows& PgRows::operator=(PgRows&& o) noexcept {
  if (this != &o) {
    if (r_ != nullptr) PQclear(r_);
    r_ = o.r_;
    o.r_ = nullptr;
  }
  return *this;
}

int PgRows::rows() const { return r_ == nullptr ? 0 : PQntuples(r_); }
int PgRows::columns() const { return r_ == nullptr ? 0 : PQnfields(r_); }
bool PgRows::IsNull(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
const char* PgRows::Data(int row, int col) const { return PQgetvalue(r_, row, col); }
int PgRows::Length(int row, int col) const { return PQgetlength(r_, row, col); }

std::int64_t PgRows::Int8(int row, int col) const {
  if (IsNull(row, col)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, col));
  const int n = PQgetlength(r_, row, col);
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  // Sign-extend the shorter integers.
  if (n > 0 && n < 8 && (p[0] & 0x80) != 0 && n != 1) v |= ~0ull << (8 * n);
  return static_cast<std::int64_t>(v);
}

std::string PgRows::Bytes(int row, int col) const {
  return std::string(PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col)));
}

std::int64_t PgRows::Affected() const {
  const char* n = r_ == nullptr ? "" : PQcmdTuples(r_);
  return *n == '\0' ? 0 : std::strtoll(n, nullptr, 10);
}

std::int16_t StatusFromSqlState(const char* state) {
  if (state == nullptr) return kStatusIoError;
  const std::string s = state;
  if (s == "23505") return kStatusDuplicateKey;
  if (s == "53100") return kStatusDiskFull;
  if (s == "55P03") return kStatusFileInUse;
  if (s == "40P01") return kStatusRecordLocked;
  if (s == "42501") return kStatusAccessDenied;
  return kStatusIoError;
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::int16_t PgConn::Acquire(const std::string& conninfo, PgConn** out) {
  for (PgConn* c : Registry()) {
    if (c->conninfo_ == conninfo && c->lost_ == kStatusOk) {
      ++c->refs_;
      *out = c;
      return kStatusOk;
    }
  }
  auto* c = new PgConn();
  c->conninfo_ = conninfo;
  c->conn_ = PQconnectdb(conninfo.c_str());
  if (c->conn_ == nullptr || PQstatus(c->conn_) != CONNECTION_OK) {
    NoteConnectionRefusal(c->conn_, conninfo);
    delete c;  // closes what was opened
    return kStatusIoError;
  }
  PQsetNoticeProcessor(c->conn_, &IgnoreNotice, nullptr);
  // A station killed while its session waits for a lock must not be
  // granted the lock and keep it: the server looks for the vanished client
  // every second (servers from version 14 on).
  const std::string setup = std::string(kLockTimeout) +
                            ";SELECT set_config('client_connection_check_interval', '1000', false)"
                            " WHERE current_setting('server_version_num')::int >= 140000";
  PGresult* r = PQexec(c->conn_, setup.c_str());
  const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
  PQclear(r);
  if (!ok || PQenterPipelineMode(c->conn_) != 1) {
    NoteConnectionRefusal(c->conn_, conninfo);
    delete c;
    return kStatusIoError;
  }
  c->refs_ = 1;
  Registry().push_back(c);
  *out = c;
  return kStatusOk;
}

void PgConn::Release() {
  if (--refs_ > 0) return;
  auto& reg = Registry();
  reg.erase(std::remove(reg.begin(), reg.end(), this), reg.end());
  delete this;
}

void PgConn::ForgetAfterFork() {
  // Kept, never closed: PQfinish would end the parent's session.
  static auto* forgotten = new std::vector<PgConn*>();
  for (PgConn* c : Registry()) forgotten->push_back(c);
  Registry().clear();
}

PgConn::~PgConn() {
  if (conn_ != nullptr) PQfinish(conn_);
}

void PgConn::MarkLost() {
  if (lost_ == kStatusOk) {
    lost_ = kStatusIoError;
    if (conn_ != nullptr && last_error_.empty()) last_error_ = PQerrorMessage(conn_);
  }
  pending_ = 0;
  items_.clear();
  if (in_txn_) EndTransaction(lost_);
}

std::int16_t PgConn::StatusOf(PGresult* r) {
  switch (PQresultStatus(r)) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_PIPELINE_SYNC:
      return kStatusOk;
    case PGRES_PIPELINE_ABORTED:
      return kStatusIoError;
    default: {
      const char* msg = PQresultErrorMessage(r);
      last_error_ = msg == nullptr ? "" : msg;
      return StatusFromSqlState(PQresultErrorField(r, PG_DIAG_SQLSTATE));
    }
  }
}

void PgConn::SendPrepared(const std::string& sql, const std::vector<PgParam>& params,
                          std::uint64_t ticket) {
  if (lost_ != kStatusOk) return;
  const int n = static_cast<int>(params.size());
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) {
    std::vector<unsigned int> types(params.size());
    for (int i = 0; i < n; ++i) {
      switch (params[i].kind) {
        case PgParam::Kind::kInt8:
          types[i] = 20;
          break;
        case PgParam::Kind::kInt4:
          types[i] = 23;
          break;
        case PgParam::Kind::kBytes:
          types[i] = 17;
          break;
        case PgParam::Kind::kText:
          types[i] = 25;
          break;
        case PgParam::Kind::kRaw:
          types[i] = params[i].type_oid;
          break;
        case PgParam::Kind::kNull:
          types[i] = 0;
          break;
      }
    }
    std::string name = "kel" + std::to_string(prepared_.size());
    if (PQsendPrepare(conn_, name.c_str(), sql.c_str(), n, types.data()) != 1) {
      MarkLost();
      return;
    }
    ++pending_;
    items_.push_back(0);
    it = prepared_.emplace(sql, std::move(name)).first;
  }
  std::vector<const char*> values(params.size());
  std::vector<int> lengths(params.size()), formats(params.size(), 1);
  for (int i = 0; i < n; ++i) {
    const PgParam& p = params[i];
    switch (p.kind) {
      case PgParam::Kind::kInt8:
      case PgParam::Kind::kInt4:
        values[i] = p.num;
        break;
      case PgParam::Kind::kBytes:
      case PgParam::Kind::kText:
      case PgParam::Kind::kRaw:
        values[i] = p.data;
        break;
      case PgParam::Kind::kNull:
        values[i] = nullptr;
        break;
    }
    lengths[i] = p.length;
  }
  if (PQsendQueryPrepared(conn_, it->second.c_str(), n, values.data(), lengths.data(),
                          formats.data(), 1) != 1) {
    MarkLost();
    return;
  }
  ++pending_;
  items_.push_back(ticket);
}

std::uint64_t PgConn::Waits() { return g_waits; }

std::int16_t PgConn::ReadUntilSync(PgRows* rows) {
  ++g_waits;
  std::int16_t first = kStatusOk;
  PGresult* last = nullptr;
  // Every statement of a pipeline answers with at least one result before
  // its end (nullptr), so two ends in a row mean that nothing more will come:
  // the server went away without libpq noticing it yet. Waiting for the
  // sync then would never end.
  bool ended = false;
  for (;;) {
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) {
      if (PQstatus(conn_) == CONNECTION_BAD || ended) {
        if (last != nullptr) PQclear(last);
        MarkLost();
        return lost_;
      }
      ended = true;
      if (!items_.empty()) items_.pop_front();
      continue;  // the end of one statement's answer
    }
    ended = false;
    const ExecStatusType type = PQresultStatus(r);
    if (type == PGRES_PIPELINE_SYNC) {
      PQclear(r);
      break;
    }
    std::int16_t st = StatusOf(r);
    if (st != kStatusOk && first == kStatusOk) first = st;
    const std::uint64_t ticket = items_.empty() ? 0 : items_.front();
    if (ticket != 0) {
      // A kept statement's answer: for its taker, if still wanted.
      if (wanted_.count(ticket) > 0) {
        kept_[ticket] = {st, st == kStatusOk ? PgRows(r) : PgRows()};
        if (st != kStatusOk) PQclear(r);
      } else {
        PQclear(r);
      }
      continue;
    }
    if (last != nullptr) PQclear(last);
    last = r;
  }
  pending_ = 0;
  items_.clear();
  if (PQstatus(conn_) == CONNECTION_BAD) {
    if (last != nullptr) PQclear(last);
    MarkLost();
    return lost_;
  }
  if (first == kStatusOk && rows != nullptr && last != nullptr) {
    *rows = PgRows(last);
  } else if (last != nullptr) {
    PQclear(last);
  }
  return first;
}

void PgConn::Defer(const std::string& sql, const std::vector<PgParam>& params) {
  SendPrepared(sql, params);
  if (lost_ == kStatusOk && pending_ >= kMaxPending) {
    if (PQpipelineSync(conn_) != 1) {
      MarkLost();
      return;
    }
    std::int16_t st = ReadUntilSync(nullptr);
    if (st != kStatusOk && deferred_failure_ == kStatusOk) deferred_failure_ = st;
  }
}

void PgConn::SendParticipantsPending() {
  for (PgParticipant* p : participants_) p->SendPending();
}

std::uint64_t PgConn::DeferKept(const std::string& sql, const std::vector<PgParam>& params) {
  if (lost_ != kStatusOk) return 0;
  const std::uint64_t ticket = next_ticket_++;
  wanted_.insert(ticket);
  SendPrepared(sql, params, ticket);
  return lost_ == kStatusOk ? ticket : 0;
}

std::int16_t PgConn::TakeKept(std::uint64_t ticket, PgRows* rows) {
  if (wanted_.count(ticket) == 0) return kStatusIoError;
  if (kept_.count(ticket) == 0) {
    // Not in yet: a trivial statement with a sync point brings it.
    if (std::int16_t st = Query("SELECT 1", {}, nullptr, /*send_pending=*/false);
        st != kStatusOk) {
      DropKept(ticket);
      return st;
    }
  }
  auto it = kept_.find(ticket);
  std::int16_t st = it == kept_.end() ? kStatusIoError : it->second.first;
  if (it != kept_.end()) *rows = std::move(it->second.second);
  DropKept(ticket);
  return st;
}

bool PgConn::TakeKeptIfIn(std::uint64_t ticket, PgRows* rows) {
  auto it = kept_.find(ticket);
  if (it == kept_.end() || it->second.first != kStatusOk) return false;
  *rows = std::move(it->second.second);
  DropKept(ticket);
  return true;
}

void PgConn::DropKept(std::uint64_t ticket) {
  wanted_.erase(ticket);
  kept_.erase(ticket);
}

void PgConn::Push() {
  if (lost_ == kStatusOk && PQflush(conn_) != 0) MarkLost();
}

std::int16_t PgConn::Query(const std::string& sql, const std::vector<PgParam>& params,
                           PgRows* rows, bool send_pending) {
  if (lost_ != kStatusOk) return lost_;
  if (send_pending) SendParticipantsPending();
  SendPrepared(sql, params);
  if (lost_ != kStatusOk) return lost_;
  if (PQpipelineSync(conn_) != 1) {
    MarkLost();
    return lost_;
  }
  std::int16_t st = ReadUntilSync(rows);
  if (st == kStatusOk && deferred_failure_ != kStatusOk) st = deferred_failure_;
  deferred_failure_ = kStatusOk;
  if (st != kStatusOk && in_txn_ && lost_ == kStatusOk) {
    // The server gave up the whole transaction: say so to its stores and
    // leave the aborted state.
    EndTransaction(st);
    SendPrepared("ROLLBACK", {});
    if (lost_ == kStatusOk && PQpipelineSync(conn_) == 1) {
      (void)ReadUntilSync(nullptr);
    } else {
      MarkLost();
    }
  }
  return st;
}

std::int16_t PgConn::LeavePipeline() {
  if (lost_ != kStatusOk) return lost_;
  // Whatever is pending goes first.
  SendParticipantsPending();
  if (pending_ > 0) {
    if (std::int16_t st = Query("SELECT 1", {}); st != kStatusOk) return st;
  }
  if (PQexitPipelineMode(conn_) != 1) {
    MarkLost();
    return lost_;
  }
  return kStatusOk;
}

std::int16_t PgConn::ReturnToPipeline(std::int16_t st) {
  if (PQstatus(conn_) == CONNECTION_BAD || PQenterPipelineMode(conn_) != 1) {
    MarkLost();
    return lost_;
  }
  if (st != kStatusOk && in_txn_) {
    EndTransaction(st);
    PGresult* rb = nullptr;
    (void)PQexitPipelineMode(conn_);
    rb = PQexec(conn_, "ROLLBACK");
    PQclear(rb);
    if (PQenterPipelineMode(conn_) != 1) MarkLost();
  }
  return st;
}

std::int16_t PgConn::Exec(const std::string& sql) {
  // Several statements in one text need the simple protocol, outside the
  // pipeline.
  if (std::int16_t st = LeavePipeline(); st != kStatusOk) return st;
  PGresult* r = PQexec(conn_, sql.c_str());
  std::int16_t st = r == nullptr ? kStatusIoError : StatusOf(r);
  PQclear(r);
  return ReturnToPipeline(st);
}

std::int16_t PgConn::CopyIn(const std::string& sql, const std::function<bool(std::string*)>& next) {
  if (std::int16_t st = LeavePipeline(); st != kStatusOk) return st;
  ++g_waits;
  PGresult* r = PQexec(conn_, sql.c_str());
  std::int16_t st = kStatusOk;
  if (r == nullptr || PQresultStatus(r) != PGRES_COPY_IN) {
    st = r == nullptr ? kStatusIoError : StatusOf(r);
    if (st == kStatusOk) st = kStatusIoError;
    PQclear(r);
    return ReturnToPipeline(st);
  }
  PQclear(r);
  std::string piece;
  bool sent = true;
  while (sent && next(&piece)) {
    sent = PQputCopyData(conn_, piece.data(), static_cast<int>(piece.size())) == 1;
  }
  if (PQputCopyEnd(conn_, sent ? nullptr : "the data could not be sent") != 1) {
    MarkLost();
    return lost_;
  }
  // The statement's result, then the end of its answers.
  while ((r = PQgetResult(conn_)) != nullptr) {
    const std::int16_t s = StatusOf(r);
    if (st == kStatusOk) st = s;
    PQclear(r);
  }
  if (st == kStatusOk && !sent) st = kStatusIoError;
  return ReturnToPipeline(st);
}

void PgConn::BeginTransaction() {
  if (in_txn_ || lost_ != kStatusOk) return;
  Defer("BEGIN", {});
  in_txn_ = true;
  ++txn_id_;
  started_ = std::chrono::steady_clock::now();
  writes_ = 0;
}

void PgConn::Join(PgParticipant* p) {
  if (std::find(participants_.begin(), participants_.end(), p) == participants_.end()) {
    participants_.push_back(p);
  }
}

void PgConn::Leave(PgParticipant* p) {
  participants_.erase(std::remove(participants_.begin(), participants_.end(), p),
                      participants_.end());
}

void PgConn::EndTransaction(std::int16_t status) {
  in_txn_ = false;
  ended_status_ = status;
  writes_ = 0;
  std::vector<PgParticipant*> ps;
  ps.swap(participants_);
  for (PgParticipant* p : ps) p->TransactionEnded(status);
}

std::int16_t PgConn::CommitTransaction() {
  if (!in_txn_) return lost_;
  for (PgParticipant* p : std::vector<PgParticipant*>(participants_)) p->BeforeCommit();
  // A participant's last answers may have failed the transaction.
  if (!in_txn_) return ended_status_ != kStatusOk ? ended_status_ : kStatusIoError;
  std::int16_t st = Query("COMMIT", {});
  if (st == kStatusOk) EndTransaction(kStatusOk);
  return st;
}

void PgConn::RollbackTransaction() {
  if (!in_txn_) return;
  in_txn_ = false;
  std::vector<PgParticipant*> ps;
  ps.swap(participants_);
  if (lost_ == kStatusOk) (void)Query("ROLLBACK", {});
  for (PgParticipant* p : ps) p->TransactionEnded(PgParticipant::kRolledBack);
}

void PgConn::SetLockWaitUnbounded(bool unbounded) {
  Defer(unbounded ? "SET lock_timeout = 0" : kLockTimeout, {});
}

}  // namespace kel
