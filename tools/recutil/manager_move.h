// Moving an installation's data files between the installed record
// manager's files and ours (SQLite files), in either direction, in place.
// Both keep a data file under the same path, so the move goes in two steps:
//
// 1. Every file is copied beside itself, to NAME + ".kel-copy", through the
//    other record manager (CopyDataFile: the source held exclusively, the
//    copy created from the installation's dictionary when it describes the
//    file, compared afterwards record by record and byte for byte). When any
//    file fails, every copy made is removed and nothing else changes.
// 2. Only then does each copy take its source's place; the source is kept
//    beside it under a backup name: NAME + ".gestor" for the installed
//    record manager's file when leaving it, NAME + ".kel" for ours when
//    going back to it. Nothing is deleted.
//
// Before step 1 every backup name must be free (unless `replace`), and
// before step 2 no SQLite side must still have a write-ahead log (a program
// that has the file open).
#ifndef KEL_TOOLS_RECUTIL_MANAGER_MOVE_H_
#define KEL_TOOLS_RECUTIL_MANAGER_MOVE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recman/backend_config.h"

namespace kel {

inline constexpr char kStagingSuffix[] = ".kel-copy";
inline constexpr char kManagerBackupSuffix[] = ".gestor";
inline constexpr char kOwnBackupSuffix[] = ".kel";

struct MoveRequest {
  // true: from our SQLite files to the installed record manager's; false:
  // the other way.
  bool to_manager = false;
  // The files, as absolute native paths under `root`.
  std::vector<std::string> files;
  // Files found by a walk rather than named: one that the source's record
  // manager does not take for a data file (30) is left out, not a failure.
  bool walked = false;
  // The installed record manager (its `library` set) and our SQLite files.
  RecordManagerConfig manager;
  RecordManagerConfig own_files;
  // The installation root (native, ending in '/'): its "ddf" folder holds
  // the dictionaries.
  std::string root;
  // An existing backup is overwritten (otherwise the move is refused).
  bool replace = false;
  std::string owner;
};

// What became of one file.
struct MovedFile {
  std::string path;
  std::uint32_t records = 0;
  std::int16_t status = 0;  // 0 moved (or, with `skipped`, left out)
  bool skipped = false;     // not a data file of the source's record manager
  bool copied = false;      // step 1 copied and compared it
  std::string backup;       // where the source is kept, once moved
  std::string what;         // the failure, or why it was left out
};

struct MoveOutcome {
  std::vector<MovedFile> files;
  // True when step 2 ran: the copies took their sources' places (each file's
  // status says whether its own swap succeeded).
  bool swapped = false;
};

// Progress of the copy of one file (step 1).
using MoveProgress =
    std::function<void(const std::string& path, std::uint32_t done, std::uint32_t total)>;

// Moves as described above. Returns 0 when every file (not left out) was
// moved, else the first failure's status; `*outcome` tells file by file.
[[nodiscard]] std::int16_t MoveInstallation(const MoveRequest& request,
                                            const MoveProgress& progress, MoveOutcome* outcome);

// The dictionary's Create buffer for the data file `native_path` of the
// installation `root`: root + "ddf/" + base name + ".xdf", the name's letter
// case as it is on disk. "" when there is none or it cannot be read.
std::string DictionaryFor(const std::string& root, const std::string& native_path);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_MANAGER_MOVE_H_
