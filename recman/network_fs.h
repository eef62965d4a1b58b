// SQLite files on a network file system are not safe to share between
// computers (WAL needs shared memory on one host; locks over NFS and SMB are
// not reliable). The SQLite backend asks here before it opens or creates a
// file.
#ifndef KEL_RECMAN_NETWORK_FS_H_
#define KEL_RECMAN_NETWORK_FS_H_

#include <cstdint>
#include <string>

namespace kel {

// The status of an Open or Create refused here: the file system's kind
// denies the SQLite files to this installation ("access denied"). It is not
// one the data-file layer waits on or answers by creating the file, so a
// refused open ends the program with its usual message and status.
inline constexpr std::int16_t kStatusNetworkFileSystem = 46;

// 0 when the SQLite backend may use `native_path` (a local file system, or
// the installation allows network file systems: RecordManagerConfig's
// allow_network_fs). A file system that cannot be asked is let through: the
// open then fails or succeeds on its own. Otherwise kStatusNetworkFileSystem,
// and `*refusal` (when not null) and LastFileSystemRefusal() say which file
// system holds the file and that the installation needs a server
// ("[Dades] Servidor" in "Nuri.ini") or "XarxaLocal=1".
[[nodiscard]] std::int16_t CheckFileSystemForSqlite(const std::string& native_path,
                                                    std::string* refusal);

// The text of the last refusal of this process ("" when none).
const std::string& LastFileSystemRefusal();

// Records `text` as the last refusal: for an open refused for another
// reason of the installation's set-up (a server configured for a build
// without server support), shown the same way after the usual message.
void NoteOpenRefusal(std::string text);

}  // namespace kel

#endif  // KEL_RECMAN_NETWORK_FS_H_
