// Keyboard and mouse input: console events become the program's 16-bit key
// codes, which follow the classic PC keyboard: an ordinary character is its
// code page 850 code (1..255: 8 Backspace, 9 Tab, 13 Enter, 27 Esc), an
// extended key its scan code x 256 (0x4800 up, 0x3B00 F1); 0 is no key.
// Codes above 0x7FFF (F11 0x8500...) are negative as 16-bit values.
//
// Every read also gets, for free: Alt + numeric-keypad digits typing any
// character by its code (mod 256); distinct codes for F1..F12 with Shift,
// Ctrl and Alt, and for Ctrl+Home/Left/Right; Alt+E as 213; mouse button
// releases; and the two hot keys, Alt+X (calculator) and Alt+C (calendar),
// whose pop-ups' results are then delivered as typed keys.
//
// Globals: Keyboard() (`PendingKeys`, `MouseState`, the two open flags).
#ifndef KEL_SCREEN_KEYBOARD_H_
#define KEL_SCREEN_KEYBOARD_H_

#include <cstdint>
#include <string>

namespace kel {

constexpr std::int16_t KeyCode(int code) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(code));
}

// The key codes the program tests for.
namespace keys {
inline constexpr std::int16_t kBackspace = 8;
inline constexpr std::int16_t kTab = 9;
inline constexpr std::int16_t kEnter = 13;
inline constexpr std::int16_t kEsc = 27;
inline constexpr std::int16_t kShiftTab = 0x0F00;
inline constexpr std::int16_t kAltE = 0x1200;  // delivered as 213
inline constexpr std::int16_t kAltX = 0x2D00;  // calculator
inline constexpr std::int16_t kAltC = 0x2E00;  // calendar
inline constexpr std::int16_t kF1 = 0x3B00;    // F1..F10: 0x3B00..0x4400
inline constexpr std::int16_t kF10 = 0x4400;
inline constexpr std::int16_t kHome = 0x4700;
inline constexpr std::int16_t kUp = 0x4800;
inline constexpr std::int16_t kPgUp = 0x4900;
inline constexpr std::int16_t kLeft = 0x4B00;
inline constexpr std::int16_t kRight = 0x4D00;
inline constexpr std::int16_t kEnd = 0x4F00;
inline constexpr std::int16_t kDown = 0x5000;
inline constexpr std::int16_t kPgDn = 0x5100;
inline constexpr std::int16_t kIns = 0x5200;
inline constexpr std::int16_t kDel = 0x5300;
inline constexpr std::int16_t kShiftF1 = 0x5400;  // Shift+F1..F10: 0x5400..0x5D00
inline constexpr std::int16_t kCtrlF1 = 0x5E00;   // Ctrl+F1..F10: 0x5E00..0x6700
inline constexpr std::int16_t kAltF1 = 0x6800;    // Alt+F1..F10: 0x6800..0x7100
inline constexpr std::int16_t kCtrlLeft = 0x7300;
inline constexpr std::int16_t kCtrlRight = 0x7400;
inline constexpr std::int16_t kCtrlHome = 0x7700;
inline constexpr std::int16_t kF11 = KeyCode(0x8500);
inline constexpr std::int16_t kF12 = KeyCode(0x8600);
inline constexpr std::int16_t kShiftF11 = KeyCode(0x8700);
inline constexpr std::int16_t kShiftF12 = KeyCode(0x8800);
inline constexpr std::int16_t kCtrlF11 = KeyCode(0x8900);
inline constexpr std::int16_t kCtrlF12 = KeyCode(0x8A00);
inline constexpr std::int16_t kAltF11 = KeyCode(0x8B00);
inline constexpr std::int16_t kAltF12 = KeyCode(0x8C00);
}  // namespace keys

// `MouseState` values.
inline constexpr std::int16_t kMouseUnknown = 0;
inline constexpr std::int16_t kMouseOn = 1;
inline constexpr std::int16_t kMouseOff = 2;
inline constexpr std::int16_t kMouseAbsent = 3;

struct KeyboardState {
  // Characters waiting to be delivered as keys, one per read (a pop-up's
  // result). While it holds characters no console event is read.
  std::string PendingKeys;
  // 0 not yet known, 1 mouse input on, 2 mouse present but input off,
  // 3 no mouse.
  std::int16_t MouseState = kMouseUnknown;
  // True while that pop-up is open, so that its hot key is not honoured
  // inside itself.
  bool CalculatorOpen = false;
  bool CalendarOpen = false;
};

KeyboardState& Keyboard();
// Back to the state at start (tests). Registered pop-ups stay.
void ResetKeyboard();

// A hot-key pop-up: runs (reading keys itself) and returns the text to type
// into the waiting input; "" when the operator left it without a result.
using HotKeyPopup = std::string (*)();
// Registration points for the calculator (Alt+X) and the calendar (Alt+C).
// Until one is registered its hot key gives an empty result. nullptr
// unregisters.
void RegisterCalculatorPopup(HotKeyPopup popup);
void RegisterCalendarPopup(HotKeyPopup popup);

// Reads one key or mouse event without waiting.
// - With `PendingKeys` not empty: *key is the code of its first character,
//   which is removed; the other out-parameters are left as they were.
// - Otherwise *key, *button, *mouse_row and *mouse_col are set: key 0 and
//   button 0 when nothing is waiting; for a mouse button released, *button
//   (1 left, 2 right) and the 1-based position, *key 0.
// Alt held with keypad digits waits for the code's next digit and then
// gives the character (value mod 256). The code ends when Alt is released;
// but a terminal cannot report the release of Alt (it sends Alt+key as ESC
// and the key, and nothing when Alt goes up), so the code also ends at the
// first key without Alt or with Alt but not a keypad digit, which is then
// returned by the next read, or after a pause of about a second with no
// key at all. FlushKeys discards such a held key too. Alt+X / Alt+C run
// their pop-up first (unless it is open already), put its result into
// `PendingKeys` and return the hot key's own code.
// Reads/writes: `PendingKeys`, `MouseState`, the open flags.
void ReadKey(std::int16_t* key, std::int16_t* button, std::int16_t* mouse_row,
             std::int16_t* mouse_col);

// Waits until a key or a mouse button release arrives and returns its code;
// for a click, the low 16 bits of mouse column x 256 + button x 64 + mouse
// row. Before blocking it runs the wait hooks (the screen is shown, pending
// work committed); the wait itself sleeps in poll() and uses no CPU. On the
// plain console it ends the run (kExitNoKeyboard).
std::int16_t GetKey();

// As GetKey, but returns the pieces as ReadKey does (for callers that treat
// clicks by position).
void WaitKeyOrClick(std::int16_t* key, std::int16_t* button, std::int16_t* mouse_row,
                    std::int16_t* mouse_col);

// Discards every event waiting in the console's input queue (typed-ahead
// keys). `PendingKeys` is kept.
void FlushKeys();

}  // namespace kel

#endif  // KEL_SCREEN_KEYBOARD_H_
