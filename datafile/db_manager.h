// Which record manager the data-file layer calls. The layer chooses once, at
// its first use in the process (the first DbOpen, or a DbResetAll before
// any), from the record manager's configuration (recman/backend_config.h,
// which the start-up fills from "Nuri.ini" [Dades]):
//
//   - our own engine (recman/recman.h), on SQLite files or a server; or
//   - the record manager installed on the workstations, when the
//     configuration names its library (Gestor, or the variable KELBTR): the
//     library is loaded then, stays loaded to the end of the process, and
//     its BTRCALL receives every call of the layer from then on: Open,
//     Create, every record operation, Close, Reset, and a Reset at the end of
//     the process when files are still open (recman/manager_library.h).
//
// The position blocks stay the layer's (db_file.h); nothing else passes
// between the program and the library.
//
// Globals: the choice, its problem text, the test's entry (below).
#ifndef KEL_DATAFILE_DB_MANAGER_H_
#define KEL_DATAFILE_DB_MANAGER_H_

#include <cstdint>
#include <string>

#include "recman/manager_library.h"

namespace kel {

// Makes the choice if it is not made yet. 0 when the layer has a record
// manager to call; 20 (kStatusRecordManagerInactive) when the configured
// library cannot be loaded or lacks BTRCALL, or the configuration names a
// server as well: nothing is called then (no file is touched), DbOpen ends
// in the open failure with status 20, and RecordManagerProblem() says why.
// A failed choice stays failed for the process.
[[nodiscard]] std::int16_t UseConfiguredRecordManager();

// Why no record manager could be chosen ("the record manager's library X
// cannot be loaded: ..."), in UTF-8 for the terminal's shell; "" when the
// choice succeeded or is not made yet.
const std::string& RecordManagerProblem();
// The same, for callers that say it in the session's language: which problem
// it was and the system's reason; and the library named when the choice was
// made (code page 850, as configured).
const ManagerProblem& RecordManagerProblemDetail();
const std::string& RecordManagerLibrary();

// True once the layer calls our own engine (the choice made and no library
// configured).
bool UsingOwnRecordManager();

// Tests: forgets the choice (and a test's entry in front of it), so that the
// next use chooses again from the configuration. Loaded libraries stay
// loaded.
void ResetRecordManagerChoice();

}  // namespace kel

#endif  // KEL_DATAFILE_DB_MANAGER_H_
