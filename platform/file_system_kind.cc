#include "platform/file_system_kind.h"

namespace kel {
namespace {

struct KnownFileSystem {
  std::int64_t magic;
  const char* name;
};

// The network file systems by the identifiers of linux/magic.h and the
// kernel's file-system sources.
constexpr KnownFileSystem kNetworkFileSystems[] = {
    {0x6969, "nfs"},       // NFS_SUPER_MAGIC (NFS 2, 3 and 4)
    {0x517B, "smb"},       // SMB_SUPER_MAGIC (the old smbfs)
    {0xFF534D42, "cifs"},  // CIFS_SUPER_MAGIC
    {0xFE534D42, "smb2"},  // SMB2_SUPER_MAGIC (the smb3 client)
    {0x564C, "ncp"},       // NCP_SUPER_MAGIC (NetWare)
    {0x01021997, "9p"},    // V9FS_MAGIC (virtual-machine shares)
    {0x5346414F, "afs"},   // AFS_SUPER_MAGIC
    {0x73757245, "coda"},  // CODA_SUPER_MAGIC
    {0x00C36400, "ceph"},  // CEPH_SUPER_MAGIC
};

FileSystemProbe& Probe() {
  static FileSystemProbe probe = &SystemFileSystemProbe;
  return probe;
}

}  // namespace

FileSystemKind FileSystemKindForMagic(std::int64_t magic) {
  FileSystemKind kind;
  kind.magic = magic;
  for (const KnownFileSystem& known : kNetworkFileSystems) {
    if (known.magic == magic) {
      kind.network = true;
      kind.name = known.name;
    }
  }
  return kind;
}

FileSystemKind WindowsPathKind(std::string_view full_path, bool remote_drive) {
  // The start of the path with "/" as "\" and letters in capitals.
  std::string head(full_path.substr(0, 8));
  for (char& c : head) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  bool unc = false;
  if (head.rfind("\\\\?\\UNC\\", 0) == 0) {
    unc = true;  // "\\?\UNC\server\share\..."
  } else if (head.rfind("\\\\?\\", 0) == 0 || head.rfind("\\\\.\\", 0) == 0) {
    unc = false;  // "\\?\C:\..." and "\\.\C:\...": a drive
  } else if (head.rfind("\\\\", 0) == 0) {
    unc = true;  // "\\server\share\..."
  }
  FileSystemKind kind;
  if (unc || remote_drive) {
    kind.network = true;
    kind.name = unc ? "smb share" : "network drive";
  }
  return kind;
}

bool FileSystemKindOf(const std::string& native_path, FileSystemKind* kind) {
  *kind = FileSystemKind{};
  if (Probe()(native_path, kind)) return true;
  *kind = FileSystemKind{};
  return false;
}

FileSystemProbe SetFileSystemProbe(FileSystemProbe probe) {
  FileSystemProbe previous = Probe();
  Probe() = probe != nullptr ? probe : &SystemFileSystemProbe;
  return previous;
}

}  // namespace kel
