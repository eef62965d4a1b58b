// The plain console's output on POSIX, and the choice of backend.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/console.h"
#include "platform/console_plain_io.h"
#include "platform/console_text.h"
#include "util/cp850.h"

namespace kel {

void PreparePlainOutput() { ::signal(SIGPIPE, SIG_IGN); }

std::string PlainOutputLine(std::string_view cp850) { return PlainTextLine(cp850) + "\n"; }

std::string StandardStreamText(std::string_view cp850) { return Cp850ToUtf8(cp850); }

void WritePlainOutput(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool SamePlainOutput(int fd_a, int fd_b) {
  struct stat sa, sb;
  if (::fstat(fd_a, &sa) != 0 || ::fstat(fd_b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

ConsoleKind DetectConsoleKind() {
  return ::isatty(0) == 1 && ::isatty(1) == 1 ? ConsoleKind::kTerminal : ConsoleKind::kPlain;
}

}  // namespace kel
