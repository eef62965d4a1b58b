#include "recman/fault_vfs.h"

#include <sqlite3.h>

#include <cstring>

namespace kel::testing {
namespace {

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

FaultKind g_kind = FaultKind::kWrite;
int g_at = 0;
int g_count = 0;
bool g_persist = false;
bool g_fired = false;

// Counts a call of `kind`; true when this one must fail.
bool Hit(FaultKind kind) {
  bool counts = g_kind == kind || (g_kind == FaultKind::kDiskFull && kind == FaultKind::kWrite);
  if (g_at == 0 || !counts) return false;
  ++g_count;
  if (g_count == g_at || (g_persist && g_count > g_at)) {
    g_fired = true;
    return true;
  }
  return false;
}

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

int Close(sqlite3_file* f) {
  int rc = Real(f)->pMethods->xClose(Real(f));
  return rc;
}
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
  return Real(f)->pMethods->xRead(Real(f), p, n, off);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  if (Hit(FaultKind::kWrite)) {
    return g_kind == FaultKind::kDiskFull ? SQLITE_FULL : SQLITE_IOERR_WRITE;
  }
  return Real(f)->pMethods->xWrite(Real(f), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  if (Hit(FaultKind::kSync)) return SQLITE_IOERR_FSYNC;
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
  if (Hit(FaultKind::kLock)) return SQLITE_IOERR_LOCK;
  return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReserved(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int Characteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  // Only taking a lock can fail; giving one up always works.
  if ((flags & SQLITE_SHM_LOCK) && Hit(FaultKind::kLock)) return SQLITE_IOERR_SHMLOCK;
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int del) { return Real(f)->pMethods->xShmUnmap(Real(f), del); }
int Fetch(sqlite3_file* f, sqlite3_int64 off, int n, void** out) {
  return Real(f)->pMethods->xFetch(Real(f), off, n, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) {
  return Real(f)->pMethods->xUnfetch(Real(f), off, p);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* ff = reinterpret_cast<FaultFile*>(file);
  ff->real = reinterpret_cast<sqlite3_file*>(ff + 1);
  ff->base.pMethods = nullptr;
  int rc = g_real->xOpen(g_real, name, ff->real, flags, out_flags);
  if (ff->real->pMethods != nullptr) {
    g_methods.iVersion = ff->real->pMethods->iVersion;
    ff->base.pMethods = &g_methods;
  }
  return rc;
}
int Delete(sqlite3_vfs*, const char* name, int sync) { return g_real->xDelete(g_real, name, sync); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPath(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
int Randomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int SleepFor(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int CurrentTime(sqlite3_vfs*, double* t) { return g_real->xCurrentTime(g_real, t); }
int LastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int CurrentTime64(sqlite3_vfs*, sqlite3_int64* t) { return g_real->xCurrentTimeInt64(g_real, t); }

void Register() {
  g_real = sqlite3_vfs_find(nullptr);
  g_methods = {3,
               Close,
               Read,
               Write,
               Truncate,
               Sync,
               FileSize,
               Lock,
               Unlock,
               CheckReserved,
               FileControl,
               SectorSize,
               Characteristics,
               ShmMap,
               ShmLock,
               ShmBarrier,
               ShmUnmap,
               Fetch,
               Unfetch};
  std::memset(&g_vfs, 0, sizeof g_vfs);
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + g_real->szOsFile;
  g_vfs.mxPathname = g_real->mxPathname;
  g_vfs.zName = "kel-fault";
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPath;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = SleepFor;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = LastError;
  g_vfs.xCurrentTimeInt64 = CurrentTime64;
  sqlite3_vfs_register(&g_vfs, 0);
}

}  // namespace

const char* FaultVfsName() {
  static bool registered = (Register(), true);
  (void)registered;
  return "kel-fault";
}

void ArmFault(FaultKind kind, int n, bool persist) {
  g_kind = kind;
  g_at = n;
  g_count = 0;
  g_persist = persist;
  g_fired = false;
}

bool FaultFired() { return g_fired; }

}  // namespace kel::testing
