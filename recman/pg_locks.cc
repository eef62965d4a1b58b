// One open's locks on a server file: advisory locks of the process's session
// (see pg_store.h for their keys), and the bookkeeping that tells apart the
// opens of this process, which share that session.
#include <map>
#include <set>
#include <utility>

#include "recman/pg_conn.h"
#include "recman/pg_locks_internal.h"
#include "recman/pg_store.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

class PgLocks;

// What the opens of this process hold on one file of one connection.
struct FileLocks {
  int shared_opens = 0;
  bool exclusive = false;
  std::map<std::int64_t, const PgLocks*> records;  // position -> holder
  std::set<const PgLocks*> lockers;                // opens that took record locks
};

using FileKey = std::pair<const PgConn*, std::uint32_t>;

std::map<FileKey, FileLocks>& Table() {
  static auto* table = new std::map<FileKey, FileLocks>();
  return *table;
}

std::int32_t AsInt4(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

class PgLocks final : public OpenLocks {
 public:
  explicit PgLocks(PgStore* store)
      : conn_(store->conn()),
        oid_(store->table_oid()),
        open_key_(store->OpenLockKey()),
        locker_key_(store->LockerKey()) {
    conn_->AddRef();
  }
  ~PgLocks() override {
    Close();
    conn_->Release();
  }

  void Close() override {
    if (open_ == Open::kNone) return;
    FileLocks& f = Table()[{conn_, oid_}];
    for (auto it = f.records.begin(); it != f.records.end();) {
      if (it->second == this) {
        ServerUnlock(it->first);
        it = f.records.erase(it);
      } else {
        ++it;
      }
    }
    if (f.lockers.erase(this) > 0 && f.lockers.empty()) {
      Defer("SELECT pg_advisory_unlock_shared($1)", {PgParam::Int8(locker_key_)});
    }
    if (open_ == Open::kExclusive) {
      f.exclusive = false;
      Defer("SELECT pg_advisory_unlock($1)", {PgParam::Int8(open_key_)});
    } else if (--f.shared_opens == 0) {
      Defer("SELECT pg_advisory_unlock_shared($1)", {PgParam::Int8(open_key_)});
    }
    if (f.shared_opens == 0 && !f.exclusive && f.records.empty() && f.lockers.empty()) {
      Table().erase({conn_, oid_});
    }
    open_ = Open::kNone;
    Sync();
  }

  std::int16_t LockOpen(bool exclusive) override {
    FileLocks& f = Table()[{conn_, oid_}];
    if (f.exclusive || (exclusive && f.shared_opens > 0)) return kStatusFileInUse;
    if (exclusive || f.shared_opens == 0) {
      PgRows got;
      std::int16_t st =
          conn_->Query(exclusive ? "SELECT pg_try_advisory_lock($1)"
                                 : "SELECT pg_try_advisory_lock_shared($1)",
                       {PgParam::Int8(open_key_)}, &got);
      if (st != kStatusOk) return st;
      if (got.rows() != 1 || got.Int8(0, 0) == 0) return kStatusFileInUse;
    }
    if (exclusive) {
      f.exclusive = true;
      open_ = Open::kExclusive;
    } else {
      ++f.shared_opens;
      open_ = Open::kShared;
    }
    return kStatusOk;
  }

  std::int16_t LockRecord(std::int64_t position, bool wait) override {
    FileLocks& f = Table()[{conn_, oid_}];
    auto held = f.records.find(position);
    if (held != f.records.end()) {
      // Another open of this process: waiting for it would wait forever.
      return held->second == this ? kStatusOk : kStatusRecordLocked;
    }
    if (f.lockers.empty()) {
      Defer("SELECT pg_try_advisory_lock_shared($1)", {PgParam::Int8(locker_key_)});
    }
    f.lockers.insert(this);
    const std::vector<PgParam> key = {PgParam::Int4(AsInt4(oid_)), PgParam::Int4(AsInt4(position))};
    PgRows got;
    if (wait) {
      // The caller committed this process's work: nobody waits on it.
      conn_->SetLockWaitUnbounded(true);
      std::int16_t st = conn_->Query("SELECT pg_advisory_lock($1, $2)", key);
      conn_->SetLockWaitUnbounded(false);
      if (st != kStatusOk) return st;  // 84 when the server saw a deadlock
    } else {
      std::int16_t st = conn_->Query("SELECT pg_try_advisory_lock($1, $2)", key, &got);
      if (st != kStatusOk) return st;
      if (got.rows() != 1 || got.Int8(0, 0) == 0) return kStatusRecordLocked;
    }
    f.records[position] = this;
    return kStatusOk;
  }

  void UnlockRecord(std::int64_t position) override {
    FileLocks& f = Table()[{conn_, oid_}];
    auto held = f.records.find(position);
    if (held == f.records.end() || held->second != this) return;
    f.records.erase(held);
    ServerUnlock(position);
    Sync();
  }

  bool LockedByOther(std::int64_t position) override {
    FileLocks& f = Table()[{conn_, oid_}];
    auto held = f.records.find(position);
    if (held != f.records.end()) return held->second != this;
    // Held by another station? Taking it and giving it back tells.
    const std::vector<PgParam> key = {PgParam::Int4(AsInt4(oid_)), PgParam::Int4(AsInt4(position))};
    PgRows got;
    if (conn_->Query("SELECT pg_try_advisory_lock($1, $2)", key, &got) != kStatusOk) return false;
    if (got.rows() != 1 || got.Int8(0, 0) == 0) return true;
    Defer("SELECT pg_advisory_unlock($1, $2)", key);
    return false;
  }

  bool OtherLockersPresent() override {
    FileLocks& f = Table()[{conn_, oid_}];
    for (const PgLocks* l : f.lockers) {
      if (l != this) return true;
    }
    // This session's own shared mark does not stand in the way of its own
    // exclusive attempt; another session's does.
    PgRows got;
    if (conn_->Query("SELECT pg_try_advisory_lock($1)", {PgParam::Int8(locker_key_)}, &got) !=
        kStatusOk) {
      return true;
    }
    if (got.rows() != 1 || got.Int8(0, 0) == 0) return true;
    Defer("SELECT pg_advisory_unlock($1)", {PgParam::Int8(locker_key_)});
    return false;
  }

 private:
  enum class Open { kNone, kShared, kExclusive };

  void Defer(const std::string& sql, const std::vector<PgParam>& params) {
    if (conn_->lost() == kStatusOk) conn_->Defer(sql, params);
  }
  // Unlocks go out deferred; they must have reached the server before the
  // caller goes on, or another station could still find the lock held.
  void Sync() {
    if (conn_->lost() == kStatusOk) (void)conn_->Query("SELECT 1", {});
  }
  void ServerUnlock(std::int64_t position) {
    Defer("SELECT pg_advisory_unlock($1, $2)",
          {PgParam::Int4(AsInt4(oid_)), PgParam::Int4(AsInt4(position))});
  }

  PgConn* conn_;
  std::uint32_t oid_;
  std::int64_t open_key_;
  std::int64_t locker_key_;
  Open open_ = Open::kNone;
};

}  // namespace

bool OpenedInThisProcess(const PgConn* conn, std::uint32_t oid) {
  auto it = Table().find({conn, oid});
  return it != Table().end() && (it->second.shared_opens > 0 || it->second.exclusive);
}

void ForgetLocalLocksAfterFork() {
  // The parent's bookkeeping is dropped without a word to the server.
  Table().clear();
}

std::unique_ptr<OpenLocks> ServerLocks(Store* store) {
  return std::make_unique<PgLocks>(static_cast<PgStore*>(store));
}

}  // namespace kel
