// The calculator pop-up (Alt+X from any key wait): an adding machine with a
// paper tape of the last 22 operations, 26 columns wide over the screen's
// 25 rows, that the operator can slide left and right. Its state
// (calculator_state.h) lives in "KELCALC.TMP" in the session's `TempDir`
// between uses.
#ifndef KEL_SCREEN_CALCULATOR_H_
#define KEL_SCREEN_CALCULATOR_H_

#include <string>
#include <string_view>

#include "screen/calculator_state.h"

namespace kel {

inline constexpr char kCalculatorStateFile[] = "KELCALC.TMP";

// Runs the calculator and returns its result text (CalculatorResultText) for
// the waiting input, or "" when the operator leaves with Esc. Called by the
// key reader (register it with RegisterCalculatorPopup).
//
// Opens with the exit-key table saved and emptied, colour "n" (the previous
// colour saved), the cursor hidden; reads keys with GetKey, so Alt+C opens
// the calendar over it. On leaving, the screen beneath is restored, the
// state file is rewritten, and the colour, the cursor's visibility and the
// exit-key table are put back.
// Reads/writes: "KELCALC.TMP" (created when missing), the window, colour
// and exit-key stacks (balanced), `TempDir` (read).
std::string CalculatorPopup();

// The state in the file at `path` (a system path); the initial state when
// the file is missing, unreadable or damaged (see ParseCalculatorState).
CalculatorState LoadCalculatorState(std::string_view path);

// Replaces the file at `path` with `state`: the text goes to a temporary
// file beside it, forced to disk, then renamed over it, so the file is
// always either the old state or the new one. false when it could not be
// written (the old file is then left as it was).
[[nodiscard]] bool SaveCalculatorState(std::string_view path, const CalculatorState& state);

}  // namespace kel

#endif  // KEL_SCREEN_CALCULATOR_H_
