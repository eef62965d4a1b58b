// Which kind of file system holds a path: the record manager refuses to keep
// SQLite files on a network file system, where their locks and shared memory
// do not work between computers.
#ifndef KEL_PLATFORM_FILE_SYSTEM_KIND_H_
#define KEL_PLATFORM_FILE_SYSTEM_KIND_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

struct FileSystemKind {
  // The file system is reached over the network (NFS, SMB/CIFS, ...).
  bool network = false;
  // Its usual name ("nfs", "cifs", "smb2", ...); for a local one, "local".
  std::string name = "local";
  // The identifier the system reports (statfs's f_type on Linux); 0 where
  // the system gives none.
  std::int64_t magic = 0;
};

// The file system that holds `native_path`. A path that does not exist yet
// (a file about to be created) is asked about through the nearest directory
// above it that exists. false when nothing on the path can be asked (`*kind`
// then says local).
bool FileSystemKindOf(const std::string& native_path, FileSystemKind* kind);

// The kind that a statfs identifier stands for: network for the known
// network file systems, local for every other.
FileSystemKind FileSystemKindForMagic(std::int64_t magic);

// The system's own query, which SetFileSystemProbe(nullptr) restores:
// statfs on Linux; on Windows the form of the full path and the type of its
// drive (WindowsPathKind).
bool SystemFileSystemProbe(const std::string& native_path, FileSystemKind* kind);

// Windows: the kind of a full path by its form and by what the system says
// of its drive (`remote_drive`: GetDriveType said DRIVE_REMOTE, a mapped
// network drive). A UNC path (\\server\share\...) names a share on another
// computer whatever the drive says; the long-path and device forms
// (\\?\C:\..., \\.\C:\...) name a drive, and \\?\UNC\... a share again.
// "/" counts as "\".
FileSystemKind WindowsPathKind(std::string_view full_path, bool remote_drive);

// Replaces the system query with `probe` (nullptr: the system again), so that
// tests can pretend that a folder lies on NFS or SMB. The probe gets the
// native path as asked.
using FileSystemProbe = bool (*)(const std::string& native_path, FileSystemKind* kind);
FileSystemProbe SetFileSystemProbe(FileSystemProbe probe);

}  // namespace kel

#endif  // KEL_PLATFORM_FILE_SYSTEM_KIND_H_
