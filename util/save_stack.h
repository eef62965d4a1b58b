// A process-wide last-in, first-out store of texts, through which procedures
// keep a value across nested work without a variable of their own. Numbers
// travel as their byte images (16-bit: 2 bytes, 32-bit: 4 bytes,
// little-endian). Callers pop exactly what they pushed, in reverse order.
//
// Layout of `SaveStack`: the pushed entries, oldest first, each being
//
//   offset  size  content
//   0       n     the pushed text
//   n       2     n, 16-bit little-endian
//
// so the last two bytes of the whole text give the length of the top entry.
#ifndef KEL_UTIL_SAVE_STACK_H_
#define KEL_UTIL_SAVE_STACK_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kel {

struct SaveStackState {
  std::string SaveStack;  // empty at start-up
};

SaveStackState& SaveStackGlobals();
// Empties the stack (tests).
void ResetSaveStack();

// The longest text an entry can hold: its length travels in 16 bits.
constexpr std::size_t kMaxSaveEntry = 65535;

// Puts a copy of `text` on top. A text longer than kMaxSaveEntry bytes is
// cut to its first kMaxSaveEntry bytes, so the stack stays well formed (no
// caller pushes more than a few bytes).
void SavePush(std::string_view text);

// Takes the top entry off and returns its text. On an empty stack it returns
// "" and leaves the stack empty. Should the stack have been damaged (a top
// length larger than what lies below it), it returns everything left and
// empties the stack rather than read outside it.
std::string SavePop();

}  // namespace kel

#endif  // KEL_UTIL_SAVE_STACK_H_
