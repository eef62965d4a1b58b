// The plain console's output on Windows, and the choice of backend: the
// console when both standard input and standard output are one, plain
// output otherwise (redirected to a file or a pipe, a scheduled task).
#include <io.h>

#include "platform/console.h"
#include "platform/console_plain_io.h"
#include "platform/console_text.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

HANDLE HandleOf(int fd) {
  if (fd == 1) return ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (fd == 2) return ::GetStdHandle(STD_ERROR_HANDLE);
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != FALSE;
}

}  // namespace

void PreparePlainOutput() {}

std::string PlainOutputLine(std::string_view cp850) { return PlainCp850Line(cp850) + "\r\n"; }

std::string StandardStreamText(std::string_view cp850) { return std::string(cp850); }

void WritePlainOutput(int fd, std::string_view bytes) {
  HANDLE h = HandleOf(fd);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() - done);
    if (::WriteFile(h, bytes.data() + done, want, &put, nullptr) == FALSE || put == 0) return;
    done += put;
  }
}

bool SamePlainOutput(int fd_a, int fd_b) {
  BY_HANDLE_FILE_INFORMATION a, b;
  if (::GetFileInformationByHandle(HandleOf(fd_a), &a) == FALSE ||
      ::GetFileInformationByHandle(HandleOf(fd_b), &b) == FALSE) {
    // Consoles and pipes have no file identity: the same handle is the same.
    return HandleOf(fd_a) == HandleOf(fd_b);
  }
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

ConsoleKind DetectConsoleKind() {
  return IsConsole(STD_INPUT_HANDLE) && IsConsole(STD_OUTPUT_HANDLE) ? ConsoleKind::kTerminal
                                                                     : ConsoleKind::kPlain;
}

}  // namespace kel
