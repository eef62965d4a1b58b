#include "platform/win32_keys.h"

#include "platform/terminal_keys.h"

namespace kel {
namespace {

constexpr std::uint32_t kAnyAlt = kLeftAltPressed | kRightAltPressed;
constexpr std::uint32_t kAnyCtrl = kLeftCtrlPressed | kRightCtrlPressed;
constexpr std::uint32_t kModifiers = kAnyAlt | kAnyCtrl | kShiftPressed;

// The scan codes of the numeric keypad's keys that enter digits under Alt
// (7 8 9 / 4 5 6 / 1 2 3 / 0), which are also its cursor keys without Num
// Lock; and the keypad's other keys ("*", "-", "+", ".").
bool KeypadDigitScan(std::uint16_t scan) {
  switch (scan) {
    case scan::kHome:
    case scan::kUp:
    case scan::kPgUp:
    case scan::kLeft:
    case scan::kCentre:
    case scan::kRight:
    case scan::kEnd:
    case scan::kDown:
    case scan::kPgDn:
    case scan::kIns:
      return true;
    default:
      return false;
  }
}

bool KeypadScan(std::uint16_t scan, std::uint32_t control) {
  if ((control & kEnhancedKey) != 0) {
    return scan == scan::kEnter || scan == 0x35;  // the keypad's Enter and "/"
  }
  return KeypadDigitScan(scan) || scan == scan::kDel || scan == 0x37 || scan == 0x4A ||
         scan == 0x4E;
}

// The PC scan code of a key that has no character, by its virtual key; 0
// for keys the classic console has no code for (Pause, Print Screen, the
// Windows keys).
std::uint8_t ScanOfVirtualKey(std::uint16_t virtual_key) {
  switch (virtual_key) {
    case vk::kUp:
      return scan::kUp;
    case vk::kDown:
      return scan::kDown;
    case vk::kLeft:
      return scan::kLeft;
    case vk::kRight:
      return scan::kRight;
    case vk::kHome:
      return scan::kHome;
    case vk::kEnd:
      return scan::kEnd;
    case vk::kPrior:
      return scan::kPgUp;
    case vk::kNext:
      return scan::kPgDn;
    case vk::kInsert:
      return scan::kIns;
    case vk::kDelete:
      return scan::kDel;
    case vk::kClear:
      return scan::kCentre;
    default:
      break;
  }
  if (virtual_key >= vk::kF1 && virtual_key < vk::kF1 + 12) {
    return FunctionKeyScan(virtual_key - vk::kF1 + 1);
  }
  return 0;
}

bool ModifierOrLockKey(std::uint16_t virtual_key) {
  switch (virtual_key) {
    case vk::kShift:
    case vk::kControl:
    case vk::kMenu:
    case vk::kCapital:
    case vk::kNumLock:
    case vk::kScroll:
    case vk::kLWin:
    case vk::kRWin:
    case vk::kApps:
    case vk::kPause:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool TranslateWin32Key(const Win32KeyRecord& r, InputEvent* event) {
  const std::uint32_t state = r.control & kModifiers;
  if (!r.key_down) {
    if (r.virtual_key != vk::kMenu) return false;
    InputEvent released;  // a key event without a key
    released.control = state;
    *event = released;
    return true;
  }
  if (ModifierOrLockKey(r.virtual_key)) return false;

  const bool alt = (state & kAnyAlt) != 0;
  const bool ctrl = (state & kAnyCtrl) != 0;
  const bool keypad = KeypadScan(r.scan_code, r.control);

  if (alt && !ctrl && keypad && (r.control & kEnhancedKey) == 0 && KeypadDigitScan(r.scan_code)) {
    InputEvent digit = ExtendedKey(static_cast<std::uint8_t>(r.scan_code), state);
    digit.keypad = true;
    *event = digit;
    return true;
  }

  std::uint8_t ch = r.ch;
  if (r.virtual_key == vk::kEscape) ch = 27;
  if (r.virtual_key == vk::kTab && (state & kShiftPressed) != 0 && !alt && !ctrl) {
    *event = ExtendedKey(scan::kTab, state);
    return true;
  }

  if (ch != 0) {
    InputEvent typed;
    typed.ch = ch;
    typed.keypad = keypad;
    if (alt && ctrl && ch >= 0x20) {
      // AltGr (Right Alt, which Windows reports with Left Ctrl), or Ctrl+Alt:
      // the layout's third character of the key.
      *event = typed;
      return true;
    }
    typed.control = state;
    if (alt) {
      InputEvent with_alt;
      if (ch < 0x80 && AltScanCode(ch) != 0) {
        with_alt = ExtendedKey(AltScanCode(ch), state);
      } else if (r.scan_code != 0 && r.scan_code < 0x100) {
        with_alt = ExtendedKey(static_cast<std::uint8_t>(r.scan_code), state);
      } else {
        return false;
      }
      with_alt.keypad = keypad;
      *event = with_alt;
      return true;
    }
    *event = typed;
    return true;
  }

  const std::uint8_t s = ScanOfVirtualKey(r.virtual_key);
  if (s == 0) return false;
  InputEvent extended = ExtendedKey(s, state);
  extended.keypad = keypad;
  *event = extended;
  return true;
}

bool TranslateWin32Mouse(const Win32MouseRecord& r, std::uint32_t* held_buttons,
                         InputEvent* event) {
  constexpr std::uint32_t kWheels = 4 | 8;
  if ((r.flags & kWheels) != 0) return false;
  const std::uint32_t before = *held_buttons & 3u;
  const std::uint32_t now = r.buttons & 3u;
  *held_buttons = now;
  if (!OnScreen(r.y + 1, r.x + 1)) return false;
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.row = static_cast<std::int16_t>(r.y + 1);
  e.col = static_cast<std::int16_t>(r.x + 1);
  e.control = r.control & kModifiers;
  const std::uint32_t released = before & ~now;
  if (released != 0) {
    e.mouse_type = kMouseButtonReleased;
    e.button = (released & 1u) != 0 ? 1 : 2;
  }
  *event = e;
  return true;
}

}  // namespace kel
