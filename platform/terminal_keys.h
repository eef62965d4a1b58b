// Key decoding for terminals: how what a terminal sends (characters, ncurses
// key numbers, escape sequences) becomes the classic console's key events
// (a code page 850 character, or a PC scan code, plus the control-key state).
//
// Pure code without curses, so that every rule is tested directly; the curses
// backend asks these functions and only adds what needs the terminal (the
// terminfo lookup of key names, the ESC timing).
#ifndef KEL_PLATFORM_TERMINAL_KEYS_H_
#define KEL_PLATFORM_TERMINAL_KEYS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

namespace kel {

// PC scan codes of the extended keys the terminal backends produce.
namespace scan {
inline constexpr std::uint8_t kEsc = 0x01;
inline constexpr std::uint8_t kBackspace = 0x0E;
inline constexpr std::uint8_t kTab = 0x0F;
inline constexpr std::uint8_t kEnter = 0x1C;
inline constexpr std::uint8_t kF1 = 0x3B;  // F1..F10 are 0x3B..0x44
inline constexpr std::uint8_t kHome = 0x47;
inline constexpr std::uint8_t kUp = 0x48;
inline constexpr std::uint8_t kPgUp = 0x49;
inline constexpr std::uint8_t kLeft = 0x4B;
inline constexpr std::uint8_t kCentre = 0x4C;  // keypad 5
inline constexpr std::uint8_t kRight = 0x4D;
inline constexpr std::uint8_t kEnd = 0x4F;
inline constexpr std::uint8_t kDown = 0x50;
inline constexpr std::uint8_t kPgDn = 0x51;
inline constexpr std::uint8_t kIns = 0x52;
inline constexpr std::uint8_t kDel = 0x53;
inline constexpr std::uint8_t kF11 = 0x85;
inline constexpr std::uint8_t kF12 = 0x86;
}  // namespace scan

// True when a 1-based position lies on the program's screen (kScreenRows x
// kScreenCols). Mouse reports elsewhere (a larger terminal) are dropped.
bool OnScreen(int row, int col);

// The scan code of function key `n` (1..12); 0 for other numbers.
std::uint8_t FunctionKeyScan(int n);

// The control-key state of an xterm modifier parameter ("CSI 1;5D": 5):
// the parameter minus one holds 1 Shift, 2 Alt, 4 Ctrl (8 Meta, read as Alt).
// 0 for parameters below 2.
std::uint32_t XtermModifierState(int parameter);

// An extended-key event: `ch` 0, the scan code, the state.
InputEvent ExtendedKey(std::uint8_t scan_code, std::uint32_t control = 0);

// A terminfo capability naming a modified cursor-block key, with what the
// key means: "kLFT5" is Ctrl+Left.
struct ModifiedKeyName {
  std::string name;
  std::uint8_t scan;
  std::uint32_t control;
};
// Every such capability: kUP, kDN, kLFT, kRIT, kHOM, kEND, kIC, kDC, kNXT,
// kPRV with the suffixes 2 to 8 (xterm modifier parameters).
const std::vector<ModifiedKeyName>& ModifiedKeyCapabilities();

// Terminfo capabilities of the keypad keys (ka1, kb2, kent, kpADD...).
// What they mean depends on what the terminal sends: xterm's ka1 is
// "ESC O w", keypad 7 in application keypad mode, while the Linux console's
// kb2 is "ESC [ G", the centre key without Num Lock. The curses backend maps
// each one the terminal defines by decoding its string (TerminfoKeyEvent).
const std::vector<std::string>& KeypadCapabilityNames();

// The key a terminfo key string stands for, ESC included ("\x1bOq": keypad
// 1). false when it is not an escape sequence this decoder knows.
bool TerminfoKeyEvent(std::string_view sequence, InputEvent* event);

// ncurses function key KEY_F(n), n = 1..63: F1..F12, then the same twelve
// with Shift (13..24), Ctrl (25..36), Ctrl+Shift (37..48), Alt (49..60) and
// Alt+Shift (61..63). false for other numbers.
bool FunctionKeyEvent(int n, InputEvent* event);

// A typed character (Unicode code point) as a key event. Control characters
// 1..31 are their codes; DEL (127) is Backspace (8). false for NUL and for
// code points that code page 850 lacks: the terminal backend drops those
// keys (and beeps) rather than put a wrong character into a field.
bool CharacterEvent(char32_t code_point, InputEvent* event);

// The scan code of Alt plus a character on a US keyboard (Alt+X 0x2D,
// Alt+E 0x12, Alt+1 0x78); 0 when the character has none.
std::uint8_t AltScanCode(std::uint8_t ch);

// The Alt form of an event that followed ESC at once (terminals send Alt+key
// as ESC and the key): a character with an Alt scan code becomes that
// extended key, an extended key gets the Alt state, and a keypad digit
// becomes the keypad key's scan code with Alt (Ins for 0, End for 1 ... PgUp
// for 9), as the classic console reports it while Alt enters a character by
// its code. false when there is no Alt form (the ESC and the key then count
// as typed separately).
bool AltEvent(const InputEvent& plain, InputEvent* alt);

enum class SequenceResult {
  kEvent,       // *event holds the decoded key or mouse event
  kIgnored,     // a complete sequence that carries nothing for the program
  kIncomplete,  // more bytes are needed
  kUnknown,     // not a sequence this decoder knows
};

// Decodes an escape sequence the terminal library left undecoded, given
// without its ESC: "[1;5D" (Ctrl+Left), "[3~" (Del), "OP" (F1), "[Z"
// (Shift+Tab), "[<0;10;5m" (SGR mouse release) and "[M" + 3 bytes (X10
// mouse). The keypad in application mode: "Op".."Oy" are the digits,
// "OM" Enter (13), "Oj".."Oo" * + , - . / and "OX" =, all as characters
// marked `keypad`. A second ESC in front ("\x1bOq") is Alt with that key:
// its Alt form (AltEvent), or the key with the Alt state when it has none,
// so an Alt-prefixed sequence never reads as Esc. Mouse reports outside
// the screen (OnScreen) are kIgnored. `last_button` keeps the last pressed
// mouse button between calls, because X10 releases do not say which button
// was released.
SequenceResult DecodeEscapeSequence(std::string_view after_esc, InputEvent* event,
                                    int* last_button);

}  // namespace kel

#endif  // KEL_PLATFORM_TERMINAL_KEYS_H_
