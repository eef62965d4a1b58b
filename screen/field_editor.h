// The field editor: every value the operator types goes through EditField,
// which edits a fixed-length text in place on the screen, in a one-line or
// multi-line rectangle, until a key that the current context declares as an
// exit key arrives (or a mouse click falls outside the field).
//
// Three process-wide settings shape an edit without being parameters:
//   - the exit-key table (`ExitKeys`, `ExitKeyResults`): which keys end the
//     edit and what code each returns (SetExitKeys);
//   - the choice list (`ChoiceList`): a non-empty list turns the field into
//     a selector that steps through fixed options shown between the glyphs
//     of bytes 0x11 and 0x10 (left- and right-pointing triangles);
//   - the mask character (`MaskChar`): hides the text of secret entries.
// Each user of the editor saves the table on entry (SetExitKeys("+...")),
// restores it on exit (SetExitKeys("-", "")), and clears the choice list
// after a selector field. ScopedExitKeys does the saving and restoring.
//
// Exit-key table layout (both texts grow together, 2 bytes per entry):
//
//   offset  size  ExitKeys                 ExitKeyResults
//   2i      2     key i, little-endian     the code EditField returns for it
//
// A key is looked up at even offsets only.
//
// Saved tables: `ExitKeyStack` keeps up to kExitKeyStackDepth saved tables,
// so that a pop-up opened from inside a field edit (lookup list, calendar,
// calculator, help) and the pop-ups it opens in turn each give the table
// back to the one below. `ExitKeyDepth` counts the saves not yet restored;
// a save beyond the stack's room is counted but not stored, and its
// matching restore leaves the table as it is, so every later restore still
// brings back the table of its own level.
//
// Globals: FieldEditor() (the names above); EditField also reads and writes
// the screen's Insert toggle (screen_buffer.h) and reads `FoldAccents`
// around the selector's letter matching (util/fold_case.h).
#ifndef KEL_SCREEN_FIELD_EDITOR_H_
#define KEL_SCREEN_FIELD_EDITOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

// The mask character that "H" selects ("X").
inline constexpr std::int16_t kMaskX = 88;
// How many saved exit-key tables the stack holds.
inline constexpr std::size_t kExitKeyStackDepth = 16;

struct ExitKeyTable {
  std::string keys;     // as ExitKeys
  std::string results;  // as ExitKeyResults
};

struct FieldEditorState {
  std::string ExitKeys;
  std::string ExitKeyResults;
  // Saved tables, the last saved at the back (at most kExitKeyStackDepth).
  std::vector<ExitKeyTable> ExitKeyStack;
  // Saves not yet restored; may exceed ExitKeyStack.size() (see above).
  std::int16_t ExitKeyDepth = 0;
  // 0: the text is shown; otherwise the character drawn instead of it.
  std::int16_t MaskChar = 0;
  // Empty: free text. Otherwise "|code,text|code,text...".
  std::string ChoiceList;
};

FieldEditorState& FieldEditor();
// Back to the state at start (tests): empty table, empty stack, no mask,
// no choice list.
void ResetFieldEditor();

// Changes the exit-key table. `mode` is a string of letters processed in
// order, case-insensitive; `keys` a comma-separated list of hexadecimal key
// codes, each optionally followed by "=" and the hexadecimal code to return
// for it ("1b", "4800", "d=4f00"). Blanks inside a code are ignored; a code
// reads its hexadecimal digits up to the first other character (none: 0);
// more than four digits keep the low 16 bits; empty items are skipped.
//   E  empty `ExitKeys` and `ExitKeyResults`
//   A  add each listed key with its result (the key itself without "=")
//   D  remove each listed key, every entry of it, with its result
//   +  save the current table (see "Saved tables" above)
//   -  restore the last saved table; nothing when none is saved
//   H  `MaskChar` = 88 ("X"): hide the text
//   V  `MaskChar` = 0: show the text
// Other characters are ignored.
void SetExitKeys(std::string_view mode, std::string_view keys);

// The byte offset of `key` in `ExitKeys` (whole entries only: even
// offsets), or -1 when it is not an exit key; and the result code stored at
// such an offset.
int FindExitKey(std::int16_t key);
std::int16_t ExitKeyResultAt(int offset);

// Sets `ChoiceList` for the following edits; "" ends selector mode.
void SetChoiceList(std::string_view list);

// One option of a choice list.
struct Choice {
  std::string code;
  std::string text;
};
// The options of "|code,text|code,text...": anything before the first "|"
// is ignored; an option without "," is all code with an empty text. No
// option (an empty list, or no "|"): free text.
std::vector<Choice> ParseChoices(std::string_view list);
// The index of the option whose code equals `value` (trailing blanks of
// both ignored); -1 when none does.
int FindChoice(const std::vector<Choice>& choices, std::string_view value);

// Edits `*value` in place and returns in `*key` the key that ended the edit.
//
// row, col: the field's first cell, window-relative as for WinLocate; 0
// means the cursor's current row or column. width: columns per line; 0 (or
// less) means the value's length + 1 (one line). `*pos`: the cursor
// position, 1..length + 1, clamped on entry and returned. The length of
// `*value` never changes.
//
// `*key`: the result code of the exit key that ended the edit (see
// SetExitKeys; with an empty table, the first key that is not an editing
// key itself), or for a mouse click outside the field -(column x 100 + row)
// of the click in absolute screen coordinates.
//
// Before the end check a key is translated: Shift+Tab (0F00) -> Up (4800);
// Tab (9) -> Enter (13); Enter -> End (4F00) when End is an exit key (a Tab
// follows Enter all the way); Ctrl+F4 (6100) and Alt+F4 (6B00) -> Esc (1B).
//
// Screen: the field is drawn in colour "u" while edited, left in it at the
// end (the caller redraws the field in its own colours) with colour "h"
// selected; a selector's triangles are drawn in the colour current on
// entry and blanked at the end. In free-text fields the cursor shows the
// Insert toggle: 50% high in insert mode, 100% in overwrite mode; Ins flips
// the toggle. The cursor ends on the field's first cell with the
// visibility it had on entry.
//
// A selector whose value matches none of its options starts on the first
// option and takes its code, so the value returned is always the option
// shown. In a masked field Ctrl+C copies nothing.
//
// Reads/writes: `ExitKeys` (read), `MaskChar` (read), `ChoiceList` (read),
// the Insert toggle, the clipboard, `ColourMode`.
void EditField(std::int16_t row, std::int16_t col, std::int16_t width, std::string* value,
               std::int16_t* pos, std::int16_t* key);

// SetExitKeys("+" + mode, keys) on construction, SetExitKeys("-", "") on
// destruction.
class ScopedExitKeys {
 public:
  ScopedExitKeys(std::string_view mode, std::string_view keys);
  ~ScopedExitKeys();
  ScopedExitKeys(const ScopedExitKeys&) = delete;
  ScopedExitKeys& operator=(const ScopedExitKeys&) = delete;
};

}  // namespace kel

#endif  // KEL_SCREEN_FIELD_EDITOR_H_
