// Message boxes: a framed rectangle in reverse video, centred on column 41,
// showing a text of any length broken into lines of at most 76 characters.
// It is how the program tells the operator anything that needs attention.
// Showing a box does not wait: the box is an open window (windows.h) until
// the caller's WinPop. Three uses, all built from MessageBox and the keyboard:
//   acknowledge: AcknowledgeMessage (FlushKeys, box, beep, GetKey, WinPop);
//   progress or waiting notice: MessageBox, do the work, WinPop;
//   waiting notice with a way out: MessageBox with a text that names the
//   key, retry while polling ReadKey for it, WinPop.
// ScopedMessageBox pairs MessageBox and WinPop for C++ callers.
//
// On the plain console (no terminal) the text of every box is also written
// out as a line, so the log of an unattended run says what happened.
#ifndef KEL_SCREEN_MESSAGE_BOX_H_
#define KEL_SCREEN_MESSAGE_BOX_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// Width of a message box line.
inline constexpr int kMessageLineWidth = 76;

// Breaks `text` into lines of `width` and returns them joined, each aligned:
//   "E", "L", "I"  left, padded with blanks to the width
//   "N"            left, padded with "-"
//   "D", "R"       right-aligned (blanks before)
//   "C"            centred: (width - length) div 2 blanks before, the rest after
//   "A", "B"       justified: blanks added between words to fill the width;
//                  the text's last line is neither justified nor padded
//   others         as cut, not padded
// (case-insensitive). `indent` > 0 indents the first line by that many
// blanks, < 0 every line but the first by its absolute value; the indent
// counts towards the width. Lines end before the blank that precedes a word
// that does not fit; a word longer than the line is cut; blanks at the start
// of a later line are skipped. Control characters (below 32) take no width:
// a line holding them is that much longer. An indent that leaves no room
// still puts one character on each line, so the text always ends.
std::string WrapText(std::string_view text, std::int16_t indent, std::int16_t width,
                     char alignment);

// Shows `*text` in a box around screen row `row` (12 for messages the
// operator acknowledges, 24 for waiting notices) and replaces `*text` with
// its broken form (WrapText(text, 0, 76, 'I'): n lines of 76 characters).
// A line feed in the text ends a part: each part is broken on its own and
// starts on a line of its own (the reason under a message); on the plain
// console each part is a line of the log.
// The box is rows top..top + n + 1 with top = row - (n + 1) div 2 - 2 (at
// least 1; moved up to end on the last row when it would reach below),
// sized by the widest line m: columns 41 - (m + 1) div 2 - 2 to
// m div 2 + 42; single frame, inside blanked, all in colour mode "R"; line k
// on row top + k from column left + 2.
//
// On return the box is the current window (`WindowDepth` one higher): the
// caller must call WinPop once. This always holds: an empty text shows a
// one-line box of blanks, and a text of more lines than the screen holds
// less two (23 on 25 rows) is cut to those lines. The colour mode is the
// caller's again on return (saved with "+", restored with "-").
void MessageBox(std::int16_t row, std::string* text);

// The acknowledge sequence: FlushKeys (keys typed while the work ran are
// discarded, before the box can become visible, so that any key pressed
// once it is seen counts), MessageBox(12, text), a beep, GetKey, WinPop. Returns the key
// (callers normally ignore it). On the plain console the GetKey ends the run
// after the text has been logged.
std::int16_t AcknowledgeMessage(std::string_view text);

// MessageBox on construction, WinPop on destruction.
class ScopedMessageBox {
 public:
  ScopedMessageBox(std::int16_t row, std::string_view text);
  ~ScopedMessageBox();
  ScopedMessageBox(const ScopedMessageBox&) = delete;
  ScopedMessageBox& operator=(const ScopedMessageBox&) = delete;
};

}  // namespace kel

#endif  // KEL_SCREEN_MESSAGE_BOX_H_
