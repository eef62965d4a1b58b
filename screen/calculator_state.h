// The adding machine behind the calculator pop-up (calculator.h): its whole
// state, what each key does to it, its result text, and the text of its
// state file. Pure code: no screen, no files.
//
// The state file "KELCALC.TMP" is a sequential text file, comma-separated
// fields, texts in double quotes, one record per line ended by CR LF:
//
//   record  fields
//   1       left column, first tape row, entry, accumulator
//   2       cleared, entry in progress, decimal point, decimals (flags -1/0)
//   3       "last operator", "pending operator"
//   4..25   tape lines 1..22: value, decimal point, decimals, "operator"
#ifndef KEL_SCREEN_CALCULATOR_STATE_H_
#define KEL_SCREEN_CALCULATOR_STATE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The box is this wide; its left column runs from 1 to the screen's width
// minus 25.
inline constexpr int kCalculatorWidth = 26;
// Tape lines kept (line 22 the newest); rows 2..22 of the screen show them.
inline constexpr int kTapeLines = 22;
// First tape row of an empty tape, and the highest the tape can reach.
inline constexpr std::int16_t kEmptyTapeRow = 23;
inline constexpr std::int16_t kTopTapeRow = 2;
// Decimals an entry can carry: what the 15-digit normalisation keeps.
inline constexpr std::int16_t kMaxCalculatorDecimals = 15;

struct TapeLine {
  double value = 0;
  bool decimal_point = false;
  std::int16_t decimals = 0;
  char op = ' ';  // blank: a total line
};

struct CalculatorState {
  std::int16_t left_column = 1;
  std::int16_t first_tape_row = kEmptyTapeRow;  // 23: the tape is empty
  double entry = 0;
  double accumulator = 0;
  bool cleared = true;  // a clear was just done, nothing typed since
  bool entry_in_progress = false;
  bool decimal_point = false;               // of the entry
  std::int16_t decimals = 0;                // of the entry
  std::string last_operator;                // "", or one of + - * / % R C =
  std::string pending_operator;             // waiting to be applied to the accumulator
  std::array<TapeLine, kTapeLines> tape{};  // tape[0] is line 1
};

// What the pop-up must do after a key.
enum class CalculatorAction {
  kNone,       // only the entry line may have changed
  kRedraw,     // the tape grew: draw the box again
  kRedrawAll,  // the tape shrank: restore the screen beneath, then draw
  kMove,       // left_column changed
  kFinish,     // "F" / Alt+F: hand back CalculatorResultText
  kCancel,     // Esc: hand back nothing
};

struct CalculatorOutcome {
  CalculatorAction action = CalculatorAction::kNone;
  // An operation was refused because its result would not be a finite
  // number (a division by zero): the accumulator kept its value.
  bool refused = false;
};

// Applies one key code (as GetKey returns it) to `*state`:
//   0..9 . Backspace      edit the entry
//   + - * / % R C         operations (letters in either case)
//   = Enter               complete the operation (only with an entry typed)
//   T                     change the entry's sign
//   Left/Right, Ctrl+Left/Right   move the box one column, wrapping at the
//                         screen's edges (`screen_cols` wide)
//   F Alt+F / Esc         finish / leave
// Every other key changes nothing. Digits beyond what a double holds or
// beyond 15 decimals are ignored; an operation whose result would not be
// finite leaves the accumulator as it was (outcome.refused).
CalculatorOutcome ApplyCalculatorKey(CalculatorState* state, std::int16_t key, int screen_cols);

// The result handed to the waiting input: the value in hundredths (two
// implied decimals), without sign, "." only before a third decimal: 12.5
// gives "1250", 0.125 gives "12.5". The value is the entry while one is
// being typed, the accumulator otherwise.
std::string CalculatorResultText(const CalculatorState& state);

// The 22-character picture of a tape line or of the entry.
std::string CalculatorPicture(bool decimal_point, int decimals);

// The state read from the bytes of a state file. Never fails: a field that
// is missing, unreadable or out of range keeps its initial value, the tape
// lines the file lacks are blank lines (value 0), lines beyond the 22nd are
// ignored. Accepts CR LF or LF line ends.
CalculatorState ParseCalculatorState(std::string_view bytes);

// The bytes of the state file for `state` (every record, the 22 tape lines
// included, CR LF line ends).
std::string CalculatorStateText(const CalculatorState& state);

}  // namespace kel

#endif  // KEL_SCREEN_CALCULATOR_STATE_H_
