// SQLite files on a network file system are not safe to share between
// computers (WAL needs shared memory on one host; locks over NFS and SMB are
// not reliable). The SQLite backend asks here before it opens or creates a
// file.
#ifndef KEL_RECMAN_NETWORK_FS_H_
#define KEL_RECMAN_NETWORK_FS_H_

#include <cstdint>
#include <string>

namespace kel {

// 0 when the SQLite backend may use `native_path` (a local file system, or
// the installation allows network file systems: RecordManagerConfig's
// allow_network_fs). Otherwise a non-zero status, and `*refusal` (when not
// null) says which file system holds the file and that the installation
// needs a server.
[[nodiscard]] std::int16_t CheckFileSystemForSqlite(const std::string& native_path,
                                                    std::string* refusal);

// The text of the last refusal of this process ("" when none).
const std::string& LastFileSystemRefusal();

}  // namespace kel

#endif  // KEL_RECMAN_NETWORK_FS_H_
