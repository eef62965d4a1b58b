// The server's locks as this process holds them: every open of a file on a
// server shares the process's session, whose advisory locks never conflict
// with each other, so conflicts between opens of one process are kept here.
// Internal to the record manager.
#ifndef KEL_RECMAN_PG_LOCKS_INTERNAL_H_
#define KEL_RECMAN_PG_LOCKS_INTERNAL_H_

#include <cstdint>

namespace kel {

class PgConn;

// True when an open of this process has the file whose records table has
// `oid` open on `conn`.
bool OpenedInThisProcess(const PgConn* conn, std::uint32_t oid);

// After fork(): the child forgets the parent's locks (they are the parent's
// session's, not the child's).
void ForgetLocalLocksAfterFork();

}  // namespace kel

#endif  // KEL_RECMAN_PG_LOCKS_INTERNAL_H_
