#include "platform/terminal_keys.h"

#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

constexpr std::uint32_t kAlt = kLeftAltPressed;
constexpr std::uint32_t kCtrl = kLeftCtrlPressed;
constexpr std::uint32_t kShift = kShiftPressed;

std::string Describe(const InputEvent& e) {
  if (e.kind == InputEvent::Kind::kMouse) {
    return "mouse type " + std::to_string(e.mouse_type) + " button " + std::to_string(e.button) +
           " at " + std::to_string(e.row) + "," + std::to_string(e.col);
  }
  return "key ch " + std::to_string(e.ch) + " scan " + std::to_string(e.scan) + " state " +
         std::to_string(e.control) + (e.keypad ? " keypad" : "");
}

TEST(TerminalKeysTest, EscapeSequences) {
  struct Case {
    std::string seq;  // without the ESC
    SequenceResult result;
    std::string event;
  };
  const Case cases[] = {
      {"[A", SequenceResult::kEvent, "key ch 0 scan 72 state 0"},
      {"[1;5D", SequenceResult::kEvent, "key ch 0 scan 75 state 8"},   // Ctrl+Left
      {"[1;5C", SequenceResult::kEvent, "key ch 0 scan 77 state 8"},   // Ctrl+Right
      {"[1;5H", SequenceResult::kEvent, "key ch 0 scan 71 state 8"},   // Ctrl+Home
      {"[1;2D", SequenceResult::kEvent, "key ch 0 scan 75 state 16"},  // Shift+Left
      {"[1;3A", SequenceResult::kEvent, "key ch 0 scan 72 state 2"},   // Alt+Up
      {"[1;7B", SequenceResult::kEvent, "key ch 0 scan 80 state 10"},  // Ctrl+Alt+Down
      {"[1;9A", SequenceResult::kEvent, "key ch 0 scan 72 state 2"},   // Meta: as Alt
      {"[2~", SequenceResult::kEvent, "key ch 0 scan 82 state 0"},     // Ins
      {"[3~", SequenceResult::kEvent, "key ch 0 scan 83 state 0"},     // Del
      {"[3;5~", SequenceResult::kEvent, "key ch 0 scan 83 state 8"},
      {"[5~", SequenceResult::kEvent, "key ch 0 scan 73 state 0"},     // PgUp
      {"[6;2~", SequenceResult::kEvent, "key ch 0 scan 81 state 16"},  // Shift+PgDn
      {"[1~", SequenceResult::kEvent, "key ch 0 scan 71 state 0"},     // Home
      {"[4~", SequenceResult::kEvent, "key ch 0 scan 79 state 0"},     // End
      {"[H", SequenceResult::kEvent, "key ch 0 scan 71 state 0"},
      {"[F", SequenceResult::kEvent, "key ch 0 scan 79 state 0"},
      {"OP", SequenceResult::kEvent, "key ch 0 scan 59 state 0"},       // F1
      {"OS", SequenceResult::kEvent, "key ch 0 scan 62 state 0"},       // F4
      {"[1;2P", SequenceResult::kEvent, "key ch 0 scan 59 state 16"},   // Shift+F1
      {"[1;5S", SequenceResult::kEvent, "key ch 0 scan 62 state 8"},    // Ctrl+F4
      {"[15~", SequenceResult::kEvent, "key ch 0 scan 63 state 0"},     // F5
      {"[21~", SequenceResult::kEvent, "key ch 0 scan 68 state 0"},     // F10
      {"[23;3~", SequenceResult::kEvent, "key ch 0 scan 133 state 2"},  // Alt+F11
      {"[24;5~", SequenceResult::kEvent, "key ch 0 scan 134 state 8"},  // Ctrl+F12
      {"[[A", SequenceResult::kEvent, "key ch 0 scan 59 state 0"},      // Linux console F1
      {"[[E", SequenceResult::kEvent, "key ch 0 scan 63 state 0"},
      {"[Z", SequenceResult::kEvent, "key ch 0 scan 15 state 16"},  // Shift+Tab
      {"Od", SequenceResult::kEvent, "key ch 0 scan 75 state 8"},   // rxvt Ctrl+Left
      {"[c", SequenceResult::kEvent, "key ch 0 scan 77 state 16"},  // rxvt Shift+Right
      {"[7^", SequenceResult::kEvent, "key ch 0 scan 71 state 8"},  // rxvt Ctrl+Home
      {"[<0;10;5m", SequenceResult::kEvent, "mouse type 8 button 1 at 5,10"},
      {"[<2;80;25m", SequenceResult::kEvent, "mouse type 8 button 2 at 25,80"},
      {"[<0;10;5M", SequenceResult::kEvent, "mouse type 0 button 0 at 5,10"},  // a press
      {"[<35;3;4M", SequenceResult::kEvent, "mouse type 0 button 0 at 4,3"},   // motion
      {"[<64;3;4M", SequenceResult::kIgnored, ""},                             // wheel
      {"[<1;3;4m", SequenceResult::kIgnored, ""},                              // middle button
      {"[M" + std::string{32 + 3, 32 + 10, 32 + 5}, SequenceResult::kEvent,
       "mouse type 8 button 1 at 5,10"},     // X10 release after a left press (state kept)
      {"[I", SequenceResult::kIgnored, ""},  // focus in
      // The keypad in application mode (xterm, tmux, screen).
      {"Op", SequenceResult::kEvent, "key ch 48 scan 0 state 0 keypad"},  // 0
      {"Oq", SequenceResult::kEvent, "key ch 49 scan 0 state 0 keypad"},  // 1
      {"Oy", SequenceResult::kEvent, "key ch 57 scan 0 state 0 keypad"},  // 9
      {"OM", SequenceResult::kEvent, "key ch 13 scan 0 state 0 keypad"},  // Enter
      {"Oj", SequenceResult::kEvent, "key ch 42 scan 0 state 0 keypad"},  // *
      {"Oo", SequenceResult::kEvent, "key ch 47 scan 0 state 0 keypad"},  // /
      {"OX", SequenceResult::kEvent, "key ch 61 scan 0 state 0 keypad"},  // =
      {"OE", SequenceResult::kEvent, "key ch 0 scan 76 state 0"},         // centre, no Num Lock
      {"[G", SequenceResult::kEvent, "key ch 0 scan 76 state 0"},         // the same, Linux console
      // Modifier parameters after SS3 (older xterm).
      {"O5P", SequenceResult::kEvent, "key ch 0 scan 59 state 8"},         // Ctrl+F1
      {"O3q", SequenceResult::kEvent, "key ch 0 scan 79 state 2 keypad"},  // Alt+keypad 1
      {"O5", SequenceResult::kIncomplete, ""},
      {"O1234P", SequenceResult::kUnknown, ""},
      {"O5d", SequenceResult::kUnknown, ""},
      // Alt with a key that is a sequence: ESC ESC ...; never Esc.
      {"\x1bOq", SequenceResult::kEvent, "key ch 0 scan 79 state 2 keypad"},  // Alt+keypad 1
      {"\x1bOp", SequenceResult::kEvent, "key ch 0 scan 82 state 2 keypad"},  // Alt+keypad 0
      {"\x1bOy", SequenceResult::kEvent, "key ch 0 scan 73 state 2 keypad"},  // Alt+keypad 9
      {"\x1bOM", SequenceResult::kEvent, "key ch 0 scan 28 state 2 keypad"},  // Alt+keypad Enter
      {"\x1bOk", SequenceResult::kEvent, "key ch 43 scan 0 state 2 keypad"},  // no Alt form
      {"\x1b[A", SequenceResult::kEvent, "key ch 0 scan 72 state 2"},         // Alt+Up
      {"\x1b[<0;10;5m", SequenceResult::kEvent, "mouse type 8 button 1 at 5,10"},
      {"\x1b", SequenceResult::kIncomplete, ""},
      {"\x1bO", SequenceResult::kIncomplete, ""},
      {"\x1bx", SequenceResult::kUnknown, ""},
      {"\x1b\x1bOq", SequenceResult::kUnknown, ""},
      {"\x1bOz", SequenceResult::kUnknown, ""},
      // Mouse reports off the 80 x 25 screen, or with huge numbers.
      {"[<0;81;5m", SequenceResult::kIgnored, ""},
      {"[<0;10;26m", SequenceResult::kIgnored, ""},
      {"[<0;40000;5m", SequenceResult::kIgnored, ""},
      {"[<0;5;32768M", SequenceResult::kIgnored, ""},
      {"[<0;99999;99999m", SequenceResult::kIgnored, ""},
      {"[<0;100001;5m", SequenceResult::kUnknown, ""},
      {"[M" + std::string{32 + 3, '\xff', 32 + 5}, SequenceResult::kIgnored, ""},
      {"[", SequenceResult::kIncomplete, ""},
      {"[1;5", SequenceResult::kIncomplete, ""},
      {"O", SequenceResult::kIncomplete, ""},
      {"[M!", SequenceResult::kIncomplete, ""},
      {"[<0;10", SequenceResult::kIncomplete, ""},
      {"", SequenceResult::kIncomplete, ""},
      {"[99~", SequenceResult::kUnknown, ""},
      {"[1;5Dx", SequenceResult::kUnknown, ""},
      {"[<0;0;5m", SequenceResult::kUnknown, ""},
      {"[<a;1;5m", SequenceResult::kUnknown, ""},
      {"[1;2;3;4;5A", SequenceResult::kUnknown, ""},
      {"Oz", SequenceResult::kUnknown, ""},
      {"x", SequenceResult::kUnknown, ""},
      {"[" + std::string(40, '1'), SequenceResult::kUnknown, ""},
  };
  int last_button = 1;  // a left press came before the X10 release
  for (const Case& c : cases) {
    InputEvent e;
    e.ch = 99;  // untouched unless an event is decoded
    SequenceResult r = DecodeEscapeSequence(c.seq, &e, &last_button);
    EXPECT_EQ(static_cast<int>(r), static_cast<int>(c.result)) << "ESC " << c.seq;
    if (c.result == SequenceResult::kEvent) {
      EXPECT_EQ(Describe(e), c.event) << "ESC " << c.seq;
    }
  }
}

TEST(TerminalKeysTest, TerminfoKeyStrings) {
  struct Case {
    const char* seq;
    bool ok;
    std::string event;
  };
  const Case cases[] = {
      {"\x1bOw", true, "key ch 55 scan 0 state 0 keypad"},  // xterm's ka1: keypad 7
      {"\x1bOM", true, "key ch 13 scan 0 state 0 keypad"},  // xterm's kent
      {"\x1bOk", true, "key ch 43 scan 0 state 0 keypad"},  // xterm's kpADD
      {"\x1b[G", true, "key ch 0 scan 76 state 0"},         // Linux console's kb2
      {"\x1bOE", true, "key ch 0 scan 76 state 0"},         // xterm's kp5
      {"OM", false, ""},
      {"\x1b", false, ""},
      {"\x1b[99~", false, ""},
      {"\x1b[<0;1;1m", false, ""},  // a mouse report is no key
  };
  for (const Case& c : cases) {
    InputEvent e;
    EXPECT_EQ(TerminfoKeyEvent(c.seq, &e), c.ok) << c.seq + 1;
    if (c.ok) {
      EXPECT_EQ(Describe(e), c.event) << c.seq + 1;
    }
  }
}

TEST(TerminalKeysTest, MousePressThenReleaseRemembersTheButton) {
  int last = 0;
  InputEvent e;
  ASSERT_EQ(DecodeEscapeSequence("[M" + std::string{32 + 2, 32 + 7, 32 + 3}, &e, &last),
            SequenceResult::kEvent);  // right button pressed
  EXPECT_EQ(last, 2);
  ASSERT_EQ(DecodeEscapeSequence("[M" + std::string{32 + 3, 32 + 7, 32 + 3}, &e, &last),
            SequenceResult::kEvent);
  EXPECT_EQ(e.button, 2);
  EXPECT_EQ(e.mouse_type, kMouseButtonReleased);
  // A release with no press before it names no button.
  EXPECT_EQ(DecodeEscapeSequence("[M" + std::string{32 + 3, 32 + 7, 32 + 3}, &e, &last),
            SequenceResult::kIgnored);
}

TEST(TerminalKeysTest, FunctionKeyNumbersOfNcurses) {
  struct Case {
    int n;
    std::uint8_t scan;
    std::uint32_t state;
  };
  const Case cases[] = {{1, 0x3B, 0},
                        {10, 0x44, 0},
                        {11, 0x85, 0},
                        {12, 0x86, 0},
                        {13, 0x3B, kShift},
                        {24, 0x86, kShift},
                        {25, 0x3B, kCtrl},
                        {34, 0x44, kCtrl},
                        {37, 0x3B, kCtrl | kShift},
                        {49, 0x3B, kAlt},
                        {60, 0x86, kAlt},
                        {61, 0x3B, kAlt | kShift},
                        {63, 0x3D, kAlt | kShift}};
  for (const Case& c : cases) {
    InputEvent e;
    ASSERT_TRUE(FunctionKeyEvent(c.n, &e)) << "F" << c.n;
    EXPECT_EQ(e.ch, 0) << "F" << c.n;
    EXPECT_EQ(e.scan, c.scan) << "F" << c.n;
    EXPECT_EQ(e.control, c.state) << "F" << c.n;
  }
  InputEvent e;
  EXPECT_FALSE(FunctionKeyEvent(0, &e));
  EXPECT_FALSE(FunctionKeyEvent(64, &e));
}

TEST(TerminalKeysTest, ModifiedKeyCapabilityNames) {
  const auto& caps = ModifiedKeyCapabilities();
  EXPECT_EQ(caps.size(), 70u);
  auto find = [&](const std::string& name) -> const ModifiedKeyName* {
    for (const auto& c : caps) {
      if (c.name == name) return &c;
    }
    return nullptr;
  };
  ASSERT_NE(find("kLFT5"), nullptr);
  EXPECT_EQ(find("kLFT5")->scan, 0x4B);
  EXPECT_EQ(find("kLFT5")->control, kCtrl);
  EXPECT_EQ(find("kRIT5")->scan, 0x4D);
  EXPECT_EQ(find("kHOM5")->scan, 0x47);
  EXPECT_EQ(find("kUP3")->control, kAlt);
  EXPECT_EQ(find("kDC6")->control, kCtrl | kShift);
  EXPECT_EQ(find("kNXT2")->scan, 0x51);
  EXPECT_EQ(find("kPRV8")->control, kCtrl | kAlt | kShift);
  EXPECT_EQ(find("kIC1"), nullptr);
}

TEST(TerminalKeysTest, TypedCharactersAndTheirAltForms) {
  struct Case {
    char32_t typed;
    bool ok;
    std::uint8_t ch;
    std::uint8_t alt_scan;  // 0: no Alt form
  };
  const Case cases[] = {
      {U'x', true, 'x', 0x2D}, {U'X', true, 'X', 0x2D}, {U'c', true, 'c', 0x2E},
      {U'e', true, 'e', 0x12}, {U'q', true, 'q', 0x10}, {U'm', true, 'm', 0x32},
      {U'1', true, '1', 0x78}, {U'0', true, '0', 0x81}, {U'=', true, '=', 0x83},
      {U'\r', true, 13, 0x1C}, {0x7F, true, 8, 0x0E},   {U'\t', true, 9, 0},
      {U'ç', true, 0x87, 0},   {U'─', true, 0xC4, 0},   {U'·', true, 0xFA, 0},
      {U'€', false, 0, 0},     {0, false, 0, 0},        {0x1F600, false, 0, 0},
  };
  for (const Case& c : cases) {
    InputEvent e;
    ASSERT_EQ(CharacterEvent(c.typed, &e), c.ok) << "U+" << std::hex << +c.typed;
    if (!c.ok) continue;
    EXPECT_EQ(e.ch, c.ch) << "U+" << std::hex << +c.typed;
    InputEvent alt;
    EXPECT_EQ(AltEvent(e, &alt), c.alt_scan != 0) << "U+" << std::hex << +c.typed;
    if (c.alt_scan != 0) {
      EXPECT_EQ(alt.ch, 0);
      EXPECT_EQ(alt.scan, c.alt_scan) << "U+" << std::hex << +c.typed;
      EXPECT_EQ(alt.control & kAlt, kAlt);
    }
  }
  // ESC before an extended key (Alt+F1 the old way) adds Alt to it.
  InputEvent alt;
  ASSERT_TRUE(AltEvent(ExtendedKey(0x3B), &alt));
  EXPECT_EQ(alt.scan, 0x3B);
  EXPECT_EQ(alt.control, kAlt);
}

TEST(TerminalKeysTest, XtermModifierParameters) {
  EXPECT_EQ(XtermModifierState(0), 0u);
  EXPECT_EQ(XtermModifierState(1), 0u);
  EXPECT_EQ(XtermModifierState(2), kShift);
  EXPECT_EQ(XtermModifierState(3), kAlt);
  EXPECT_EQ(XtermModifierState(5), kCtrl);
  EXPECT_EQ(XtermModifierState(8), kShift | kAlt | kCtrl);
}

}  // namespace
}  // namespace kel
