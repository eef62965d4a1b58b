// The file system under a path on Windows: a UNC path, or a path on a
// mapped network drive, is on another computer.
#include <string>

#include "platform/file_system_kind.h"
#include "platform/win32_internal.h"

namespace kel {

bool SystemFileSystemProbe(const std::string& native_path, FileSystemKind* kind) {
  // The full path says which drive or share a relative path is on.
  const std::wstring wide = WideFromUtf8(native_path.empty() ? "." : native_path);
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return false;
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return false;
  full.resize(got);
  const std::string full_utf8 = Utf8FromWide(full);
  bool remote = false;
  if (full.size() >= 2 && full[1] == L':') {
    const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
    remote = ::GetDriveTypeW(root) == DRIVE_REMOTE;
  }
  *kind = WindowsPathKind(full_utf8, remote);
  return true;
}

}  // namespace kel
