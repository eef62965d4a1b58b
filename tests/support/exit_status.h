// The exit code of a program run with std::system, on every system: POSIX
// returns a wait status, Windows the exit code itself.
#ifndef KEL_TESTS_SUPPORT_EXIT_STATUS_H_
#define KEL_TESTS_SUPPORT_EXIT_STATUS_H_

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace kel {

// -1 when the program did not end by itself (a signal).
inline int ExitCodeOfSystem(int status) {
#if defined(_WIN32)
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace kel

#endif  // KEL_TESTS_SUPPORT_EXIT_STATUS_H_
