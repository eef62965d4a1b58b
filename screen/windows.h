// Windows: rectangles of the screen that a pop-up is about to cover. Opening
// one (WinPush) saves what lies under it, with the cursor and the previous
// window, on the stack file "WinPush.tmp" (window_stack_file.h) in the
// session's `TempDir`; closing it (WinPop) paints the saved cells back.
// While a window is open, WinLocate places the cursor relative to it.
//
// Calling order: every WinPush is matched by one WinPop, innermost first.
// ScopedWindow does both for C++ callers.
//
// Globals: reads and writes `WindowDepth`, `WindowTop`, `WindowLeft`,
// `WindowBottom`, `WindowRight` (Screen(), screen_buffer.h); reads the text
// colour and `TempDir`.
#ifndef KEL_SCREEN_WINDOWS_H_
#define KEL_SCREEN_WINDOWS_H_

#include <cstdint>
#include <string_view>

namespace kel {

// Saves the rectangle (frame included, absolute coordinates) and makes it
// the current window; draws nothing. Refused silently (nothing saved,
// nothing changed) when a corner lies outside the screen, when top > bottom
// or left > right, or when a coordinate exceeds the file's two digits.
//
// The record goes to the stack file after its top pointer. An existing file
// is used when it is sound (the pointer lies within the file and the
// records below it, followed back through their length fields, end exactly
// at position 5): a calling program of the family may have left its own
// windows there, which must survive this program's. A damaged file (a
// pointer or length that does not add up) is treated as an empty stack. When
// the file cannot be written at all (no temporary directory, disk full) the
// record is kept in memory instead, so that the matching WinPop still
// restores the screen.
void WinPush(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right);

// Closes the current window: repaints the saved cells (each in its own
// attribute; the text colour ends as the last cell's attribute, `ColourMode`
// unchanged), puts the cursor back, makes the previous window current and
// lowers `WindowDepth`. The stack file is deleted only when its pointer
// falls below 6 (no record left, a caller's included). With no window open
// (`WindowDepth` 0) it restores nothing and deletes the stack file unless
// it is sound and holds records. A missing or damaged file (wrong pointer, length,
// digits or a rectangle outside the screen) restores nothing and empties
// the stack: `WindowDepth` 0, no current window.
void WinPop();

// Moves the cursor to (row, col) relative to the current window's top-left
// frame corner (WindowTop + row, WindowLeft + col), or absolute with no
// window open. Ignored outside the screen.
void WinLocate(std::int16_t row, std::int16_t col);

// The usable inside of the current window, absolute: 1 / 1 / ScreenCols()
// with no window open, else WindowTop + 1 / WindowLeft + 1 / WindowRight - 1.
std::int16_t WinFirstRow();
std::int16_t WinFirstCol();
std::int16_t WinLastCol();

// Draws the current window's frame in the text colour and blanks its
// inside: style 0 blank (the frame line blanked too), 1 single line, 2
// double line (other styles draw as 0). Nothing with no window open.
void DrawFrame(std::int16_t style);

// Scrolls the rectangle from (top + 1, left + 1) to (bottom + 1, right + 1)
// by n rows, up when n > 0, down when n < 0, filling vacated rows with
// blanks in the text colour: pass a window's frame corner to address the
// first cell inside it. Clipped to the screen.
void ScrollRect(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
                std::int16_t n);

// True when every byte of `text` is the character `code` (true for "").
bool IsAllChar(std::string_view text, std::int16_t code);

// WinPush on construction, WinPop on destruction.
class ScopedWindow {
 public:
  ScopedWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
    WinPush(top, left, bottom, right);
  }
  ~ScopedWindow() { WinPop(); }
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;
};

}  // namespace kel

#endif  // KEL_SCREEN_WINDOWS_H_
