#include "platform/win32_keys.h"

#include <string>

#include "gtest/gtest.h"
#include "platform/console_text.h"
#include "platform/file_system_kind.h"

namespace kel {
namespace {

constexpr std::uint32_t kLAlt = kLeftAltPressed;
constexpr std::uint32_t kRAlt = kRightAltPressed;
constexpr std::uint32_t kLCtrl = kLeftCtrlPressed;
constexpr std::uint32_t kShift = kShiftPressed;

std::string Describe(const InputEvent& e) {
  if (e.kind == InputEvent::Kind::kMouse) {
    return "mouse type " + std::to_string(e.mouse_type) + " button " + std::to_string(e.button) +
           " at " + std::to_string(e.row) + "," + std::to_string(e.col);
  }
  return "key ch " + std::to_string(e.ch) + " scan " + std::to_string(e.scan) + " state " +
         std::to_string(e.control) + (e.keypad ? " keypad" : "");
}

std::string Translate(const Win32KeyRecord& r) {
  InputEvent e;
  return TranslateWin32Key(r, &e) ? Describe(e) : "none";
}

// Records as the Windows console delivers them (virtual key, scan code,
// character in code page 850, control-key state), and what the program
// must make of them.
TEST(Win32KeysTest, KeyRecords) {
  struct Case {
    const char* what;
    Win32KeyRecord record;
    std::string event;
  };
  const Case cases[] = {
      {"letter", {true, 'A', 0x1E, 'a', 0}, "key ch 97 scan 0 state 0"},
      {"capital with Shift", {true, 'A', 0x1E, 'A', kShift}, "key ch 65 scan 0 state 16"},
      {"c cedilla of a Catalan keyboard", {true, 0xBF, 0x2B, 0x87, 0}, "key ch 135 scan 0 state 0"},
      {"Enter", {true, 0x0D, 0x1C, 13, 0}, "key ch 13 scan 0 state 0"},
      {"keypad Enter", {true, 0x0D, 0x1C, 13, kEnhancedKey}, "key ch 13 scan 0 state 0 keypad"},
      {"Ctrl+Enter", {true, 0x0D, 0x1C, 10, kLCtrl}, "key ch 10 scan 0 state 8"},
      {"Esc", {true, 0x1B, 0x01, 27, 0}, "key ch 27 scan 0 state 0"},
      // wine gives Esc without its character; Windows gives 27.
      {"Esc under wine", {true, 0x1B, 0x01, 0, 0}, "key ch 27 scan 0 state 0"},
      {"Backspace", {true, 0x08, 0x0E, 8, 0}, "key ch 8 scan 0 state 0"},
      {"Ctrl+Backspace", {true, 0x08, 0x0E, 127, kLCtrl}, "key ch 127 scan 0 state 8"},
      {"Tab", {true, 0x09, 0x0F, 9, 0}, "key ch 9 scan 0 state 0"},
      {"Shift+Tab", {true, 0x09, 0x0F, 9, kShift}, "key ch 0 scan 15 state 16"},
      {"Ctrl+C: a key, copy", {true, 'C', 0x2E, 3, kLCtrl}, "key ch 3 scan 0 state 8"},
      {"Ctrl+V", {true, 'V', 0x2F, 22, kLCtrl}, "key ch 22 scan 0 state 8"},
      {"F1", {true, 0x70, 0x3B, 0, 0}, "key ch 0 scan 59 state 0"},
      {"Shift+F1", {true, 0x70, 0x3B, 0, kShift}, "key ch 0 scan 59 state 16"},
      {"Ctrl+F10", {true, 0x79, 0x44, 0, kLCtrl}, "key ch 0 scan 68 state 8"},
      {"F11: 0x85, not its scan code 0x57", {true, 0x7A, 0x57, 0, 0}, "key ch 0 scan 133 state 0"},
      {"Alt+F12", {true, 0x7B, 0x58, 0, kLAlt}, "key ch 0 scan 134 state 2"},
      {"Up in the grey block", {true, 0x26, 0x48, 0, kEnhancedKey}, "key ch 0 scan 72 state 0"},
      {"keypad 8 without Num Lock", {true, 0x26, 0x48, 0, 0}, "key ch 0 scan 72 state 0 keypad"},
      {"keypad 5 without Num Lock", {true, 0x0C, 0x4C, 0, 0}, "key ch 0 scan 76 state 0 keypad"},
      {"keypad 7 with Num Lock",
       {true, 0x67, 0x47, '7', kNumLockOn},
       "key ch 55 scan 0 state 0 keypad"},
      {"Ctrl+Left", {true, 0x25, 0x4B, 0, kLCtrl | kEnhancedKey}, "key ch 0 scan 75 state 8"},
      {"Ctrl+Home", {true, 0x24, 0x47, 0, kLCtrl | kEnhancedKey}, "key ch 0 scan 71 state 8"},
      {"Del", {true, 0x2E, 0x53, 0, kEnhancedKey}, "key ch 0 scan 83 state 0"},
      {"Ins", {true, 0x2D, 0x52, 0, kEnhancedKey}, "key ch 0 scan 82 state 0"},
      // Alt+letters are the PC's extended keys: the calculator and calendar.
      {"Alt+X", {true, 'X', 0x2D, 'x', kLAlt}, "key ch 0 scan 45 state 2"},
      {"Alt+C", {true, 'C', 0x2E, 'c', kLAlt}, "key ch 0 scan 46 state 2"},
      {"Alt+E", {true, 'E', 0x12, 'e', kLAlt}, "key ch 0 scan 18 state 2"},
      {"Right Alt alone is Alt too", {true, 'X', 0x2D, 'x', kRAlt}, "key ch 0 scan 45 state 1"},
      {"Alt+1 on the top row", {true, '1', 0x02, '1', kLAlt}, "key ch 0 scan 120 state 2"},
      // AltGr (reported as Right Alt and Left Ctrl) types a character.
      {"AltGr+2: @ of a Spanish keyboard",
       {true, '2', 0x03, '@', kRAlt | kLCtrl},
       "key ch 64 scan 0 state 0"},
      // Alt with the numeric keypad: the digits of a character's code,
      // whether Num Lock is on (the character is then withheld) or off.
      {"Alt+keypad 1, Num Lock on",
       {true, 0x61, 0x4F, 0, kLAlt | kNumLockOn},
       "key ch 0 scan 79 state 2 keypad"},
      {"Alt+keypad 3, Num Lock off",
       {true, 0x22, 0x51, 0, kLAlt},
       "key ch 0 scan 81 state 2 keypad"},
      {"Alt+keypad 0",
       {true, 0x60, 0x52, 0, kLAlt | kNumLockOn},
       "key ch 0 scan 82 state 2 keypad"},
      {"Alt+PgDn of the grey block is no digit",
       {true, 0x22, 0x51, 0, kLAlt | kEnhancedKey},
       "key ch 0 scan 81 state 2"},
      // The release of Alt ends a code; Windows puts the character it
      // composed in that record, which the program does not use.
      {"Alt released after a code", {false, 0x12, 0x38, 0x82, 0}, "key ch 0 scan 0 state 0"},
      {"Alt released alone", {false, 0x12, 0x38, 0, 0}, "key ch 0 scan 0 state 0"},
      {"other releases", {false, 'A', 0x1E, 'a', 0}, "none"},
      {"Shift pressed alone", {true, 0x10, 0x2A, 0, kShift}, "none"},
      {"Alt pressed alone", {true, 0x12, 0x38, 0, kLAlt}, "none"},
      {"Caps Lock", {true, 0x14, 0x3A, 0, kCapsLockOn}, "none"},
      {"a Windows key", {true, 0x5B, 0x5B, 0, kEnhancedKey}, "none"},
      {"Ctrl+2: no character, no code", {true, '2', 0x03, 0, kLCtrl}, "none"},
  };
  for (const Case& c : cases) EXPECT_EQ(Translate(c.record), c.event) << c.what;
}

TEST(Win32KeysTest, MouseRecordsGiveReleasesWithTheirPosition) {
  std::uint32_t held = 0;
  auto translate = [&held](Win32MouseRecord r) {
    InputEvent e;
    return TranslateWin32Mouse(r, &held, &e) ? Describe(e) : std::string("none");
  };
  EXPECT_EQ(translate({9, 4, 1, 0, 0}), "mouse type 0 button 0 at 5,10");     // left pressed
  EXPECT_EQ(translate({9, 4, 0, 0, 0}), "mouse type 8 button 1 at 5,10");     // released
  EXPECT_EQ(translate({0, 0, 2, 0, 0}), "mouse type 0 button 0 at 1,1");      // right pressed
  EXPECT_EQ(translate({79, 24, 2, 0, 1}), "mouse type 0 button 0 at 25,80");  // moved
  EXPECT_EQ(translate({79, 24, 0, 0, 0}), "mouse type 8 button 2 at 25,80");
  EXPECT_EQ(translate({5, 5, 0, 0, 4}), "none");  // the wheel
  // Off the program's screen (a larger window): nothing, but the button
  // state is followed, so the next release is not reported twice.
  EXPECT_EQ(translate({5, 5, 1, 0, 0}), "mouse type 0 button 0 at 6,6");
  EXPECT_EQ(translate({85, 5, 0, 0, 0}), "none");
  EXPECT_EQ(translate({5, 5, 0, 0, 0}), "mouse type 0 button 0 at 6,6");
}

TEST(PlainCp850LineTest, KeepsTheBytesAndDropsWhatWouldActOnAConsole) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"Idioma que s'aplica: CAT", "Idioma que s'aplica: CAT"},
      {"Localitzaci\xA2 aplicacions", "Localitzaci\xA2 aplicacions"},  // ó stays 0xA2
      {"\xC9\xCD\xBB", "\xC9\xCD\xBB"},                                // ╔═╗
      {"line\r", "line"},
      {"a\tb", "a\tb"},
      {std::string("a\0b", 3), "a b"},
      {"bell\x07 esc\x1b[2J del\x7F", "bell? esc?[2J del?"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlainCp850Line(c.in), c.out) << c.in;
}

TEST(WindowsPathKindTest, UncPathsAndRemoteDrivesAreNetworkFileSystems) {
  const struct {
    const char* path;
    bool remote_drive;
    bool network;
  } cases[] = {
      {"C:\\KEL\\menu.dat", false, false},
      {"Z:\\tmp\\inst\\menu.dat", false, false},
      {"N:\\KEL\\menu.dat", true, true},  // a mapped network drive
      {"\\\\SERVIDOR\\KEL\\menu.dat", false, true},
      {"//servidor/kel/menu.dat", false, true},
      {"\\\\?\\C:\\KEL\\menu.dat", false, false},
      {"\\\\.\\C:\\KEL\\menu.dat", false, false},
      {"\\\\?\\UNC\\SERVIDOR\\KEL\\menu.dat", false, true},
      {"\\\\?\\unc\\servidor\\kel", false, true},
      {"\\KEL\\menu.dat", false, false},
  };
  for (const auto& c : cases) {
    FileSystemKind kind = WindowsPathKind(c.path, c.remote_drive);
    EXPECT_EQ(kind.network, c.network) << c.path;
    EXPECT_EQ(kind.name == "local", !c.network) << c.path;
  }
}

}  // namespace
}  // namespace kel
