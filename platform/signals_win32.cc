// Console control events as termination signals. Windows calls the handler
// on a thread of its own: for Ctrl+Break (and Ctrl+C where the console
// still treats it as a signal) the handler only notes it and returns, and
// the program ends in order at its next record boundary or wait. For the
// console window being closed, log-off and shut-down the system ends the
// process as soon as the handler returns, so the handler does not return:
// the main thread ends the run in order meanwhile and its exit ends this
// thread with the process. Windows allows about 5 seconds for that (more
// at shut-down); the conversion stops at the next record, well within it.
//
// While the console backend reads keys, Ctrl+C is a key (copy) and reaches
// no handler on Windows; where it still arrives as an event (the program
// with plain output in a console; wine in a Unix terminal, whose terminal
// turns it into a signal) it ends the run like Ctrl+Break.
//
// The numbers are the POSIX signals the same events are there (Ctrl+C and
// Ctrl+Break SIGINT, the closed terminal SIGHUP, log-off and shut-down
// SIGTERM), so the exit codes are the same on both systems: 130, 129, 143.
#include <atomic>

#include "platform/signals.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

std::atomic<int> g_signal{0};
std::atomic<DWORD> g_event{CTRL_BREAK_EVENT};  // which one gave kSigInt

BOOL WINAPI NoteControlEvent(DWORD event) {
  int signal_number = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal_number = kSigInt;
      break;
    case CTRL_CLOSE_EVENT:
      signal_number = kSigHup;
      break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal_number = kSigTerm;
      break;
    default:
      return FALSE;
  }
  // Only the first one counts: a second Ctrl+Break must not change the
  // exit code.
  int none = 0;
  if (g_signal.compare_exchange_strong(none, signal_number)) g_event.store(event);
  ::SetEvent(TerminationWakeEvent());
  if (signal_number == kSigInt) return TRUE;
  for (;;) ::Sleep(INFINITE);  // the main thread's exit ends the process
}

}  // namespace

HANDLE TerminationWakeEvent() {
  static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void InstallTerminationSignals() {
  (void)TerminationWakeEvent();  // made before any event can need it
  (void)::SetConsoleCtrlHandler(&NoteControlEvent, TRUE);
}

int TerminationSignal() { return g_signal.load(); }

const char* TerminationSignalName(int signal_number) {
  switch (signal_number) {
    case kSigInt:
      return g_event.load() == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break";
    case kSigHup:
      return "the console window being closed";
    case kSigTerm:
      return "log-off or shut-down";
    default:
      return "another signal";
  }
}

void SetTerminationSignalForTesting(int signal_number) {
  g_signal.store(signal_number);
  if (signal_number == 0) {
    ::ResetEvent(TerminationWakeEvent());
  } else {
    ::SetEvent(TerminationWakeEvent());
  }
}

}  // namespace kel
