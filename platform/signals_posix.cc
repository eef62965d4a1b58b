#include <signal.h>

#include <cstring>

#include "platform/signals.h"

namespace kel {
namespace {

volatile sig_atomic_t g_signal = 0;

extern "C" void NoteTerminationSignal(int signal_number) {
  // Only the first one counts: a second Ctrl+C must not change the exit code.
  if (g_signal == 0) g_signal = signal_number;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

void InstallTerminationSignals() {
  for (int signal_number : kSignals) {
    struct sigaction current;
    std::memset(&current, 0, sizeof current);
    if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &NoteTerminationSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked poll() returns
    (void)::sigaction(signal_number, &action, nullptr);
  }
}

int TerminationSignal() { return g_signal; }

const char* TerminationSignalName(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "another signal";
  }
}

void SetTerminationSignalForTesting(int signal_number) { g_signal = signal_number; }

}  // namespace kel
