// The screen model: the program's own cells (a code page 850 byte and an
// attribute per cell), the cursor, the text colour and the colour modes, and
// the console backend that shows them.
//
// The cells here are the truth: reading a cell back never asks the
// terminal. Every change lands in the cells at once; the backend is brought
// up to date when the program waits for input (GetKey, and every sleep and
// key wait through the wait hooks of platform/wait_hooks.h), on
// RefreshScreen(), and otherwise at most about 30 times a second, so a long
// conversion is not held up by the terminal.
//
// Coordinates are 1-based absolute screen positions; window-relative
// placement is windows.h. Writing never leaves the screen: cells outside it
// are skipped, and cursor moves outside it are ignored (the cursor stays).
//
// Globals (Screen()): `WindowDepth`, `WindowTop`, `WindowLeft`,
// `WindowBottom`, `WindowRight` (written by windows.cc only), `ColourMode`
// and `ColourStack` (written by SetColour only). `ColourTable` is the
// session's (util/session_context.h).
#ifndef KEL_SCREEN_SCREEN_BUFFER_H_
#define KEL_SCREEN_SCREEN_BUFFER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/console_memory.h"

namespace kel {

struct ScreenState {
  // Number of open windows; 0: no window, coordinates are absolute.
  std::int16_t WindowDepth = 0;
  // The current window's rectangle, frame included (meaningful while
  // WindowDepth > 0).
  std::int16_t WindowTop = 0;
  std::int16_t WindowLeft = 0;
  std::int16_t WindowBottom = 0;
  std::int16_t WindowRight = 0;
  // The colour mode last selected, 0..4.
  std::int16_t ColourMode = 0;
  // Saved colour modes, one byte each, the last saved at the end.
  std::string ColourStack;
};

// The process's screen globals.
ScreenState& Screen();

// Back to the state at start: globals zero, window stack forgotten (the
// stack file is left alone), every cell a blank in grey on black, the cursor
// visible at (1, 1) with the normal size, text colour grey on black. The
// console is kept.
void ResetScreen();

// ---------------------------------------------------------------------------
// The console

// Opens the backend of `kind` and makes it the screen's (kMemory: a
// 25 x 80 memory console). On failure the current console stays,
// `*message` (when given) says why in a sentence for the operator, and the
// status tells the kind of failure. The program calls
// SelectConsole(DetectConsoleKind()) at start (or SelectConsoleOrExit).
[[nodiscard]] ConsoleStatus SelectConsole(ConsoleKind kind, std::string* message = nullptr);
// The same, but on failure writes the message to standard error and ends the
// process with kExitTerminalUnusable.
void SelectConsoleOrExit(ConsoleKind kind);
// Installs `console` (tests: a plain console on their own descriptors).
void UseConsole(std::unique_ptr<Console> console);
// Installs a fresh memory console of the given size, resets the screen
// (ResetScreen) and returns the console for scripting input and reading
// back what was drawn. Before any selection the screen has a 25 x 80 memory
// console.
MemoryConsole& UseMemoryConsole(int rows = kScreenRows, int cols = kScreenCols);
// The console in use.
Console& ScreenConsole();

// The screen size, from the console.
std::int16_t ScreenRows();
std::int16_t ScreenCols();

// Draws every pending change now and flushes the backend.
void RefreshScreen();

// ---------------------------------------------------------------------------
// Colour

// Selects a colour mode by its code (case-insensitive): "+" first saves the
// current mode on `ColourStack`; "-" restores the last saved mode (mode 0
// when the stack is empty) regardless of letters; otherwise "U" selects mode
// 4, else "R" counts 2 and "N" counts 1 ("H" or no letter: 0). The text
// colour becomes the mode's foreground and background from the session's
// `ColourTable`. An empty code, or only blanks, changes nothing.
// Reads/writes: `ColourMode`, `ColourStack`, the text colour.
void SetColour(std::string_view code);

// The text colour: the attribute (foreground + 16 x background) that writes
// use. Colours outside 0..15 keep their low four bits.
void SetTextColour(std::int16_t foreground, std::int16_t background);
void SetTextAttribute(std::uint8_t attr);
std::uint8_t TextAttribute();

// ---------------------------------------------------------------------------
// Cells and the cursor

// Moves the cursor (absolute; ignored outside the screen).
void MoveCursor(std::int16_t row, std::int16_t col);
std::int16_t CursorRow();
std::int16_t CursorCol();
void SetCursorVisible(bool visible);
bool CursorVisible();
// The cursor's height in percent of the cell, 1..100 (25 normal, 50 insert
// mode, 100 overwrite mode); clamped to that range.
void SetCursorSize(std::int16_t percent);
std::int16_t CursorSize();

// Writes `text` at the cursor in the text colour, one cell per byte (bytes
// below 32 show as their glyphs), continuing on the next row at the end of a
// row and stopping at the end of the screen. The cursor ends after the last
// cell written (on the last cell when the text reached the screen's end).
void WriteText(std::string_view cp850);
// Writes `text` from (row, col) in `attr` without moving the cursor,
// clipped at the end of that row.
void PutText(std::int16_t row, std::int16_t col, std::string_view cp850, std::uint8_t attr);

// A cell. Outside the screen: character 0, attribute 0.
Cell ReadCell(std::int16_t row, std::int16_t col);
// The characters and the attributes of a row (ScreenCols() bytes each;
// empty outside the screen).
std::string ScreenRowText(std::int16_t row);
std::string ScreenRowAttrs(std::int16_t row);

// Blanks the whole screen in the text colour and puts the cursor at (1, 1).
void ClearScreen();
// Fills a rectangle (clipped to the screen) with `ch` in `attr`.
void FillRect(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
              std::uint8_t ch, std::uint8_t attr);
// Moves the cells of a rectangle (clipped to the screen) up by n rows (down
// when n < 0); the rows left behind are blanks in `fill_attr`. |n| at least
// the height blanks the whole rectangle.
void ScrollCells(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
                 std::int16_t n, std::uint8_t fill_attr);

// ---------------------------------------------------------------------------
// Plain console output, sound, clipboard

// Writes text at the cursor as plain console output: carriage return goes
// to column 1, line feed to column 1 of the next row (the screen scrolls up
// when the cursor is on the last row), backspace one column left, tab to
// the next multiple of 8, bell beeps; other bytes are cells as WriteText,
// continuing on the next row. The plain backend also prints the text as
// lines (the banner of an unattended run).
void ConsolePrint(std::string_view cp850);
// ConsolePrint of `text` and a line end.
void ConsolePrintLine(std::string_view cp850);

// A line that the log of an unattended run must carry (message boxes call
// it with their text); only the plain backend prints it.
void TranscriptLine(std::string_view cp850);

void Beep();

// The clipboard, as code page 850 text (characters the code page lacks read
// back as "?"). false when the clipboard cannot be reached.
[[nodiscard]] bool SetClipboard(std::string_view cp850);
[[nodiscard]] bool GetClipboard(std::string* cp850);

// The Insert toggle the field editor keeps (terminals do not report the
// keyboard's own).
bool InsertToggle();
void SetInsertToggle(bool on);

}  // namespace kel

#endif  // KEL_SCREEN_SCREEN_BUFFER_H_
