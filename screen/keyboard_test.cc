#include "screen/keyboard.h"

#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "platform/terminal_keys.h"
#include "platform/wait_hooks.h"
#include "screen/screen_test_support.h"

namespace kel {
namespace {

using KeyboardTest = ScreenTest;

struct KeyCase {
  const char* what;
  std::function<void(MemoryConsole&)> script;
  std::int16_t expected;
};

TEST_F(KeyboardTest, KeyCodesFromConsoleEvents) {
  const KeyCase cases[] = {
      {"a letter", [](MemoryConsole& c) { c.QueueText("a"); }, 'a'},
      {"code page 850 letter", [](MemoryConsole& c) { c.QueueText("\x87"); }, 0x87},
      {"Enter", [](MemoryConsole& c) { c.QueueText("\r"); }, keys::kEnter},
      {"up", [](MemoryConsole& c) { c.QueueKey(keys::kUp); }, 0x4800},
      {"Alt+keypad 1 3 0", [](MemoryConsole& c) { c.QueueAltKeypad("130"); }, 130},
      {"Alt+keypad 3 2 1 (mod 256)", [](MemoryConsole& c) { c.QueueAltKeypad("321"); }, 65},
      {"Alt+keypad 0 6 5", [](MemoryConsole& c) { c.QueueAltKeypad("065"); }, 65},
      {"Alt+keypad long number", [](MemoryConsole& c) { c.QueueAltKeypad("99999999999"); },
       99999999999 % 256},
      {"Shift+F1", [](MemoryConsole& c) { c.QueueKey(keys::kF1, kShiftPressed); }, 0x5400},
      {"Shift+F10", [](MemoryConsole& c) { c.QueueKey(keys::kF10, kShiftPressed); }, 0x5D00},
      {"Ctrl+F1", [](MemoryConsole& c) { c.QueueKey(keys::kF1, kRightCtrlPressed); }, 0x5E00},
      {"Ctrl+F10", [](MemoryConsole& c) { c.QueueKey(keys::kF10, kLeftCtrlPressed); }, 0x6700},
      {"Alt+F1", [](MemoryConsole& c) { c.QueueKey(keys::kF1, kLeftAltPressed); }, 0x6800},
      {"Alt+F10", [](MemoryConsole& c) { c.QueueKey(keys::kF10, kRightAltPressed); }, 0x7100},
      {"Shift+F11", [](MemoryConsole& c) { c.QueueKey(keys::kF11, kShiftPressed); },
       keys::kShiftF11},
      {"Ctrl+F12", [](MemoryConsole& c) { c.QueueKey(keys::kF12, kLeftCtrlPressed); },
       keys::kCtrlF12},
      {"Alt+F12", [](MemoryConsole& c) { c.QueueKey(keys::kF12, kLeftAltPressed); },
       KeyCode(0x8C00)},
      {"Ctrl+Alt+F1: Alt wins",
       [](MemoryConsole& c) { c.QueueKey(keys::kF1, kLeftAltPressed | kLeftCtrlPressed); }, 0x6800},
      {"Ctrl+Shift+F2: Ctrl wins",
       [](MemoryConsole& c) { c.QueueKey(0x3C00, kShiftPressed | kRightCtrlPressed); }, 0x5F00},
      {"Ctrl+Left", [](MemoryConsole& c) { c.QueueKey(keys::kLeft, kLeftCtrlPressed); }, 0x7300},
      {"Ctrl+Right", [](MemoryConsole& c) { c.QueueKey(keys::kRight, kLeftCtrlPressed); }, 0x7400},
      {"Ctrl+Home", [](MemoryConsole& c) { c.QueueKey(keys::kHome, kRightCtrlPressed); }, 0x7700},
      {"Ctrl+End unchanged", [](MemoryConsole& c) { c.QueueKey(keys::kEnd, kLeftCtrlPressed); },
       0x4F00},
      {"Shift+Left is plain left", [](MemoryConsole& c) { c.QueueKey(keys::kLeft, kShiftPressed); },
       0x4B00},
      {"Alt+Home is plain Home",
       [](MemoryConsole& c) { c.QueueKey(keys::kHome, kRightAltPressed | kLeftCtrlPressed); },
       0x4700},
      {"Alt+E", [](MemoryConsole& c) { c.QueueKey(keys::kAltE, kLeftAltPressed); }, 213},
      {"Alt+Up from the grey keys",
       [](MemoryConsole& c) { c.QueueKey(keys::kUp, kLeftAltPressed); }, 0x4800},
      {"Alt+keypad then another key",
       [](MemoryConsole& c) {
         InputEvent seven;
         seven.scan = 0x47;  // keypad 7
         seven.keypad = true;
         seven.control = kLeftAltPressed;
         c.QueueEvent(seven);
         c.QueueText("z");
       },
       7},
  };
  for (const KeyCase& c : cases) {
    NewConsole();
    ResetKeyboard();
    c.script(con());
    EXPECT_EQ(GetKey(), c.expected) << c.what;
    EXPECT_EQ(con().QueuedEvents(), 0u) << c.what;
  }
}

TEST_F(KeyboardTest, ReadKeyDoesNotWaitAndPendingKeysComeFirst) {
  std::int16_t key = 5, button = 5, row = 5, col = 5;
  ReadKey(&key, &button, &row, &col);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(button, 0);
  EXPECT_EQ(con().exhausted_waits(), 0);

  con().QueueText("x");
  Keyboard().PendingKeys = "12";
  row = col = button = 9;
  ReadKey(&key, &button, &row, &col);
  EXPECT_EQ(key, '1');
  EXPECT_EQ(button, 9);  // left as it was
  EXPECT_EQ(GetKey(), '2');
  EXPECT_EQ(GetKey(), 'x');
}

TEST_F(KeyboardTest, FlushKeysDiscardsConsoleEventsButNotPendingKeys) {
  con().QueueText("typed ahead");
  Keyboard().PendingKeys = "7";
  FlushKeys();
  EXPECT_EQ(con().QueuedEvents(), 0u);
  EXPECT_EQ(Keyboard().PendingKeys, "7");
  Keyboard().PendingKeys.clear();
}

TEST_F(KeyboardTest, MouseReleasesWithTheirPosition) {
  con().QueueMouseRelease(5, 10, 1);
  std::int16_t key = 0, button = 0, row = 0, col = 0;
  WaitKeyOrClick(&key, &button, &row, &col);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(button, 1);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(col, 10);
  EXPECT_EQ(Keyboard().MouseState, kMouseOff);  // off again after the click
  EXPECT_FALSE(con().mouse_input_on());

  con().QueueMouseRelease(25, 80, 2);
  EXPECT_EQ(GetKey(), KeyCode(80 * 256 + 2 * 64 + 25));
  con().QueueMouseRelease(3, 127, 1);
  EXPECT_EQ(GetKey(), KeyCode(127 * 256 + 64 + 3));
}

TEST_F(KeyboardTest, MouseInputIsOnOnlyWhileAReadWaits) {
  std::int16_t key = 0, button = 0, row = 0, col = 0;
  ReadKey(&key, &button, &row, &col);  // nothing: input stays on for the next read
  EXPECT_EQ(Keyboard().MouseState, kMouseOn);
  EXPECT_TRUE(con().mouse_input_on());
  con().QueueText("k");
  ReadKey(&key, &button, &row, &col);
  EXPECT_EQ(key, 'k');
  EXPECT_EQ(Keyboard().MouseState, kMouseOff);
  EXPECT_FALSE(con().mouse_input_on());
}

TEST_F(KeyboardTest, WithoutAMouseMouseInputIsNeverSwitchedOn) {
  con().set_mouse_buttons(0);
  con().QueueMouseRelease(5, 10, 1);
  con().QueueText("q");
  EXPECT_EQ(GetKey(), 'q');
  EXPECT_EQ(Keyboard().MouseState, kMouseAbsent);
  EXPECT_FALSE(con().mouse_input_on());
}

// The pop-ups of the hot-key tests: they read keys themselves.
std::vector<std::int16_t>* g_seen_inside = nullptr;
int g_calculator_runs = 0;

std::string FakeCalculator() {
  ++g_calculator_runs;
  // Alt+X inside the calculator is an ordinary key there.
  for (;;) {
    std::int16_t key = GetKey();
    g_seen_inside->push_back(key);
    if (key == keys::kEnter) return "12,5";
    if (key == keys::kEsc) return "";
  }
}

std::string FakeCalendar() {
  // The calculator opens over the calendar; its result is typed into it.
  std::string typed;
  for (;;) {
    std::int16_t key = GetKey();
    if (key == keys::kEnter) return "01/02/" + typed;
    if (key > 0 && key < 256) typed.push_back(static_cast<char>(key));
  }
}

TEST_F(KeyboardTest, HotKeysTypeThePopupsResult) {
  std::vector<std::int16_t> seen;
  g_seen_inside = &seen;
  g_calculator_runs = 0;
  RegisterCalculatorPopup(&FakeCalculator);
  con().QueueKey(keys::kAltX, kLeftAltPressed);
  con().QueueKey(keys::kAltX, kLeftAltPressed);  // inside: not a second calculator
  con().QueueText("\r");
  con().QueueText("z");
  EXPECT_EQ(GetKey(), keys::kAltX);
  EXPECT_EQ(g_calculator_runs, 1);
  EXPECT_EQ(seen, (std::vector<std::int16_t>{keys::kAltX, keys::kEnter}));
  EXPECT_FALSE(Keyboard().CalculatorOpen);
  std::string typed;
  for (int i = 0; i < 5; ++i) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "12,5z");
  RegisterCalculatorPopup(nullptr);
}

TEST_F(KeyboardTest, CalculatorOverCalendarFeedsTheCalendar) {
  std::vector<std::int16_t> seen;
  g_seen_inside = &seen;
  RegisterCalculatorPopup(&FakeCalculator);
  RegisterCalendarPopup(&FakeCalendar);
  con().QueueKey(keys::kAltC, kLeftAltPressed);
  con().QueueKey(keys::kAltX, kLeftAltPressed);  // inside the calendar
  con().QueueText("\r");                         // ends the calculator: "12,5"
  con().QueueKey(keys::kAltC, kLeftAltPressed);  // inside the calendar itself: a key
  con().QueueText("\r");                         // ends the calendar
  EXPECT_EQ(GetKey(), keys::kAltC);
  std::string typed;
  for (int i = 0; i < 10; ++i) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "01/02/12,5");
  EXPECT_FALSE(Keyboard().CalendarOpen);
  RegisterCalculatorPopup(nullptr);
  RegisterCalendarPopup(nullptr);
}

TEST_F(KeyboardTest, UnregisteredHotKeysGiveAnEmptyResult) {
  con().QueueKey(keys::kAltC, kLeftAltPressed);
  con().QueueText("n");
  EXPECT_EQ(GetKey(), keys::kAltC);
  EXPECT_EQ(Keyboard().PendingKeys, "");
  EXPECT_EQ(GetKey(), 'n');
}

int g_hook_runs = 0;
void CountingHook() { ++g_hook_runs; }

TEST_F(KeyboardTest, GetKeyShowsTheScreenAndRunsTheWaitHooksBeforeBlocking) {
  g_hook_runs = 0;
  RegisterWaitHook(&CountingHook);
  int hook_runs_when_blocked = -1;
  std::string row_when_blocked;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    hook_runs_when_blocked = g_hook_runs;
    row_when_blocked = c.RowText(1).substr(0, 5);
    c.QueueText("k");
    return true;
  });
  MoveCursor(1, 1);
  WriteText("ready");
  EXPECT_EQ(GetKey(), 'k');
  EXPECT_EQ(hook_runs_when_blocked, 1);
  EXPECT_EQ(row_when_blocked, "ready");
  UnregisterWaitHook(&CountingHook);
}

// A console whose events arrive at given times on a fake clock, as a
// terminal's do: a wait advances the clock to the next event or by its
// whole timeout.
class TimedConsole : public MemoryConsole {
 public:
  explicit TimedConsole(FakeEnv* env) : env_(env), start_(env->MonotonicMillis()) {}
  // `e` arrives `ms` milliseconds after the console was made.
  void At(std::int64_t ms, const InputEvent& e) { script_.push_back({start_ + ms, e}); }
  // What a terminal sends for a key, decoded as the curses backend does
  // ("\x1bOq": ESC ESC O q, Alt with keypad 1).
  void AtSequence(std::int64_t ms, std::string_view after_esc) {
    InputEvent e;
    int no_button = 0;
    ASSERT_EQ(DecodeEscapeSequence(after_esc, &e, &no_button), SequenceResult::kEvent);
    At(ms, e);
  }
  bool PollInput(InputEvent* e) override {
    Release();
    return MemoryConsole::PollInput(e);
  }
  InputWait WaitInput(int timeout_ms) override {
    Release();
    if (QueuedEvents() > 0) return InputWait::kReady;
    if (script_.empty()) return InputWait::kNever;
    const std::int64_t now = env_->MonotonicMillis();
    if (script_.front().first > now + timeout_ms) {
      env_->Advance(timeout_ms);
      return InputWait::kTimeout;
    }
    env_->Advance(script_.front().first - now);
    Release();
    return InputWait::kReady;
  }

 private:
  void Release() {
    while (!script_.empty() && script_.front().first <= env_->MonotonicMillis()) {
      QueueEvent(script_.front().second);
      script_.pop_front();
    }
  }
  FakeEnv* env_;
  const std::int64_t start_;
  std::deque<std::pair<std::int64_t, InputEvent>> script_;
};

InputEvent AltKeypadDigit(int digit) {
  static constexpr std::uint8_t kScan[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                             0x4C, 0x4D, 0x47, 0x48, 0x49};
  InputEvent e;
  e.scan = kScan[digit];
  e.keypad = true;
  e.control = kLeftAltPressed;
  return e;
}

InputEvent Typed(char c) {
  InputEvent e;
  e.ch = static_cast<std::uint8_t>(c);
  return e;
}

// A terminal never reports the release of Alt: an Alt+keypad code ends at
// a pause of a second, or at the next key, which is then read on its own.
TEST_F(KeyboardTest, AltKeypadCodeEndsAtAPauseOrAtTheNextKey) {
  struct Case {
    const char* what;
    std::function<void(TimedConsole&)> script;
    std::vector<std::int16_t> expected;  // the keys GetKey returns, in order
  };
  const Case cases[] = {
      {"digits within the pause make one code",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(1));
         c.At(900, AltKeypadDigit(3));
         c.At(1800, AltKeypadDigit(0));
         c.At(5000, Typed('k'));
       },
       {130, 'k'}},
      {"a pause ends the code; the next digits start another",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(6));
         c.At(1500, AltKeypadDigit(5));
         c.At(1600, AltKeypadDigit(6));
         c.At(9000, Typed('k'));
       },
       {6, 56, 'k'}},
      {"the key that ends the code follows it",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(6));
         c.At(10, AltKeypadDigit(5));
         c.At(20, Typed('z'));
       },
       {'A', 'z'}},
      {"Esc after a code is Esc, not part of it",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(9));
         c.At(10, Typed('\x1b'));
       },
       {9, keys::kEsc}},
      {"an Alt key that is no keypad digit ends it too",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(4));
         c.At(10, AltKeypadDigit(8));
         InputEvent alt_f1;
         alt_f1.scan = 0x3B;
         alt_f1.control = kLeftAltPressed;
         c.At(20, alt_f1);
       },
       {'0', 0x6800}},
      {"code 0 gives no key; the next key still comes",
       [](TimedConsole& c) {
         c.At(0, AltKeypadDigit(2));
         c.At(10, AltKeypadDigit(5));
         c.At(20, AltKeypadDigit(6));
         c.At(30, Typed('n'));
       },
       {'n'}},
      // Alt with keypad 1, 3, 0 under tmux in application keypad mode.
      {"as a terminal sends them",
       [](TimedConsole& c) {
         c.AtSequence(0, "\x1bOq");
         c.AtSequence(200, "\x1bOs");
         c.AtSequence(400, "\x1bOp");
         c.AtSequence(3000, "OM");  // keypad Enter
       },
       {130, keys::kEnter}},
  };
  for (const Case& c : cases) {
    FakeEnv env;
    ScopedEnv scoped(&env);
    auto owned = std::make_unique<TimedConsole>(&env);
    TimedConsole& console = *owned;
    UseConsole(std::move(owned));
    ResetScreen();
    ResetKeyboard();
    c.script(console);
    std::vector<std::int16_t> got;
    for (std::size_t i = 0; i < c.expected.size(); ++i) got.push_back(GetKey());
    EXPECT_EQ(got, c.expected) << c.what;
    EXPECT_EQ(console.QueuedEvents(), 0u) << c.what;
  }
  NewConsole();
}

TEST_F(KeyboardTest, FlushKeysAlsoDropsTheKeyThatEndedACode) {
  con().QueueAltKeypad("66");
  con().QueueEvent(AltKeypadDigit(6));
  con().QueueEvent(AltKeypadDigit(6));
  con().QueueText("x");  // ends the second code: held for the next read
  con().QueueText("y");
  EXPECT_EQ(GetKey(), 'B');
  EXPECT_EQ(GetKey(), 'B');
  FlushKeys();
  con().QueueText("w");
  EXPECT_EQ(GetKey(), 'w');
}

TEST_F(KeyboardTest, AWaitWithAnEmptyScriptStopsWithAClearMessage) {
  expect_balanced_ = false;
  EXPECT_DEATH(GetKey(), "no more input events");
}

}  // namespace
}  // namespace kel
