// Which record manager a process calls: our own engine (recman.h), or the
// record manager installed on the workstations, reached through its own
// library. The installation names that library (RecordManagerConfig's
// `library`: "Nuri.ini" [Dades] Gestor, or the variable KELBTR), and every
// record-manager call then goes to the library's exported BTRCALL, with the
// published prototype (entry_point.h); our engine is not used at all.
//
// The library keeps the data files in its own format and its own way: the
// position blocks stay the caller's, the buffers and statuses are the
// published ones, and nothing else passes between the program and it.
#ifndef KEL_RECMAN_MANAGER_LIBRARY_H_
#define KEL_RECMAN_MANAGER_LIBRARY_H_

#include <cstdint>
#include <string>

#include "recman/backend_config.h"
#include "recman/entry_point.h"

namespace kel {

// What kept a record manager from being chosen, for callers that put it into
// their own words (the English `problem` texts below are for the shell).
enum class ManagerProblemKind : std::int8_t {
  kNone,
  kCannotLoad,    // the library cannot be loaded; `reason`: the system's
  kNoEntryPoint,  // the library exports no BTRCALL; `reason`: the system's
  kAlsoServer,    // the configuration names a server as well
};
struct ManagerProblem {
  ManagerProblemKind kind = ManagerProblemKind::kNone;
  std::string reason;  // UTF-8, as the system gives it
};

// Loads `library` (a system text: a bare file name looked up the system's
// way, or a path; platform/dynamic_library.h) and finds its entry point
// under any of its names (kEntryPointNames: on Windows also the decorated
// ones).
// Each library is loaded once per process: a later call with the same name
// gives the same entry without loading anything again (a name that failed is
// tried again). 0 with `*entry` set; kStatusRecordManagerInactive (20) with
// `*entry` null and `*problem` naming the library and the system's reason
// when it cannot be loaded or exports no BTRCALL (and `*detail`, when
// given, saying which).
[[nodiscard]] std::int16_t LoadRecordManagerLibrary(const std::string& library,
                                                    RecordManagerEntry* entry,
                                                    std::string* problem,
                                                    ManagerProblem* detail = nullptr);

// The entry point that the files of `config` are reached through: our
// engine's BTRCALL when `library` is empty (`*own_engine` true), else the
// library's (loaded as above). A configuration that names both a library and
// a server is refused: an installation keeps its data files in one place, and
// which one must never be a silent choice. 0, or 20 with `*problem` saying
// why (and `*entry` null; `*detail`, when given, as above).
[[nodiscard]] std::int16_t SelectRecordManager(const RecordManagerConfig& config,
                                               RecordManagerEntry* entry, bool* own_engine,
                                               std::string* problem,
                                               ManagerProblem* detail = nullptr);

}  // namespace kel

#endif  // KEL_RECMAN_MANAGER_LIBRARY_H_
