// The entry point: the process's table of opens, position block handles,
// Open / Close / Create / Reset / owner names, and the flush that runs before
// every wait of the program and at exit.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/native_path.h"
#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "recman/backend_config.h"
#include "recman/cursor.h"
#include "recman/engine_internal.h"
#include "recman/network_fs.h"
#include "recman/pg_store.h"
#include "recman/recman.h"
#include "recman/record_locks.h"

namespace kel {
namespace {

// Position block, as the engine fills it (the rest stays zero):
// | Offset | Size | Content                                         |
// |      0 |    4 | "KRM" 0x01                                      |
// |      4 |    4 | slot in the table of opens                      |
// |      8 |    8 | the slot's nonce (changes each time it is used) |
// |     16 |    8 | this process's token                            |
// |     24 |    4 | FNV-1a checksum of bytes 0-23                   |
constexpr char kMagic[4] = {'K', 'R', 'M', 1};
constexpr std::size_t kHandleBytes = 28;
constexpr std::size_t kMaxOpens = 4096;

struct Slot {
  std::unique_ptr<Cursor> cursor;
  std::uint64_t nonce = 0;
};

struct Engine {
  std::vector<Slot> slots;
  std::vector<std::unique_ptr<SharedFile>> files;
  std::uint64_t token = 0;
  std::uint64_t next_nonce = 1;
  std::string process;  // what /proc/self names: this process's id
  bool flushing = false;
};

std::string ProcessIdentity() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self", ec).string();
}

std::uint64_t NewToken() {
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

std::int16_t FlushAll();
void FlushForBusy(Store* except);

void ExitHandler();

Engine& TheEngine() {
  static Engine* engine = [] {
    auto* e = new Engine();  // lives until exit; the exit handler closes files
    e->token = NewToken();
    e->process = ProcessIdentity();
    RegisterWaitHook([] { (void)FlushAll(); });
    Store::SetBusyFlush(&FlushForBusy);
    std::atexit(&ExitHandler);
    return e;
  }();
  return *engine;
}

// A child of fork() inherits the table, SQLite connections included, which
// it must not use: it forgets them (without closing: closing could disturb
// the parent's files) and takes a new token, so inherited blocks give 3.
bool ForgetIfForked(Engine& e) {
  std::string now = ProcessIdentity();
  if (now == e.process) return false;
  // Kept, never destroyed: destroying them would close the parent's files.
  static auto* forgotten_cursors = new std::vector<std::unique_ptr<Cursor>>();
  static auto* forgotten_files = new std::vector<std::unique_ptr<SharedFile>>();
  for (Slot& s : e.slots) {
    if (s.cursor) forgotten_cursors->push_back(std::move(s.cursor));
  }
  for (auto& f : e.files) forgotten_files->push_back(std::move(f));
  ForgetServerConnectionsAfterFork();
  ForgetLocalRecordLocksAfterFork();
  e.slots.clear();
  e.files.clear();
  e.token = NewToken();
  e.process = now;
  return true;
}

std::uint32_t Checksum(const std::uint8_t* p, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

void WriteHandle(void* block, std::uint32_t slot, std::uint64_t nonce, std::uint64_t token) {
  auto* p = static_cast<std::uint8_t*>(block);
  std::memset(p, 0, kPositionBlockSize);
  std::memcpy(p, kMagic, 4);
  std::memcpy(p + 4, &slot, 4);
  std::memcpy(p + 8, &nonce, 8);
  std::memcpy(p + 16, &token, 8);
  std::uint32_t check = Checksum(p, 24);
  std::memcpy(p + 24, &check, 4);
}

std::uint32_t FindSlot(Engine& e, const void* block) {
  if (block == nullptr) return UINT32_MAX;
  const auto* p = static_cast<const std::uint8_t*>(block);
  std::uint32_t slot, check;
  std::uint64_t nonce, token;
  std::memcpy(&slot, p + 4, 4);
  std::memcpy(&nonce, p + 8, 8);
  std::memcpy(&token, p + 16, 8);
  std::memcpy(&check, p + 24, 4);
  if (std::memcmp(p, kMagic, 4) != 0 || check != Checksum(p, 24) || token != e.token ||
      slot >= e.slots.size() || !e.slots[slot].cursor || e.slots[slot].nonce != nonce) {
    return UINT32_MAX;
  }
  return slot;
}

std::int16_t FlushAllExcept(Store* except) {
  Engine& e = TheEngine();
  if (e.flushing) return kStatusOk;
  e.flushing = true;
  std::int16_t first = kStatusOk;
  for (auto& f : e.files) {
    if (f->store.get() == except) continue;
    // A file that already lost acknowledged work keeps reporting it.
    std::int16_t st = f->store->broken();
    if (st == kStatusOk && f->store->HasTransaction()) st = f->store->Commit();
    if (first == kStatusOk) first = st;
  }
  e.flushing = false;
  return first;
}

std::int16_t FlushAll() {
  Engine& e = TheEngine();
  bool pending = false;
  for (auto& f : e.files) {
    pending = pending || f->store->HasTransaction() || f->store->broken() != kStatusOk;
  }
  if (!pending || ForgetIfForked(e)) return kStatusOk;
  return FlushAllExcept(nullptr);
}

void FlushForBusy(Store* except) { (void)FlushAllExcept(except); }

// Commits the transactions of the other files that have outlived the commit
// window. A file's own window is checked when it is next used; a file left
// idle (the menu file, open for a whole run while others are converted)
// would otherwise keep its changes invisible and its write lock held until
// the process waits or exits. A failed commit is kept by its store and
// reported on that file's next call.
void CommitExpiredOthers(Engine& e, const Store* current) {
  if (e.flushing || e.files.size() < 2) return;
  const auto now = std::chrono::steady_clock::now();
  for (auto& f : e.files) {
    Store* store = f->store.get();
    if (store == current || store->broken() != kStatusOk) continue;
    if (store->TransactionExpired(now)) (void)store->Commit();
  }
}

// Closes the open in `slot`: commits the file's pending work, drops the
// open's locks, and closes the file when it was its last open.
std::int16_t CloseSlot(Engine& e, std::uint32_t slot) {
  Cursor* c = e.slots[slot].cursor.get();
  SharedFile* f = c->file;
  std::int16_t st = f->store->broken();
  if (st == kStatusOk) st = f->store->Commit();
  c->locks->Close();
  e.slots[slot].cursor.reset();
  if (--f->opens == 0) {
    for (auto it = e.files.begin(); it != e.files.end(); ++it) {
      if (it->get() == f) {
        e.files.erase(it);
        break;
      }
    }
  }
  return st;
}

std::int16_t ResetAll(Engine& e) {
  std::int16_t first = kStatusOk;
  for (std::uint32_t i = 0; i < e.slots.size(); ++i) {
    if (!e.slots[i].cursor) continue;
    std::int16_t st = CloseSlot(e, i);
    if (first == kStatusOk) first = st;
  }
  return first;
}

void ExitHandler() {
  Engine& e = TheEngine();
  if (ForgetIfForked(e)) return;  // a child's exit must not touch the parent's files
  (void)ResetAll(e);
}

// The path of Open and Create: the key buffer up to its first zero byte or
// key_length bytes, trailing blanks dropped (a Windows name never ends in one).
std::string PathFrom(const std::uint8_t* key, std::uint8_t key_length) {
  if (key == nullptr) return "";
  std::size_t limit = key_length == 0 ? kMaxKeyLength : key_length;
  std::size_t n = 0;
  while (n < limit && key[n] != 0) ++n;
  while (n > 0 && key[n - 1] == ' ') --n;
  return std::string(reinterpret_cast<const char*>(key), n);
}

// An owner name: the data buffer up to its zero byte, at most 8 characters.
std::string OwnerFrom(const std::uint8_t* data, const std::uint32_t* length) {
  if (data == nullptr || length == nullptr) return "";
  std::size_t n = 0;
  while (n < *length && n < 8 && data[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(data), n);
}

// Maps a system path; 0, or 11 when there is none.
std::int16_t NativePath(const std::string& system_path, std::string* native) {
  if (system_path.empty()) return kStatusInvalidFileName;
  *native = MapPath(system_path);
  return native->empty() ? kStatusInvalidFileName : kStatusOk;
}

std::int16_t OpenOp(Engine& e, void* block, CallArgs& a, std::uint8_t key_length) {
  ForgetIfForked(e);
  if (block == nullptr) return kStatusFileNotOpen;
  std::string native;
  if (std::int16_t st = NativePath(PathFrom(a.key, key_length), &native); st != kStatusOk) {
    return st;
  }
  const int mode = a.key_number;
  if (mode > 0 || mode < kOpenExclusive) return kStatusIncompatibleMode;
  const RecordManagerConfig& config = RecordManagerConfiguration();
  const bool on_server = !config.server.empty();
  std::error_code ec;
  if (!on_server) {
    auto status = std::filesystem::status(FsPath(native), ec);
    if (!std::filesystem::exists(status)) return kStatusFileNotFound;
    if (std::filesystem::is_directory(status)) return kStatusAccessDenied;
    if (std::int16_t st = CheckFileSystemForSqlite(native, nullptr); st != kStatusOk) return st;
  }

  std::uint32_t slot = 0;
  while (slot < e.slots.size() && e.slots[slot].cursor) ++slot;
  if (slot == e.slots.size()) {
    if (slot >= kMaxOpens) return kStatusFileTableFull;
    e.slots.emplace_back();
  }
  auto cursor = std::make_unique<Cursor>();
  std::string identity;
  if (on_server) {
    identity = ServerIdentity(config, native);
  } else {
    auto locks = std::make_unique<RecordLocks>();
    if (std::int16_t st = locks->Open(native); st != kStatusOk) return st;
    if (std::int16_t st = locks->LockOpen(mode == kOpenExclusive); st != kStatusOk) return st;
    cursor->locks = std::move(locks);
    identity = FileIdentity(native);
  }
  SharedFile* file = nullptr;
  for (auto& f : e.files) {
    if (f->identity == identity) file = f.get();
  }
  std::unique_ptr<SharedFile> fresh;
  if (file == nullptr) {
    fresh = std::make_unique<SharedFile>();
    fresh->identity = identity;
    std::int16_t st = on_server ? OpenServerFile(config, native, &fresh->store)
                                : Store::Open(native, &fresh->store);
    if (st != kStatusOk) return st;
    file = fresh.get();
  }
  if (on_server) {
    // A server file's locks need the file's table, known once it is open.
    cursor->locks = ServerLocks(file->store.get());
    if (std::int16_t st = cursor->locks->LockOpen(mode == kOpenExclusive); st != kStatusOk) {
      return st;
    }
  }
  const std::string& owner = file->store->owner();
  if (!owner.empty() && OwnerFrom(a.data, a.data_length) != owner) {
    if (file->store->owner_mode() == 0) return kStatusInvalidOwner;
    cursor->read_only = true;
  }
  if (mode == kOpenReadOnly || file->store->file_read_only()) cursor->read_only = true;
  if (fresh) e.files.push_back(std::move(fresh));
  ++file->opens;
  cursor->file = file;
  e.slots[slot].cursor = std::move(cursor);
  e.slots[slot].nonce = e.next_nonce++;
  WriteHandle(block, slot, e.slots[slot].nonce, e.token);
  return kStatusOk;
}

std::int16_t CreateOp(Engine& e, CallArgs& a, std::uint8_t key_length) {
  ForgetIfForked(e);
  std::string native;
  if (std::int16_t st = NativePath(PathFrom(a.key, key_length), &native); st != kStatusOk) {
    return st;
  }
  if (a.key_number != kCreateReplace && a.key_number != kCreateNoReplace) {
    return kStatusInvalidOperation;
  }
  FileSpec file_spec;
  if (a.data_length == nullptr) return kStatusDataBufferTooShort;
  if (std::int16_t st = ParseCreateBuffer(a.data, *a.data_length, &file_spec); st != kStatusOk) {
    return st;
  }
  const RecordManagerConfig& config = RecordManagerConfiguration();
  if (!config.server.empty()) {
    return CreateServerFile(config, native, file_spec, a.key_number == kCreateReplace);
  }
  std::error_code ec;
  std::filesystem::path dir = FsPath(native).parent_path();
  if (!dir.empty() && !std::filesystem::is_directory(dir, ec)) return kStatusFileNotFound;
  if (std::int16_t st = CheckFileSystemForSqlite(native, nullptr); st != kStatusOk) return st;
  auto status = std::filesystem::status(native, ec);
  if (std::filesystem::is_directory(status)) return kStatusAccessDenied;
  if (a.key_number == kCreateNoReplace && std::filesystem::exists(status)) {
    return kStatusFileAlreadyExists;
  }
  // Hold the file's exclusive open lock while it is built: nobody has it
  // open, and nobody opens it half-made.
  RecordLocks guard;
  if (std::int16_t st = guard.Open(native); st != kStatusOk) return st;
  if (std::int16_t st = guard.LockOpen(true); st != kStatusOk) return st;
  if (a.key_number == kCreateNoReplace && std::filesystem::exists(FsPath(native), ec)) {
    return kStatusFileAlreadyExists;  // another process was quicker
  }
  return Store::Create(native, file_spec);
}

std::int16_t SetOwner(Cursor* c, CallArgs& a) {
  if (c->read_only) return kStatusAccessDenied;
  Store& s = *c->file->store;
  std::string name;
  if (a.op == kOpSetOwner) {
    name = OwnerFrom(a.data, a.data_length);
    if (name.empty()) return kStatusInvalidOwner;
    if (a.key_number != 0 && a.key_number != 1) return kStatusInvalidOperation;
    if (!s.owner().empty()) return kStatusInvalidOwner;
  }
  if (std::int16_t st = s.Begin(true); st != kStatusOk) return st;
  return s.SetOwner(name, a.key_number);
}

bool Lockable(int op) {
  return (op >= kOpGetEqual && op <= kOpGetLast) || op == kOpGetPosition || op == kOpGetDirect ||
         op == kOpStepNext || (op >= kOpStepFirst && op <= kOpStepPrevious);
}

}  // namespace

namespace {

std::int16_t Dispatch(Engine& e, std::int16_t operation, void* position_block, void* data_buffer,
                      std::uint32_t* data_length, void* key_buffer, std::uint8_t key_length,
                      std::int8_t key_number) {
  if (operation < 0 || operation >= 500) return kStatusInvalidOperation;
  CallArgs a;
  a.op = operation % 100;
  a.bias = operation - a.op;
  a.data = static_cast<std::uint8_t*>(data_buffer);
  a.data_length = data_length;
  a.key = static_cast<std::uint8_t*>(key_buffer);
  a.key_number = key_number;
  if (a.bias != 0 && !Lockable(a.op)) return kStatusInvalidOperation;
  if (a.op == kOpGetPosition) a.bias = 0;  // reads no record: nothing to lock

  switch (a.op) {
    case kOpOpen:
      return OpenOp(e, position_block, a, key_length);
    case kOpCreate:
      return CreateOp(e, a, key_length);
    case kOpReset:
      if (ForgetIfForked(e)) return kStatusOk;
      return ResetAll(e);
    default:
      break;
  }
  const std::uint32_t slot = FindSlot(e, position_block);
  if (slot == UINT32_MAX) return kStatusFileNotOpen;
  Cursor* c = e.slots[slot].cursor.get();
  switch (a.op) {
    case kOpClose: {
      std::int16_t st = CloseSlot(e, slot);
      std::memset(position_block, 0, kHandleBytes);
      return st;
    }
    case kOpSetOwner:
    case kOpClearOwner:
      return SetOwner(c, a);
    default:
      break;
  }
  if (std::int16_t broken = c->file->store->broken(); broken != kStatusOk) return broken;
  CommitExpiredOthers(e, c->file->store.get());
  return RunRecordOperation(c, a, &FlushAll);
}

bool g_commit_each_call = false;

// The commit-each-call mode's end of a call: whatever transaction the call
// left open (only the file it used can have one) is committed now. A failed
// commit undid the call's work: it becomes the call's status, unless the
// call failed by itself.
std::int16_t CommitCall(Engine& e, std::int16_t status) {
  for (auto& f : e.files) {
    Store& store = *f->store;
    if (!store.HasTransaction()) continue;
    const std::int16_t committed = store.Commit();
    if (committed != kStatusOk && (status == kStatusOk || status == kStatusDataBufferTooShort)) {
      status = committed;
    }
  }
  return status;
}

}  // namespace

std::int16_t KEL_BTRCALL_CONVENTION BTRCALL(std::int16_t operation, void* position_block,
                                            void* data_buffer, std::uint32_t* data_length,
                                            void* key_buffer, std::uint8_t key_length,
                                            std::int8_t key_number) {
  Engine& e = TheEngine();
  const std::int16_t status = Dispatch(e, operation, position_block, data_buffer, data_length,
                                       key_buffer, key_length, key_number);
  return g_commit_each_call ? CommitCall(e, status) : status;
}

void SetCommitEachCall(bool on) {
  g_commit_each_call = on;
  Store::SetSyncEachCommit(!on);
}

std::int16_t FlushRecordManager() { return FlushAll(); }

Cursor* CursorOf(void* position_block) {
  Engine& e = TheEngine();
  const std::uint32_t slot = FindSlot(e, position_block);
  return slot == UINT32_MAX ? nullptr : e.slots[slot].cursor.get();
}

const char* StatusText(std::int16_t status) {
  switch (status) {
    case kStatusOk:
      return "success";
    case kStatusInvalidOperation:
      return "invalid operation";
    case kStatusIoError:
      return "I/O error";
    case kStatusFileNotOpen:
      return "file not open";
    case kStatusKeyNotFound:
      return "key value not found";
    case kStatusDuplicateKey:
      return "duplicate key value";
    case kStatusInvalidKeyNumber:
      return "invalid key number";
    case kStatusDifferentKeyNumber:
      return "different key number";
    case kStatusInvalidPositioning:
      return "invalid positioning";
    case kStatusEndOfFile:
      return "end of file";
    case kStatusKeyNotModifiable:
      return "key not modifiable";
    case kStatusInvalidFileName:
      return "invalid file name";
    case kStatusFileNotFound:
      return "file not found";
    case kStatusDiskFull:
      return "disk full";
    case kStatusRecordManagerInactive:
      return "record manager not available";
    case kStatusDataBufferTooShort:
      return "data buffer too short";
    case kStatusPageSize:
      return "invalid page size";
    case kStatusNumberOfKeys:
      return "invalid number of keys";
    case kStatusInvalidKeyPosition:
      return "invalid key position";
    case kStatusInvalidRecordLength:
      return "invalid record length";
    case kStatusInvalidKeyLength:
      return "invalid key length";
    case kStatusNotADataFile:
      return "not a data file";
    case kStatusInvalidRecordAddress:
      return "invalid record address";
    case kStatusInconsistentKeyFlags:
      return "inconsistent key flags";
    case kStatusAccessDenied:
      return "access denied";
    case kStatusInvalidCollatingSequence:
      return "invalid collating sequence";
    case kStatusKeyTypeError:
      return "key type error";
    case kStatusInvalidOwner:
      return "invalid owner";
    case kStatusFileAlreadyExists:
      return "file already exists";
    case kStatusConflict:
      return "conflict: the record changed since it was read";
    case kStatusRecordLocked:
      return "record locked";
    case kStatusFileInUse:
      return "file in use";
    case kStatusFileTableFull:
      return "file table full";
    case kStatusIncompatibleMode:
      return "incompatible mode";
    default:
      return "unknown status";
  }
}

}  // namespace kel
