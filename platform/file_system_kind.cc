#include "platform/file_system_kind.h"

#if defined(__linux__)
#include <sys/vfs.h>
#endif

#include <cerrno>

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

bool SystemProbe(const std::string& native_path, FileSystemKind* kind) {
#if defined(__linux__)
  std::string path = native_path.empty() ? std::string(".") : native_path;
  for (;;) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) == 0) {
      *kind = FileSystemKindForMagic(static_cast<std::int64_t>(info.f_type) & 0xFFFFFFFF);
      return true;
    }
    if (errno != ENOENT && errno != ENOTDIR) return false;
    // Not there yet: ask the directory that will hold it.
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
      if (path == ".") return false;
      path = ".";
    } else if (slash == 0) {
      if (path == "/") return false;
      path = "/";
    } else {
      path.resize(slash);
    }
  }
#else
  (void)native_path;
  (void)kind;
  return false;
#endif
}

FileSystemProbe& Probe() {
  static FileSystemProbe probe = &SystemProbe;
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

bool FileSystemKindOf(const std::string& native_path, FileSystemKind* kind) {
  *kind = FileSystemKind{};
  if (Probe()(native_path, kind)) return true;
  *kind = FileSystemKind{};
  return false;
}

FileSystemProbe SetFileSystemProbe(FileSystemProbe probe) {
  FileSystemProbe previous = Probe();
  Probe() = probe != nullptr ? probe : &SystemProbe;
  return previous;
}

}  // namespace kel
