// Where the plain console meets the system (console_plain_posix.cc,
// console_plain_win32.cc): the characters its lines go out in and how they
// are written.
#ifndef KEL_PLATFORM_CONSOLE_PLAIN_IO_H_
#define KEL_PLATFORM_CONSOLE_PLAIN_IO_H_

#include <string>
#include <string_view>

namespace kel {

// Called once when a plain console opens. POSIX: a reader that goes away
// (`... | head`) must not kill a conversion half way through, so SIGPIPE is
// ignored and writes to it fail quietly instead.
void PreparePlainOutput();

// One line of output, with its line end, from a code page 850 text. POSIX:
// UTF-8 as the screen shows it (PlainTextLine), ended by "\n". Windows: the
// code page 850 bytes themselves, as the console and the family's tools
// read them (PlainCp850Line), ended by "\r\n".
std::string PlainOutputLine(std::string_view cp850);

// Writes all of `bytes` to the descriptor (standard output 1, standard
// error 2, or any other open descriptor); a failure is ignored: a closed log
// must not stop the work.
void WritePlainOutput(int fd, std::string_view bytes);

// True when both descriptors lead to the same file.
bool SamePlainOutput(int fd_a, int fd_b);

}  // namespace kel

#endif  // KEL_PLATFORM_CONSOLE_PLAIN_IO_H_
