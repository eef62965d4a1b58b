// The key reader fed with what the Windows console delivers, record by
// record, as the Windows backend translates it (win32_keys.h): the key
// codes the program sees must be the classic ones on every system.
#include <vector>

#include "platform/win32_keys.h"
#include "screen/keyboard.h"
#include "screen/screen_test_support.h"

namespace kel {
namespace {

using KeyboardWin32Test = ScreenTest;

constexpr std::uint32_t kLAlt = kLeftAltPressed;

void QueueRecords(MemoryConsole& console, const std::vector<Win32KeyRecord>& records) {
  for (const Win32KeyRecord& r : records) {
    InputEvent e;
    if (TranslateWin32Key(r, &e)) console.QueueEvent(e);
  }
}

// Alt held, keypad digits pressed and released, Alt released: the records
// of an Alt+keypad code with Num Lock on. Windows withholds the digits'
// characters while Alt is held and puts the character it composed into
// Alt's release.
std::vector<Win32KeyRecord> AltKeypadCode(const char* digits, std::uint8_t composed) {
  static const std::uint16_t kScan[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                          0x4C, 0x4D, 0x47, 0x48, 0x49};
  std::vector<Win32KeyRecord> records = {{true, 0x12, 0x38, 0, kLAlt | kNumLockOn}};
  for (const char* d = digits; *d != '\0'; ++d) {
    const auto vk = static_cast<std::uint16_t>(0x60 + (*d - '0'));
    records.push_back({true, vk, kScan[*d - '0'], 0, kLAlt | kNumLockOn});
    records.push_back({false, vk, kScan[*d - '0'], 0, kLAlt | kNumLockOn});
  }
  records.push_back({false, 0x12, 0x38, composed, kNumLockOn});
  return records;
}

TEST_F(KeyboardWin32Test, RecordsOfTheWindowsConsoleGiveTheClassicKeyCodes) {
  const struct {
    const char* what;
    std::vector<Win32KeyRecord> records;
    std::int16_t expected;
  } cases[] = {
      {"Alt+keypad 1 3 0: e acute", AltKeypadCode("130", 0x82), 130},
      {"Alt+keypad 3 2 1: the code mod 256", AltKeypadCode("321", 'A'), 65},
      {"Alt+keypad 0 2 3 3: the program's value, not Windows' ANSI one",
       AltKeypadCode("0233", 0x82), 233},
      {"Alt+X opens nothing here but is Alt+X", {{true, 'X', 0x2D, 'x', kLAlt}}, keys::kAltX},
      {"Alt+E is 213", {{true, 'E', 0x12, 'e', kLAlt}}, 213},
      {"Shift+F1", {{true, 0x70, 0x3B, 0, kShiftPressed}}, 0x5400},
      {"Ctrl+F10", {{true, 0x79, 0x44, 0, kLeftCtrlPressed}}, 0x6700},
      {"Alt+F12", {{true, 0x7B, 0x58, 0, kLAlt}}, keys::kAltF12},
      {"Ctrl+Left", {{true, 0x25, 0x4B, 0, kLeftCtrlPressed | kEnhancedKey}}, keys::kCtrlLeft},
      {"Ctrl+Home", {{true, 0x24, 0x47, 0, kRightCtrlPressed | kEnhancedKey}}, keys::kCtrlHome},
      {"Shift+Left is Left", {{true, 0x25, 0x4B, 0, kShiftPressed | kEnhancedKey}}, keys::kLeft},
      {"Shift+Tab", {{true, 0x09, 0x0F, 9, kShiftPressed}}, keys::kShiftTab},
      {"Esc as wine gives it", {{true, 0x1B, 0x01, 0, 0}}, keys::kEsc},
      {"releases and modifiers carry no key",
       {{true, 0x10, 0x2A, 0, kShiftPressed},
        {true, 'Q', 0x10, 'Q', kShiftPressed},
        {false, 'Q', 0x10, 'Q', kShiftPressed},
        {false, 0x10, 0x2A, 0, 0}},
       'Q'},
  };
  for (const auto& c : cases) {
    ResetKeyboard();
    QueueRecords(con(), c.records);
    EXPECT_EQ(GetKey(), c.expected) << c.what;
    con().DiscardInput();
  }
}

TEST_F(KeyboardWin32Test, AnAltKeypadCodeEndsAtAltsReleaseAndTheNextKeyFollows) {
  std::vector<Win32KeyRecord> records = AltKeypadCode("65", 'A');
  records.push_back({true, 'B', 0x30, 'b', 0});
  QueueRecords(con(), records);
  EXPECT_EQ(GetKey(), 'A');
  EXPECT_EQ(GetKey(), 'b');
}

}  // namespace
}  // namespace kel
