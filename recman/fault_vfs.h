// A SQLite VFS for tests that passes every call to the default one and fails
// the Nth write, sync or lock (once, or from then on: a full disk, a dead
// device), so that every failure path of the record manager can be walked.
#ifndef KEL_RECMAN_FAULT_VFS_H_
#define KEL_RECMAN_FAULT_VFS_H_

namespace kel::testing {

enum class FaultKind { kWrite, kDiskFull, kSync, kLock };

// The VFS's name; registered on first use.
const char* FaultVfsName();

// Fails call number `n` (1-based) of `kind`, counted from now; with
// `persist`, every later call of that kind fails too. n = 0 disarms.
void ArmFault(FaultKind kind, int n, bool persist);
// Whether the armed fault has fired since ArmFault.
bool FaultFired();

}  // namespace kel::testing

#endif  // KEL_RECMAN_FAULT_VFS_H_
