#include "platform/terminal_keys.h"

#include "util/cp850.h"

namespace kel {
namespace {

constexpr std::uint32_t kAlt = kLeftAltPressed;
constexpr std::uint32_t kCtrl = kLeftCtrlPressed;
constexpr std::uint32_t kShift = kShiftPressed;

// Alt+key scan codes of a US keyboard, indexed by the ASCII character
// (letters in lower case; the caller folds). 0: no Alt form.
struct AltTable {
  std::uint8_t scan[128] = {};
  constexpr AltTable() {
    const char* rows[] = {"qwertyuiop[]", "asdfghjkl;'`", "\\zxcvbnm,./"};
    const std::uint8_t starts[] = {0x10, 0x1E, 0x2B};
    for (int r = 0; r < 3; ++r) {
      for (int i = 0; rows[r][i] != '\0'; ++i) {
        scan[static_cast<unsigned char>(rows[r][i])] = static_cast<std::uint8_t>(starts[r] + i);
      }
    }
    // Alt+1..Alt+9, Alt+0, Alt+-, Alt+= are 0x78..0x83.
    const char* digits = "1234567890-=";
    for (int i = 0; digits[i] != '\0'; ++i) {
      scan[static_cast<unsigned char>(digits[i])] = static_cast<std::uint8_t>(0x78 + i);
    }
    scan[8] = scan::kBackspace;
    scan[13] = scan::kEnter;
    scan[127] = scan::kBackspace;
  }
};
constexpr AltTable kAltTable;

// Parses "n;m" style parameters: up to `max` decimal numbers separated by
// ";". Missing numbers are 0. false on any other character.
bool ParseParameters(std::string_view text, int* values, int max, int* count) {
  *count = 0;
  for (int i = 0; i < max; ++i) values[i] = 0;
  if (text.empty()) return true;
  int n = 0;
  bool any = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (n >= max) return false;
      values[n] = values[n] * 10 + (c - '0');
      if (values[n] > 100000) return false;
      any = true;
    } else if (c == ';') {
      if (++n >= max) return false;
    } else {
      return false;
    }
  }
  *count = any || n > 0 ? n + 1 : 0;
  return true;
}

// The key of a "CSI n ~" sequence; 0 when unknown.
std::uint8_t TildeKeyScan(int n) {
  switch (n) {
    case 1:
    case 7:
      return scan::kHome;
    case 2:
      return scan::kIns;
    case 3:
      return scan::kDel;
    case 4:
    case 8:
      return scan::kEnd;
    case 5:
      return scan::kPgUp;
    case 6:
      return scan::kPgDn;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return FunctionKeyScan(n - 10);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return FunctionKeyScan(n - 11);
    case 23:
    case 24:
      return FunctionKeyScan(n - 12);
    default:
      return 0;
  }
}

// The key of a final letter of "CSI ... X" or "SS3 X"; 0 when unknown.
std::uint8_t LetterKeyScan(char c) {
  switch (c) {
    case 'A':
      return scan::kUp;
    case 'B':
      return scan::kDown;
    case 'C':
      return scan::kRight;
    case 'D':
      return scan::kLeft;
    case 'E':
      return scan::kCentre;
    case 'G':  // Linux console: keypad 5 without Num Lock
      return scan::kCentre;
    case 'H':
      return scan::kHome;
    case 'F':
      return scan::kEnd;
    case 'P':
      return FunctionKeyScan(1);
    case 'Q':
      return FunctionKeyScan(2);
    case 'R':
      return FunctionKeyScan(3);
    case 'S':
      return FunctionKeyScan(4);
    default:
      return 0;
  }
}

// The character a keypad key sends as "SS3 x" in application keypad mode
// (xterm, tmux, screen): p..y the digits 0..9, M Enter, j..o the operators,
// X the equals sign; 0 for other finals.
std::uint8_t KeypadCharacter(char c) {
  if (c >= 'p' && c <= 'y') return static_cast<std::uint8_t>('0' + (c - 'p'));
  switch (c) {
    case 'M':
      return 13;
    case 'j':
      return '*';
    case 'k':
      return '+';
    case 'l':
      return ',';
    case 'm':
      return '-';
    case 'n':
      return '.';
    case 'o':
      return '/';
    case 'X':
      return '=';
    default:
      return 0;
  }
}

// Keypad digit keys as the classic console reports them while Alt is held:
// the scan codes of Ins, End, Down, PgDn, Left, the centre key, Right, Home,
// Up and PgUp for "0" to "9".
constexpr std::uint8_t kKeypadDigitScan[10] = {
    scan::kIns,    scan::kEnd,   scan::kDown, scan::kPgDn, scan::kLeft,
    scan::kCentre, scan::kRight, scan::kHome, scan::kUp,   scan::kPgUp};

// "SS3 [modifier] final", given without the ESC ("OP", "Oq", "O5P").
SequenceResult DecodeSs3(std::string_view seq, InputEvent* event) {
  std::size_t end = 1;
  int modifier = 0;
  while (end < seq.size() && seq[end] >= '0' && seq[end] <= '9') {
    modifier = modifier * 10 + (seq[end] - '0');
    if (++end > 3) return SequenceResult::kUnknown;
  }
  if (end == seq.size()) return SequenceResult::kIncomplete;
  if (end + 1 != seq.size()) return SequenceResult::kUnknown;
  const char c = seq[end];
  const std::uint32_t state = XtermModifierState(modifier);
  if (c >= 'a' && c <= 'd') {  // rxvt: Ctrl+arrows
    if (end > 1) return SequenceResult::kUnknown;
    *event = ExtendedKey(LetterKeyScan(static_cast<char>(c - 32)), kCtrl);
    return SequenceResult::kEvent;
  }
  if (std::uint8_t ch = KeypadCharacter(c); ch != 0) {
    InputEvent e;
    e.ch = ch;
    e.keypad = true;
    e.control = state;
    if ((state & kAlt) != 0) {
      InputEvent alt;
      if (AltEvent(e, &alt)) e = alt;
    }
    *event = e;
    return SequenceResult::kEvent;
  }
  std::uint8_t s = LetterKeyScan(c);
  if (s == 0) return SequenceResult::kUnknown;
  *event = ExtendedKey(s, state);
  return SequenceResult::kEvent;
}

SequenceResult MouseEvent(int code, int col, int row, bool released, InputEvent* event,
                          int* last_button) {
  // Wheel and extra buttons carry nothing for the program.
  if ((code & 64) != 0 || (code & 128) != 0) return SequenceResult::kIgnored;
  // Nothing of the program lies beyond its screen, and a position there
  // would not fit the click code (column x 256 + button x 64 + row).
  if (!OnScreen(row, col)) return SequenceResult::kIgnored;
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.row = static_cast<std::int16_t>(row);
  e.col = static_cast<std::int16_t>(col);
  if ((code & 4) != 0) e.control |= kShift;
  if ((code & 8) != 0) e.control |= kAlt;
  if ((code & 16) != 0) e.control |= kCtrl;
  if ((code & 32) != 0) {  // motion: a position only
    *event = e;
    return SequenceResult::kEvent;
  }
  int b = code & 3;
  // Buttons as the classic console numbers them: 1 left, 2 right. The
  // middle button (4 there) would spoil the click code's column, so it is
  // left out.
  int button = b == 0 ? 1 : b == 2 ? 2 : b == 1 ? 4 : 0;
  if (!released) {
    if (button != 0) *last_button = button;
    e.mouse_type = 0;  // a press: position only
    *event = e;
    return SequenceResult::kEvent;
  }
  if (button == 0) button = *last_button;  // X10 release: the last pressed one
  if (button == *last_button) *last_button = 0;
  if (button != 1 && button != 2) return SequenceResult::kIgnored;
  e.mouse_type = kMouseButtonReleased;
  e.button = static_cast<std::uint8_t>(button);
  *event = e;
  return SequenceResult::kEvent;
}

}  // namespace

bool OnScreen(int row, int col) {
  return row >= 1 && row <= kScreenRows && col >= 1 && col <= kScreenCols;
}

std::uint8_t FunctionKeyScan(int n) {
  if (n >= 1 && n <= 10) return static_cast<std::uint8_t>(scan::kF1 + n - 1);
  if (n == 11) return scan::kF11;
  if (n == 12) return scan::kF12;
  return 0;
}

std::uint32_t XtermModifierState(int parameter) {
  if (parameter < 2) return 0;
  int bits = parameter - 1;
  std::uint32_t state = 0;
  if (bits & 1) state |= kShift;
  if (bits & (2 | 8)) state |= kAlt;
  if (bits & 4) state |= kCtrl;
  return state;
}

InputEvent ExtendedKey(std::uint8_t scan_code, std::uint32_t control) {
  InputEvent e;
  e.scan = scan_code;
  e.control = control;
  return e;
}

const std::vector<ModifiedKeyName>& ModifiedKeyCapabilities() {
  static const std::vector<ModifiedKeyName> names = [] {
    struct Base {
      const char* name;
      std::uint8_t scan;
    };
    const Base bases[] = {{"kUP", scan::kUp},     {"kDN", scan::kDown},  {"kLFT", scan::kLeft},
                          {"kRIT", scan::kRight}, {"kHOM", scan::kHome}, {"kEND", scan::kEnd},
                          {"kIC", scan::kIns},    {"kDC", scan::kDel},   {"kNXT", scan::kPgDn},
                          {"kPRV", scan::kPgUp}};
    std::vector<ModifiedKeyName> out;
    for (const Base& b : bases) {
      for (int suffix = 2; suffix <= 8; ++suffix) {
        out.push_back({std::string(b.name) + static_cast<char>('0' + suffix), b.scan,
                       XtermModifierState(suffix)});
      }
    }
    return out;
  }();
  return names;
}

const std::vector<std::string>& KeypadCapabilityNames() {
  // The corners and centre are standard capabilities; the middle keys of
  // each side (ka2 keypad 8, kb1 4, kb3 6, kc2 2), kp5 and the operators are
  // xterm's extended ones.
  static const std::vector<std::string> names = {
      "ka1",  "ka2", "ka3",   "kb1",   "kb2",   "kb3",   "kc1",   "kc2",   "kc3",  "kbeg",
      "kent", "kp5", "kpADD", "kpCMA", "kpDIV", "kpDOT", "kpMUL", "kpSUB", "kpZRO"};
  return names;
}

bool TerminfoKeyEvent(std::string_view sequence, InputEvent* event) {
  if (sequence.size() < 2 || sequence[0] != '\x1b') return false;
  int no_button = 0;
  InputEvent e;
  if (DecodeEscapeSequence(sequence.substr(1), &e, &no_button) != SequenceResult::kEvent ||
      e.kind != InputEvent::Kind::kKey) {
    return false;
  }
  *event = e;
  return true;
}

bool FunctionKeyEvent(int n, InputEvent* event) {
  if (n < 1 || n > 63) return false;
  static constexpr std::uint32_t kGroups[] = {0,    kShift,       kCtrl, kCtrl | kShift,
                                              kAlt, kAlt | kShift};
  *event = ExtendedKey(FunctionKeyScan((n - 1) % 12 + 1), kGroups[(n - 1) / 12]);
  return true;
}

bool CharacterEvent(char32_t code_point, InputEvent* event) {
  InputEvent e;
  if (code_point == 0x7F) {
    e.ch = 8;
  } else if (code_point == 0) {
    return false;
  } else {
    std::uint8_t byte = 0;
    if (!UnicodeToCp850(code_point, &byte)) return false;
    e.ch = byte;
  }
  *event = e;
  return true;
}

std::uint8_t AltScanCode(std::uint8_t ch) {
  if (ch >= 'A' && ch <= 'Z') ch = static_cast<std::uint8_t>(ch + 32);
  return ch < 128 ? kAltTable.scan[ch] : 0;
}

bool AltEvent(const InputEvent& plain, InputEvent* alt) {
  if (plain.kind != InputEvent::Kind::kKey) return false;
  if (plain.keypad && plain.ch >= '0' && plain.ch <= '9') {
    // The classic console reports a keypad digit under Alt by the key's
    // scan code, which is what enters a character by its code.
    *alt = ExtendedKey(kKeypadDigitScan[plain.ch - '0'], plain.control | kAlt);
    alt->keypad = true;
    return true;
  }
  if (plain.ch == 0 && plain.scan != 0) {
    *alt = plain;
    alt->control |= kAlt;
    return true;
  }
  std::uint8_t s = AltScanCode(plain.ch);
  if (s == 0) return false;
  *alt = ExtendedKey(s, plain.control | kAlt);
  alt->keypad = plain.keypad;
  return true;
}

SequenceResult DecodeEscapeSequence(std::string_view seq, InputEvent* event, int* last_button) {
  if (seq.empty()) return SequenceResult::kIncomplete;
  if (seq[0] == '\x1b') {
    // Alt with a key that is itself a sequence ("ESC ESC O q", Alt with
    // keypad 1): the key's Alt form, never an Esc. Only one such prefix.
    std::string_view rest = seq.substr(1);
    if (rest.empty()) return SequenceResult::kIncomplete;
    if (rest[0] != '[' && rest[0] != 'O') return SequenceResult::kUnknown;
    InputEvent plain;
    SequenceResult r = DecodeEscapeSequence(rest, &plain, last_button);
    if (r != SequenceResult::kEvent) return r;
    if (!AltEvent(plain, event)) {
      *event = plain;
      event->control |= kAlt;
    }
    return SequenceResult::kEvent;
  }
  if (seq[0] == 'O') {  // SS3: a final character, after an xterm modifier at times
    if (seq.size() < 2) return SequenceResult::kIncomplete;
    return DecodeSs3(seq, event);
  }
  if (seq[0] != '[') return SequenceResult::kUnknown;
  std::string_view body = seq.substr(1);
  if (body.empty()) return SequenceResult::kIncomplete;
  if (body[0] == 'M') {  // X10 mouse: three bytes, each value + 32
    if (body.size() < 4) return SequenceResult::kIncomplete;
    if (body.size() > 4) return SequenceResult::kUnknown;
    int code = static_cast<std::uint8_t>(body[1]) - 32;
    int col = static_cast<std::uint8_t>(body[2]) - 32;
    int row = static_cast<std::uint8_t>(body[3]) - 32;
    if (code < 0 || col < 1 || row < 1) return SequenceResult::kUnknown;
    // Button bits 3 mean "released", without saying which button.
    bool released = (code & 3) == 3 && (code & (32 | 64)) == 0;
    return MouseEvent(code, col, row, released, event, last_button);
  }
  if (body[0] == '[') {  // Linux console: F1..F5 as "[[A".."[[E"
    if (body.size() < 2) return SequenceResult::kIncomplete;
    if (body.size() > 2 || body[1] < 'A' || body[1] > 'E') return SequenceResult::kUnknown;
    *event = ExtendedKey(FunctionKeyScan(body[1] - 'A' + 1));
    return SequenceResult::kEvent;
  }
  // A CSI sequence runs to its final byte (0x40..0x7E).
  std::size_t end = 0;
  while (end < body.size() && !(body[end] >= 0x40 && body[end] <= 0x7E)) ++end;
  if (end == body.size())
    return body.size() > 32 ? SequenceResult::kUnknown : SequenceResult::kIncomplete;
  if (end + 1 != body.size()) return SequenceResult::kUnknown;
  char final = body[end];
  std::string_view params = body.substr(0, end);
  if (!params.empty() && params[0] == '<') {  // SGR mouse
    if (final != 'M' && final != 'm') return SequenceResult::kUnknown;
    int v[3];
    int count = 0;
    if (!ParseParameters(params.substr(1), v, 3, &count) || count != 3) {
      return SequenceResult::kUnknown;
    }
    if (v[1] < 1 || v[2] < 1) return SequenceResult::kUnknown;
    return MouseEvent(v[0], v[1], v[2], final == 'm', event, last_button);
  }
  int v[2];
  int count = 0;
  if (!ParseParameters(params, v, 2, &count)) return SequenceResult::kUnknown;
  std::uint32_t state = count >= 2 ? XtermModifierState(v[1]) : 0;
  switch (final) {
    case '~': {
      std::uint8_t s = TildeKeyScan(v[0]);
      if (s == 0) return SequenceResult::kUnknown;
      *event = ExtendedKey(s, state);
      return SequenceResult::kEvent;
    }
    case '^':
    case '$': {  // rxvt: Ctrl and Shift forms of the "~" keys
      std::uint8_t s = TildeKeyScan(v[0]);
      if (s == 0 || count > 1) return SequenceResult::kUnknown;
      *event = ExtendedKey(s, final == '^' ? kCtrl : kShift);
      return SequenceResult::kEvent;
    }
    case 'Z':
      *event = ExtendedKey(scan::kTab, kShift | state);
      return SequenceResult::kEvent;
    case 'a':
    case 'b':
    case 'c':
    case 'd':  // rxvt: Shift+arrows
      if (count > 0) return SequenceResult::kUnknown;
      *event = ExtendedKey(LetterKeyScan(static_cast<char>(final - 32)), kShift);
      return SequenceResult::kEvent;
    case 'I':
    case 'O':  // focus in and out
      return count == 0 ? SequenceResult::kIgnored : SequenceResult::kUnknown;
    default: {
      std::uint8_t s = LetterKeyScan(final);
      if (s == 0) return SequenceResult::kUnknown;
      *event = ExtendedKey(s, state);
      return SequenceResult::kEvent;
    }
  }
}

}  // namespace kel
