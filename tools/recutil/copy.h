// Copying a data file from one record manager to another: SQLite files to a
// server schema or back, or between the installed record manager's files
// and ours (the record manager of each side is the one its configuration
// names, recman/backend_config.h). The copy gets the same specification,
// every record's bytes in the same physical order and the owner name; then
// it is read back and compared with the source, record by record and byte
// for byte, before it counts as done.
#ifndef KEL_TOOLS_RECUTIL_COPY_H_
#define KEL_TOOLS_RECUTIL_COPY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "recman/admin.h"
#include "recman/backend_config.h"

namespace kel {

struct CopyRequest {
  // The file's absolute native path; on the server, its name under the
  // configurations' install_root.
  std::string native_path;
  // Where the copy goes, when not under the same name on the other side (a
  // copy between two files of the same kind, or to a file beside the source).
  std::string destination_path;
  RecordManagerConfig from;
  RecordManagerConfig to;
  // Overwrite a destination that exists (otherwise 59).
  bool replace = false;
  // The owner name of the source; the copy gets it too. "" for none.
  std::string owner;
  // The installation's dictionary of the file (the Create buffer of
  // "ddf\NAME.xdf", without its count), or "". When it describes the
  // source's record length and keys, the destination is created from it, as
  // the program would create the file; otherwise from the source's own
  // layout, as Stat gives it.
  std::string dictionary;
  // The records are inserted in transactions of about this many bytes.
  std::size_t batch_bytes = kInsertAllBatchBytes;
};

// Records copied so far and the source's count; called after every batch
// (a few megabytes of records) and once at the end.
using CopyProgress = std::function<void(std::uint32_t done, std::uint32_t total)>;

// Copies as described above. The source is opened exclusively, so no station
// may write it meanwhile (85 while one has it open). 0 with `*copied` the
// number of records; otherwise the status, and `*what` says which step
// failed. A destination left incomplete is named in `*what`: copy again with
// `replace`. Leaves the record manager configured as `from`.
[[nodiscard]] std::int16_t CopyDataFile(const CopyRequest& request, const CopyProgress& progress,
                                        std::uint32_t* copied, std::string* what);

// Whether the Create buffer `dictionary` describes the file whose Stat
// buffer is `stat`: the same record length and, key by key and segment by
// segment, the same position, length, flags (the segment-follows flag aside)
// and type. Page size, file flags and counts do not matter.
bool DictionaryDescribes(const std::string& dictionary, const std::string& stat);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_COPY_H_
