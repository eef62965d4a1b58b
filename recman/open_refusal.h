// Why the record manager last refused to open or create a data file, where
// the status alone cannot say it: the file system that holds a SQLite file
// kept from network shares, or the server's own words when it cannot be
// reached. The caller that reports the failure puts it into its own words
// (the data-file layer shows it under its open-failure message).
#ifndef KEL_RECMAN_OPEN_REFUSAL_H_
#define KEL_RECMAN_OPEN_REFUSAL_H_

#include <string>

namespace kel {

enum class OpenRefusalKind {
  kNone,
  // Status kStatusNetworkFileSystem (network_fs.h); detail: the file
  // system's name ("nfs", "smb2").
  kNetworkFileSystem,
  // Status 2 from a server that could not be reached or refused the
  // session; detail: the server library's message, UTF-8, possibly several
  // lines, with every password of the connection string hidden
  // (conninfo_passwords.h).
  kServerUnreachable,
};

struct OpenRefusal {
  OpenRefusalKind kind = OpenRefusalKind::kNone;
  std::string detail;
};

// The last refusal noted in this process (kind kNone when none since the
// last ClearOpenRefusal).
const OpenRefusal& LastOpenRefusal();

// Forgets the last refusal: a caller does this before an open whose failure
// it will report, so that an older refusal is not taken for its reason.
void ClearOpenRefusal();

// Notes a refusal (the record manager's engines).
void NoteOpenRefusal(OpenRefusalKind kind, std::string detail);

}  // namespace kel

#endif  // KEL_RECMAN_OPEN_REFUSAL_H_
