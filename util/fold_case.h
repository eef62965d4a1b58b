// Upper-casing of code page 850 texts, with an optional folding of accented
// letters onto the plain capitals A to Z.
//
// Two fixed translation tables cover the codes 64 to 237; every other byte
// (controls, blank, digits, most punctuation, and 238 to 255) passes through
// unchanged in both modes:
// - ordinary mode: each lower-case letter becomes its capital, accents kept
//   (a -> A, c-cedilla -> C-cedilla, e-grave -> E-grave). Lower-case letters
//   without a capital in the code page (y-diaeresis, o-slash, dotless i,
//   sharp s, micro, thorn) stay as they are.
// - folding mode: every letter, whatever its case and accent, becomes a plain
//   capital (c-cedilla -> C, y-diaeresis -> Y, sharp s -> S); every other
//   character of the covered range becomes a blank. The field editor uses it
//   to match a typed key against the first letter of a choice.
#ifndef KEL_UTIL_FOLD_CASE_H_
#define KEL_UTIL_FOLD_CASE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// Process-wide switch of the folding mode.
struct FoldCaseState {
  // -1 selects the folding mode; every other value the ordinary mode.
  std::int16_t FoldAccents = 0;
};

// The process's switch. Callers that need the folding mode set `FoldAccents`
// to -1 around their calls and back to 0 afterwards (see ScopedFoldAccents).
FoldCaseState& FoldCaseGlobals();
// Back to the state at start-up (tests).
void ResetFoldCase();

// The text with every byte translated by the table of the mode in force
// (`FoldAccents` read at the time of the call). Same length as `text`.
std::string FoldCase(std::string text);

// One byte through the table of the mode in force.
std::uint8_t FoldCaseByte(std::uint8_t byte);

// The ordinary mode, whatever `FoldAccents` holds: for code that must
// compare names without regard to case (configuration keys) and must not
// depend on the switch.
std::string UpperCaseText(std::string_view text);

// Sets `FoldAccents` to -1 for the guard's lifetime and back to 0 after it,
// so an early return cannot leave the folding mode on.
class ScopedFoldAccents {
 public:
  ScopedFoldAccents() { FoldCaseGlobals().FoldAccents = -1; }
  ~ScopedFoldAccents() { FoldCaseGlobals().FoldAccents = 0; }
  ScopedFoldAccents(const ScopedFoldAccents&) = delete;
  ScopedFoldAccents& operator=(const ScopedFoldAccents&) = delete;
};

}  // namespace kel

#endif  // KEL_UTIL_FOLD_CASE_H_
