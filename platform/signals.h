// The signals that ask the program to end (SIGTERM, SIGINT, SIGHUP: a kill,
// Ctrl+C on a terminal in normal mode, a closed terminal or SSH session).
// Their default action would kill the program between any two instructions,
// leaving another station's wait for the whole-file lock to the 30-minute
// stale limit and the terminal in raw mode. Instead the handler only notes
// the signal; the program looks at the note where it can end in order (a
// record boundary of the conversion, any wait for a key, a lock or a file)
// and ends with exit code 128 + the signal's number.
//
// The handler is installed without SA_RESTART, so a signal also cuts short
// the poll() of a key wait: the wait returns and the waiter looks again.
#ifndef KEL_PLATFORM_SIGNALS_H_
#define KEL_PLATFORM_SIGNALS_H_

namespace kel {

// Installs the noting handler for the three signals. A signal that was
// ignored when the program started (nohup, a shell's background job) stays
// ignored: whoever started the program asked for that.
void InstallTerminationSignals();

// The number of the first termination signal received, 0 while none has
// come.
[[nodiscard]] int TerminationSignal();

// A readable name ("SIGTERM"), "signal N" for others.
const char* TerminationSignalName(int signal_number);

// Tests: pretends that `signal_number` arrived (0 forgets it).
void SetTerminationSignalForTesting(int signal_number);

}  // namespace kel

#endif  // KEL_PLATFORM_SIGNALS_H_
