#include "screen/keyboard.h"

#include <cstdint>
#include <optional>

#include "platform/console.h"
#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "screen/screen_buffer.h"

namespace kel {
namespace {

// How long one wait may block before the wait hooks run again.
constexpr int kIdleWaitMillis = 1000;
// How long an Alt+keypad code waits for its next digit: terminals never
// report the release of Alt, so a pause ends the code.
constexpr int kAltKeypadPauseMillis = 1000;

// The key that ended an Alt+keypad code without being part of it (a
// terminal sends no release of Alt, so the next key does it): delivered by
// the next read, before anything new from the console.
std::optional<InputEvent>& HeldEvent() {
  static std::optional<InputEvent> held;
  return held;
}

struct HotKeys {
  HotKeyPopup calculator = nullptr;
  HotKeyPopup calendar = nullptr;
};

HotKeys& Popups() {
  static HotKeys popups;
  return popups;
}

// The digit a numeric-keypad key enters while Alt is held; -1 for others.
int KeypadDigit(const InputEvent& e) {
  if (e.kind != InputEvent::Kind::kKey || !e.keypad || e.ch != 0) return -1;
  switch (e.scan) {
    case 0x52:
      return 0;  // Ins
    case 0x4F:
      return 1;  // End
    case 0x50:
      return 2;  // Down
    case 0x51:
      return 3;  // PgDn
    case 0x4B:
      return 4;  // Left
    case 0x4C:
      return 5;  // centre
    case 0x4D:
      return 6;  // Right
    case 0x47:
      return 7;  // Home
    case 0x48:
      return 8;  // Up
    case 0x49:
      return 9;  // PgUp
    default:
      return -1;
  }
}

// Blocks until the console has an event.
void AwaitInput() {
  Console& console = ScreenConsole();
  for (;;) {
    RunWaitHooks();
    RefreshScreen();
    switch (console.WaitInput(kIdleWaitMillis)) {
      case InputWait::kReady:
        return;
      case InputWait::kTimeout:
        continue;
      case InputWait::kNever:
        // The backend ends the run here unless it found more input.
        if (console.OnInputExhausted()) return;
        Keyboard().PendingKeys.push_back(static_cast<char>(keys::kEsc));
        return;
    }
  }
}

// The next event within `ms` milliseconds; false when none came.
bool NextEventWithin(int ms, InputEvent* e) {
  Console& console = ScreenConsole();
  const std::int64_t deadline = CurrentEnv().MonotonicMillis() + ms;
  for (;;) {
    if (console.PollInput(e)) return true;
    const std::int64_t left = deadline - CurrentEnv().MonotonicMillis();
    if (left <= 0 || console.WaitInput(static_cast<int>(left)) != InputWait::kReady) return false;
  }
}

std::uint16_t ApplyModifiers(std::uint16_t key, std::uint32_t control) {
  const bool f1_to_f10 = key >= 0x3B00 && key <= 0x4400 && (key & 0xFF) == 0;
  const bool f11_f12 = key == 0x8500 || key == 0x8600;
  if (control & (kRightAltPressed | kLeftAltPressed)) {
    if (f1_to_f10) return static_cast<std::uint16_t>(key + 0x2D00);
    if (f11_f12) return static_cast<std::uint16_t>(key + 0x600);
    return key;
  }
  if (control & (kRightCtrlPressed | kLeftCtrlPressed)) {
    if (f1_to_f10) return static_cast<std::uint16_t>(key + 0x2300);
    if (f11_f12) return static_cast<std::uint16_t>(key + 0x400);
    if (key == 0x4700) return 0x7700;
    if (key == 0x4D00) return 0x7400;
    if (key == 0x4B00) return 0x7300;
    return key;
  }
  if (control & kShiftPressed) {
    if (f1_to_f10) return static_cast<std::uint16_t>(key + 0x1900);
    if (f11_f12) return static_cast<std::uint16_t>(key + 0x200);
  }
  return key;
}

void RunHotKey(HotKeyPopup popup, bool KeyboardState::*open_flag) {
  KeyboardState& k = Keyboard();
  k.*open_flag = true;
  std::string result = popup != nullptr ? popup() : std::string();
  Keyboard().PendingKeys = result;
  Keyboard().*open_flag = false;
}

}  // namespace

KeyboardState& Keyboard() {
  static KeyboardState state;
  return state;
}

void ResetKeyboard() {
  Keyboard() = KeyboardState{};
  HeldEvent().reset();
}

void RegisterCalculatorPopup(HotKeyPopup popup) { Popups().calculator = popup; }
void RegisterCalendarPopup(HotKeyPopup popup) { Popups().calendar = popup; }

void ReadKey(std::int16_t* key, std::int16_t* button, std::int16_t* mouse_row,
             std::int16_t* mouse_col) {
  KeyboardState& k = Keyboard();
  if (!k.PendingKeys.empty()) {
    *key = static_cast<std::uint8_t>(k.PendingKeys.front());
    k.PendingKeys.erase(0, 1);
    return;
  }
  Console& console = ScreenConsole();
  if (k.MouseState == kMouseUnknown) {
    k.MouseState = console.MouseButtons() == 0 ? kMouseAbsent : kMouseOff;
  }
  if (k.MouseState == kMouseOff) {
    console.SetMouseInput(true);
    k.MouseState = kMouseOn;
  }
  *key = *button = *mouse_row = *mouse_col = 0;
  InputEvent e;
  if (HeldEvent().has_value()) {
    e = *HeldEvent();
    HeldEvent().reset();
  } else if (!console.PollInput(&e)) {
    return;
  }

  // Alt held with keypad digits: the character of that code. The classic
  // console ends the code when Alt is released (a key event without a key);
  // a terminal never says so, so the first other key or a pause ends it
  // too, and that other key is delivered next rather than lost.
  int value = 0;
  bool digits = false;
  while (e.kind == InputEvent::Kind::kKey && (e.control & kLeftAltPressed) != 0) {
    int d = KeypadDigit(e);
    bool no_key = e.ch == 0 && e.scan == 0;
    if (d < 0 && !no_key) break;
    if (d >= 0) {
      value = (value * 10 + d) % 256;
      digits = true;
    }
    if (!NextEventWithin(kAltKeypadPauseMillis, &e)) {
      e = InputEvent{};  // the pause: as if Alt had been released
      break;
    }
  }
  if (digits) {
    const bool released = e.kind == InputEvent::Kind::kKey && e.ch == 0 && e.scan == 0;
    if (!released) HeldEvent() = e;
    InputEvent typed;
    typed.ch = static_cast<std::uint8_t>(value);
    e = typed;
  }

  std::uint16_t code = 0;
  if (e.kind == InputEvent::Kind::kKey) {
    code = e.ch != 0 ? e.ch : static_cast<std::uint16_t>(e.scan << 8);
    if (code == 0x1200) code = 213;  // Alt+E
    code = ApplyModifiers(code, e.control);
  }
  *key = static_cast<std::int16_t>(code);
  if (k.MouseState == kMouseOn && e.kind == InputEvent::Kind::kMouse &&
      e.mouse_type == kMouseButtonReleased) {
    *button = e.button;
    *mouse_row = e.row;
    *mouse_col = e.col;
  }

  if (*key == keys::kAltX && !k.CalculatorOpen) {
    RunHotKey(Popups().calculator, &KeyboardState::CalculatorOpen);
  } else if (*key == keys::kAltC && !k.CalendarOpen) {
    RunHotKey(Popups().calendar, &KeyboardState::CalendarOpen);
  }

  KeyboardState& after = Keyboard();
  if (after.MouseState == kMouseOn && (*key != 0 || *button != 0)) {
    ScreenConsole().SetMouseInput(false);
    after.MouseState = kMouseOff;
  }
}

void WaitKeyOrClick(std::int16_t* key, std::int16_t* button, std::int16_t* mouse_row,
                    std::int16_t* mouse_col) {
  *key = *button = *mouse_row = *mouse_col = 0;
  for (;;) {
    ReadKey(key, button, mouse_row, mouse_col);
    if (*key != 0 || *button != 0) return;
    if (Keyboard().PendingKeys.empty() && !HeldEvent().has_value()) AwaitInput();
  }
}

std::int16_t GetKey() {
  std::int16_t key = 0, button = 0, row = 0, col = 0;
  WaitKeyOrClick(&key, &button, &row, &col);
  if (button != 0) {
    key = static_cast<std::int16_t>(static_cast<std::uint16_t>(col * 256 + button * 64 + row));
  }
  return key;
}

void FlushKeys() {
  HeldEvent().reset();
  ScreenConsole().DiscardInput();
}

}  // namespace kel
