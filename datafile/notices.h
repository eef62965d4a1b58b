// The messages of the data-file layer, in the four languages of the family
// (code page 850 bytes). Each picks the text of Session().SessionLanguage:
// "SPA", "GLG", "OCI", anything else Catalan.
#ifndef KEL_DATAFILE_NOTICES_H_
#define KEL_DATAFILE_NOTICES_H_

#include <string>

namespace kel {

// The notice while a locked record or file is waited for (row 24).
std::string LockedRecordNotice();

// The start of the open-failure message; the logical name and " (status)"
// follow it.
std::string OpenFailurePrefix();

// The notice while a lock file names a lock of another station, without its
// final "."; and the text that follows it when the operator may give up with
// Esc.
std::string LockFileNotice();
std::string LockFileEscText();

}  // namespace kel

#endif  // KEL_DATAFILE_NOTICES_H_
