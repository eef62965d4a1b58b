// The console seam: the one narrow interface between the program's screen
// model (screen/) and whatever shows the screen and delivers the keys.
//
// The screen model owns the cells (a code page 850 byte and an attribute per
// cell, the cursor) and is the only truth about what is on the screen; a
// backend only draws runs of cells it is handed, places the cursor, delivers
// input events one at a time, discards input, beeps and reaches the
// clipboard. Three backends:
//
//   MemoryConsole (console_memory.h)  tests and headless use: scripted input
//                                     events, snapshots of what was drawn.
//   terminal (OpenTerminalConsole)    the real screen: a terminal through
//                                     ncursesw on POSIX (console_curses.cc),
//                                     the Windows console on Windows
//                                     (console_win32.cc).
//   plain  (OpenPlainConsole)         standard output is not a terminal
//                                     (cron, scripts, CI): console output goes
//                                     out as text lines, the screen stays in
//                                     memory, and a wait for a key ends the
//                                     run (kExitNoKeyboard).
//
// Coordinates are 1-based (row 1 is the top line, column 1 the left edge).
// An attribute is foreground + 16 x background with the classic text-screen
// colours (0 black, 1 blue, 2 green, 4 red, 7 grey, 8..15 the bright ones).
#ifndef KEL_PLATFORM_CONSOLE_H_
#define KEL_PLATFORM_CONSOLE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kel {

// Exit codes of the console layer (the program's orderly end is 0).
// A wait for a key on the plain backend: no key can ever come.
inline constexpr int kExitNoKeyboard = 66;
// The terminal cannot show the screen: smaller than 80x25, no UTF-8 locale,
// or unknown to terminfo. Used by callers of SelectConsole on failure.
inline constexpr int kExitTerminalUnusable = 69;

// The screen size the program is written for, and the smallest terminal the
// curses backend accepts.
inline constexpr int kScreenRows = 25;
inline constexpr int kScreenCols = 80;

struct Cell {
  std::uint8_t ch = ' ';     // code page 850 byte, drawn as a glyph even below 0x20
  std::uint8_t attr = 0x07;  // foreground + 16 x background
  bool operator==(const Cell&) const = default;
};

// Control-key state of an input event: the classic console's bit values.
inline constexpr std::uint32_t kRightAltPressed = 0x01;
inline constexpr std::uint32_t kLeftAltPressed = 0x02;
inline constexpr std::uint32_t kRightCtrlPressed = 0x04;
inline constexpr std::uint32_t kLeftCtrlPressed = 0x08;
inline constexpr std::uint32_t kShiftPressed = 0x10;

// Mouse event type of a released button (the only type the keyboard acts on).
inline constexpr std::uint8_t kMouseButtonReleased = 8;

// One input event, as the classic console reports it.
struct InputEvent {
  enum class Kind : std::uint8_t { kKey, kMouse };
  Kind kind = Kind::kKey;
  // kKey: an ordinary key has its code page 850 character in `ch` (and
  // `scan` 0); an extended key has `ch` 0 and its PC scan code in `scan`
  // (0x48 up, 0x3B F1). ch 0 and scan 0 is a key event without a key: the
  // release of a held modifier (it ends an Alt+keypad entry).
  std::uint8_t ch = 0;
  std::uint8_t scan = 0;
  // The key is on the numeric keypad (not the grey cursor block): only such
  // keys enter digits while Alt is held.
  bool keypad = false;
  std::uint32_t control = 0;  // k...Pressed bits
  // kMouse: the event type (kMouseButtonReleased, or 0 for other events),
  // the button that changed (1 left, 2 right) and the 1-based position.
  std::uint8_t mouse_type = 0;
  std::uint8_t button = 0;
  std::int16_t row = 0;
  std::int16_t col = 0;
};

enum class ConsoleKind { kMemory, kTerminal, kPlain };

// What a wait for input found.
enum class InputWait {
  kReady,    // an event can be read with PollInput
  kTimeout,  // nothing came within the time given
  kNever,    // no input can ever come (plain backend, exhausted test script)
};

class Console {
 public:
  virtual ~Console() = default;

  virtual ConsoleKind Kind() const = 0;
  // The screen size in cells. Constant for the life of the backend.
  virtual int Rows() const = 0;
  virtual int Cols() const = 0;
  // How often the screen model may push changes while the program is busy:
  // 0 means every change is drawn at once (memory), otherwise at most once
  // per this many milliseconds. Waits for input always draw first.
  virtual int RefreshIntervalMillis() const { return 0; }

  // ---- Output. Runs never leave the screen (the caller clips).
  virtual void DrawCells(int row, int col, const Cell* cells, int count) = 0;
  // size_percent: 1..100, the classic cursor height (25 normal, 50 insert
  // mode, 100 overwrite mode).
  virtual void SetCursor(int row, int col, bool visible, int size_percent) = 0;
  // Makes everything drawn so far visible.
  virtual void Flush() = 0;
  virtual void Beep() = 0;
  // Plain console output (code page 850, "\r\n" or "\n" line ends) that the
  // screen model also writes into the cells: only the plain backend prints
  // it (as text lines); the others record or ignore it.
  virtual void WriteOutput(std::string_view cp850) = 0;
  // A line that a log of an unattended run must carry (the text of a
  // message box). Only the plain backend prints it.
  virtual void Transcript(std::string_view cp850_line) = 0;

  // Gives the terminal back for good: the curses backend leaves raw mode,
  // shows the cursor, and leaves the last screen visible (it never uses the
  // terminal's alternate screen). Safe to call more than once; the backend's
  // destructor calls it too. Afterwards nothing is drawn and no input is
  // read (a wait for a key finds kNever). The other backends have nothing to
  // give back.
  virtual void EndTerminal() {}

  // ---- Input.
  // Takes the next event without waiting; false when none is waiting.
  virtual bool PollInput(InputEvent* event) = 0;
  // Blocks (in poll(), using no CPU) until an event is waiting, at most
  // `timeout_ms` milliseconds.
  virtual InputWait WaitInput(int timeout_ms) = 0;
  // Discards every waiting event.
  virtual void DiscardInput() = 0;
  // Mouse reporting: the number of buttons (0: no mouse), and delivering
  // mouse events or not (events that arrive while off are dropped).
  virtual int MouseButtons() = 0;
  virtual void SetMouseInput(bool on) = 0;
  // Called when WaitInput said kNever but the program must have a key. The
  // plain backend ends the run here (message, exit code kExitNoKeyboard) and
  // does not return; so does the curses backend when the terminal has gone
  // away. The memory backend returns true when its test supplied more input
  // and otherwise stops the process with a message. A backend that returns
  // false gets Esc delivered to the waiting read, so screens unwind.
  virtual bool OnInputExhausted() = 0;

  // ---- Clipboard, as code page 850 text. Characters the code page lacks
  // come back as "?".
  virtual bool SetClipboardText(std::string_view cp850) = 0;
  virtual bool GetClipboardText(std::string* cp850) = 0;

  // The state of the Insert toggle (the field editor reads and flips it).
  // The Windows console gives the keyboard's own (GetKeyState); no terminal
  // reports it, so the other backends keep it for the program.
  virtual bool InsertToggle() const { return insert_toggle_; }
  virtual void SetInsertToggle(bool on) { insert_toggle_ = on; }

 private:
  bool insert_toggle_ = false;
};

enum class ConsoleStatus : std::int16_t {
  kOk = 0,
  kNotATerminal = 1,  // standard input or output is not a terminal
  kNoUtf8Locale = 2,  // the locale's character set is not UTF-8
  kTooSmall = 3,      // fewer than 25 rows or 80 columns
  kNoTerminal = 4,    // TERM unknown to terminfo, or the terminal cannot be set up
};

// The backend the program should use: the terminal when both standard input
// and standard output are terminals (on Windows: the console), plain
// otherwise.
ConsoleKind DetectConsoleKind();

// Opens the real terminal (the Windows console). Only one can be open at a
// time. On failure returns null with `*status` set and `*message` a
// sentence for the operator that says what is wrong and how to fix it; the
// terminal is left as it was.
std::unique_ptr<Console> OpenTerminalConsole(ConsoleStatus* status, std::string* message);

// The plain backend on the given descriptors (standard output and standard
// error by default). Console output and transcript lines go to `out_fd` as
// text lines (UTF-8 on POSIX; on Windows code page 850 bytes as the console
// shows them, lines ended by CR LF); the stop message of a wait for a key
// goes to `out_fd` and also to `err_fd` unless both are the same file.
std::unique_ptr<Console> OpenPlainConsole(int out_fd = 1, int err_fd = 2);

// A code page 850 text as the standard streams carry it (a message to
// standard error once the screen is given back): UTF-8 on POSIX, where
// terminals speak it; on Windows the bytes as they are, in the console's
// own code page.
std::string StandardStreamText(std::string_view cp850);

}  // namespace kel

#endif  // KEL_PLATFORM_CONSOLE_H_
