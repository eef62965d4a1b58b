// Key decoding for the Windows console: how one input record of
// ReadConsoleInput (a key with its virtual key, scan code, character and
// control-key state, or a mouse event) becomes the classic console's input
// event that the keyboard layer reads (a code page 850 character, or a PC
// scan code, plus the control-key state).
//
// Pure code without <windows.h>, so that every rule is tested on any
// system; the Windows console backend only copies the record's fields in.
// The scan codes and the Alt table are those of the terminal decoder
// (terminal_keys.h).
#ifndef KEL_PLATFORM_WIN32_KEYS_H_
#define KEL_PLATFORM_WIN32_KEYS_H_

#include <cstdint>

#include "platform/console.h"

namespace kel {

// The bits of a console record's control-key state that are not modifiers
// of console.h (kRightAltPressed ... kShiftPressed have the same values).
inline constexpr std::uint32_t kNumLockOn = 0x20;
inline constexpr std::uint32_t kScrollLockOn = 0x40;
inline constexpr std::uint32_t kCapsLockOn = 0x80;
// The key is one of the grey block's (cursor keys, Ins, Del, Home, End,
// PgUp, PgDn), or the keypad's Enter or "/", not the numeric keypad's.
inline constexpr std::uint32_t kEnhancedKey = 0x100;

// Virtual-key codes the decoder names.
namespace vk {
inline constexpr std::uint16_t kBack = 0x08;
inline constexpr std::uint16_t kTab = 0x09;
inline constexpr std::uint16_t kClear = 0x0C;  // keypad 5 without Num Lock
inline constexpr std::uint16_t kReturn = 0x0D;
inline constexpr std::uint16_t kShift = 0x10;
inline constexpr std::uint16_t kControl = 0x11;
inline constexpr std::uint16_t kMenu = 0x12;  // Alt
inline constexpr std::uint16_t kPause = 0x13;
inline constexpr std::uint16_t kCapital = 0x14;
inline constexpr std::uint16_t kEscape = 0x1B;
inline constexpr std::uint16_t kPrior = 0x21;  // PgUp
inline constexpr std::uint16_t kNext = 0x22;   // PgDn
inline constexpr std::uint16_t kEnd = 0x23;
inline constexpr std::uint16_t kHome = 0x24;
inline constexpr std::uint16_t kLeft = 0x25;
inline constexpr std::uint16_t kUp = 0x26;
inline constexpr std::uint16_t kRight = 0x27;
inline constexpr std::uint16_t kDown = 0x28;
inline constexpr std::uint16_t kInsert = 0x2D;
inline constexpr std::uint16_t kDelete = 0x2E;
inline constexpr std::uint16_t kLWin = 0x5B;
inline constexpr std::uint16_t kRWin = 0x5C;
inline constexpr std::uint16_t kApps = 0x5D;
inline constexpr std::uint16_t kNumpad0 = 0x60;  // .. kNumpad9 0x69
inline constexpr std::uint16_t kF1 = 0x70;       // .. F12 0x7B
inline constexpr std::uint16_t kNumLock = 0x90;
inline constexpr std::uint16_t kScroll = 0x91;
}  // namespace vk

// The fields of a KEY_EVENT_RECORD. `ch` is uChar.AsciiChar, a byte of the
// console's input code page (850 while the program runs).
struct Win32KeyRecord {
  bool key_down = true;
  std::uint16_t virtual_key = 0;
  std::uint16_t scan_code = 0;
  std::uint8_t ch = 0;
  std::uint32_t control = 0;  // dwControlKeyState
};

// The event a key record stands for; false when it carries nothing for the
// program. The rules, as the classic console reports keys:
// - Key releases are nothing, except Alt's: it is a key event without a key
//   (ch 0, scan 0), which ends an Alt+keypad code. Windows also puts the
//   character it composed from the code into that record; the program
//   composes the code itself (the value mod 256), so it is not used.
// - A modifier or lock key pressed alone is nothing.
// - With Alt (and no Ctrl) held, a numeric-keypad key (not the grey block)
//   is its scan code with the Alt state and `keypad` set, whatever Num Lock
//   says: the digits of an Alt+keypad code.
// - A character typed with Ctrl and Alt together is AltGr's character (the
//   "@" of many European layouts): the character alone.
// - With Alt: a character with an Alt scan code (Alt+X) is that extended
//   key; other keys are their scan code with the Alt state.
// - The cursor block, the function keys and the other keys without a
//   character are their PC scan codes (F11 and F12 0x85 and 0x86) with the
//   control state; the numeric keypad's are marked `keypad`.
// - Shift+Tab is the extended key 0x0F; Esc is 27 even where the record's
//   character is 0 (wine gives 0).
// - Every other key is its character: Ctrl+letters are 1..26, Ctrl+Enter
//   is 10, Ctrl+Backspace 127.
bool TranslateWin32Key(const Win32KeyRecord& record, InputEvent* event);

// The fields of a MOUSE_EVENT_RECORD; x and y are 0-based cells of the
// program's screen (the caller subtracts the window's origin).
struct Win32MouseRecord {
  int x = 0;
  int y = 0;
  std::uint32_t buttons = 0;  // dwButtonState: 1 left, 2 right
  std::uint32_t control = 0;
  std::uint32_t flags = 0;  // dwEventFlags: 1 moved, 2 double click, 4 and 8 wheels
};

// The event a mouse record stands for: a released button (the left one
// first when both go up together) with kMouseButtonReleased, otherwise the
// position alone (mouse_type 0). `*held_buttons` carries the button state
// from record to record (a release is a bit that went from 1 to 0). false
// for the wheels and for positions off the program's screen.
bool TranslateWin32Mouse(const Win32MouseRecord& record, std::uint32_t* held_buttons,
                         InputEvent* event);

}  // namespace kel

#endif  // KEL_PLATFORM_WIN32_KEYS_H_
