// The file system under a path on POSIX systems: statfs's identifier on
// Linux; elsewhere nothing can be asked.
#include "platform/file_system_kind.h"

#if defined(__linux__)
#include <sys/vfs.h>
#endif

#include <cerrno>

namespace kel {

bool SystemFileSystemProbe(const std::string& native_path, FileSystemKind* kind) {
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

}  // namespace kel
