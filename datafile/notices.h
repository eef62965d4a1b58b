// The messages of the data-file layer, in the four languages of the family
// (code page 850 bytes). Each picks the text of Session().SessionLanguage:
// "SPA", "GLG", "OCI", anything else Catalan.
#ifndef KEL_DATAFILE_NOTICES_H_
#define KEL_DATAFILE_NOTICES_H_

#include <string>
#include <string_view>

namespace kel {

// The notice while a locked record or file is waited for (row 24).
std::string LockedRecordNotice();

// The start of the open-failure message; the logical name and " (status)"
// follow it.
std::string OpenFailurePrefix();

// The reasons shown under the open-failure message when the record manager
// said why it refused the file (recman/open_refusal.h):
// - the file lies on a network file system (`file_system`, its name: "nfs"),
//   where SQLite files cannot be shared, and what the installation needs;
// - the server could not be reached: the words that come before the server
//   library's own message.
std::string NetworkFileSystemReason(std::string_view file_system);
std::string ServerUnreachablePrefix();

// The reasons shown under the open-failure message when there is no record
// manager to call (status 20): the installation's library (`library`, as
// configured) cannot be loaded, with the system's reason `why` (code page
// 850); it exports no BTRCALL (the system's reason likewise); or the
// configuration names a server as well.
std::string ManagerCannotLoadReason(std::string_view library, std::string_view why);
std::string ManagerNoEntryPointReason(std::string_view library, std::string_view why);
std::string ManagerAlsoServerReason();

// The notice while a lock file names a lock of another station, without its
// final "."; and the text that follows it when the operator may give up with
// Esc.
std::string LockFileNotice();
std::string LockFileEscText();

}  // namespace kel

#endif  // KEL_DATAFILE_NOTICES_H_
