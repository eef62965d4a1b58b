#include "screen/field_editor.h"

#include <functional>
#include <memory>
#include <vector>

#include "screen/screen_test_support.h"
#include "screen/windows.h"
#include "util/fold_case.h"

namespace kel {
namespace {

using keys::kAltX;
using keys::kBackspace;
using keys::kCtrlHome;
using keys::kCtrlLeft;
using keys::kCtrlRight;
using keys::kDel;
using keys::kDown;
using keys::kEnd;
using keys::kEnter;
using keys::kEsc;
using keys::kHome;
using keys::kIns;
using keys::kLeft;
using keys::kRight;
using keys::kShiftTab;
using keys::kTab;
using keys::kUp;

constexpr std::int16_t kF5 = 0x3F00;
constexpr std::int16_t kCtrlC = 3;
constexpr std::int16_t kCtrlV = 22;
constexpr char kLangs[] = "|CAT,Catal\x85|SPA,Castell\x85";
constexpr char kFourLangs[] =
    "|CAT,Catal\x85|SPA,Castell\x85|GLG,Galego-portugu\x8As|OCI,Aran\x8As|EUS,\xD4uscar";

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

class FieldEditorTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetFieldEditor();
    ResetFoldCase();
    SetExitKeys("ea", "d,1b");
  }
  void TearDown() override {
    EXPECT_EQ(FoldCaseGlobals().FoldAccents, 0) << "the folding mode was left on";
    ResetFieldEditor();
    ScreenTest::TearDown();
  }

  struct Result {
    std::string value;
    std::int16_t pos, key;
  };
  // Edits `value` at row 10, column 20 with the keys queued; the edit must
  // end exactly at the last key.
  Result Edit(std::string value, std::int16_t pos, const std::vector<std::int16_t>& typed,
              std::int16_t width = 0) {
    for (std::int16_t k : typed) con().QueueKey(k);
    std::int16_t key = 0;
    EditField(10, 20, width, &value, &pos, &key);
    EXPECT_EQ(con().QueuedEvents(), 0u) << "the edit ended before its last key";
    return {value, pos, key};
  }
  // Runs one step each time the edit waits with no key queued: a step
  // looks at the screen and queues what comes next.
  void AtEachWait(std::vector<std::function<void()>> steps) {
    auto list = std::make_shared<std::vector<std::function<void()>>>(std::move(steps));
    auto next = std::make_shared<std::size_t>(0);
    con().SetExhaustedHandler([list, next](MemoryConsole&) {
      if (*next >= list->size()) return false;
      (*list)[(*next)++]();
      return true;
    });
  }
  static std::string Cells(int row, int col, int count) {
    return Row(row).substr(static_cast<std::size_t>(col - 1), static_cast<std::size_t>(count));
  }
};

TEST_F(FieldEditorTest, SetExitKeysBuildsTheTable) {
  struct Case {
    const char *mode, *keys;
    std::string exit_keys, results;
  };
  const std::string enter_esc = Bytes({0x0D, 0, 0x1B, 0});
  // clang-format off
  const Case cases[] = {
      {"ea", "4800,3b00", Bytes({0, 0x48, 0, 0x3B}), Bytes({0, 0x48, 0, 0x3B})},
      {"EA", "d=4f00", Bytes({0x0D, 0}), Bytes({0, 0x4F})},
      {"ea", " 1B , 4 800 ", Bytes({0x1B, 0, 0, 0x48}), Bytes({0x1B, 0, 0, 0x48})},
      {"ea", "d,,1b,", enter_esc, enter_esc},       // empty items skipped
      {"ea", "", "", ""},
      {"ea", "zz", Bytes({0, 0}), Bytes({0, 0})},  // no digit reads as 0
      {"ea", "12g4", Bytes({0x12, 0}), Bytes({0x12, 0})},  // up to the first non-digit
      {"ea", "1ffff", Bytes({0xFF, 0xFF}), Bytes({0xFF, 0xFF})},  // the low 16 bits
      {"ead", "d,1b", "", ""},                      // letters in order
      {"a", "4800", enter_esc + Bytes({0, 0x48}), enter_esc + Bytes({0, 0x48})},
      {"d", "d", Bytes({0x1B, 0}), Bytes({0x1B, 0})},
      {"x?-", "4800", enter_esc, enter_esc},        // unknown letters; nothing saved
  };
  // clang-format on
  for (const Case& c : cases) {
    SetExitKeys("ea", "d,1b");
    SetExitKeys(c.mode, c.keys);
    EXPECT_EQ(FieldEditor().ExitKeys, c.exit_keys) << c.mode << " \"" << c.keys << "\"";
    EXPECT_EQ(FieldEditor().ExitKeyResults, c.results) << c.mode << " \"" << c.keys << "\"";
  }
  SetExitKeys("ea", "d=2,1b,d=4f00,4800=1b");
  SetExitKeys("d", "d");  // every entry of the key goes, with its result
  EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0x1B, 0, 0, 0x48}));
  EXPECT_EQ(FieldEditor().ExitKeyResults, Bytes({0x1B, 0, 0x1B, 0}));
}

TEST_F(FieldEditorTest, NestedSavesEachGetTheirOwnTableBack) {
  // Form, lookup list, calendar, calculator...: each level must find its
  // own table when the one above it ends, also past the stack's room.
  SetExitKeys("ea", "d");
  std::vector<std::string> tables;
  const int levels = static_cast<int>(kExitKeyStackDepth) + 4;
  for (int i = 0; i < levels; ++i) {
    tables.push_back(FieldEditor().ExitKeys);
    SetExitKeys("+ea", std::to_string(i + 1));
  }
  EXPECT_EQ(FieldEditor().ExitKeyStack.size(), kExitKeyStackDepth);
  for (int i = levels - 1; i >= 0; --i) {
    SetExitKeys("-", "");
    if (i < static_cast<int>(kExitKeyStackDepth)) {
      EXPECT_EQ(FieldEditor().ExitKeys, tables[static_cast<std::size_t>(i)]) << "level " << i;
    }
  }
  EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
  EXPECT_TRUE(FieldEditor().ExitKeyStack.empty());
}

TEST_F(FieldEditorTest, FreeTextKeys) {
  struct Case {
    const char* what;
    const char* value;
    std::int16_t pos;
    bool insert;
    std::vector<std::int16_t> typed;  // Enter is added
    const char* expected;
    std::int16_t expected_pos;
  };
  // clang-format off
  const Case cases[] = {
      {"insert X before ABC", "ABC  ", 1, true, {'X'}, "XABC ", 2},
      {"insert fills the field", "ABC  ", 1, true, {'X', 'Y'}, "XYABC", 3},
      {"insert refused without a last blank", "ABC  ", 1, true, {'X', 'Y', 'Z'}, "XYABC", 3},
      {"insert at n + 1 refused", "AB   ", 6, true, {'X'}, "AB   ", 6},
      {"overwrite", "ABCDE", 2, false, {'Z'}, "AZCDE", 3},
      {"overwrite at n + 1 ignored", "ABCDE", 6, false, {'Z'}, "ABCDE", 6},
      {"upper half types, 127 and 255 do not", "AB   ", 3, false, {0x87, 127, 255, 0xFE}, "AB\x87\xFE ", 5},
      {"backspace at 1", "ABCDE", 1, true, {kBackspace}, "ABCDE", 1},
      {"backspace", "ABCDE", 3, true, {kBackspace}, "ACDE ", 2},
      {"del at n + 1", "ABCDE", 6, true, {kDel}, "ABCDE", 6},
      {"del", "ABCDE", 1, true, {kDel}, "BCDE ", 1},
      {"left stops at 1", "ABCDE", 2, true, {kLeft, kLeft}, "ABCDE", 1},
      {"right stops at n + 1", "ABCDE", 5, true, {kRight, kRight}, "ABCDE", 6},
      {"end after the text", "AB   ", 1, true, {kEnd}, "AB   ", 3},
      {"end on blanks", "     ", 4, true, {kEnd}, "     ", 1},
      {"home", "ABCDE", 5, true, {kHome}, "ABCDE", 1},
      {"ctrl+home blanks", "ABCDE", 4, true, {kCtrlHome}, "     ", 1},
      {"ctrl+y blanks", "ABCDE", 4, true, {25}, "     ", 1},
      {"ctrl+left to the previous word", "AB CD,EF", 7, true, {kCtrlLeft}, "AB CD,EF", 4},
      {"ctrl+left inside a word", "AB CD,EF", 8, true, {kCtrlLeft}, "AB CD,EF", 7},
      {"ctrl+left over separators", "AB .;:EF", 7, true, {kCtrlLeft}, "AB .;:EF", 1},
      {"ctrl+right twice", "AB CD.EF", 1, true, {kCtrlRight, kCtrlRight}, "AB CD.EF", 7},
      {"ctrl+right without a next word", "AB CD   ", 4, true, {kCtrlRight}, "AB CD   ", 9},
      {"ins flips to overwrite", "ABC  ", 1, true, {kIns, 'X'}, "XBC  ", 2},
      {"ins flips to insert", "ABC  ", 1, false, {kIns, 'X'}, "XABC ", 2},
      {"F5 and Alt+X are ignored", "ABC", 2, true, {kF5, kAltX}, "ABC", 2},
      {"pos 0 starts at 1", "ABC", 0, true, {}, "ABC", 1},
      {"pos past the end starts at n + 1", "ABC", 9, true, {}, "ABC", 4},
      {"an empty value stays empty", "", 3, true, {'X'}, "", 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SetInsertToggle(c.insert);
    std::vector<std::int16_t> typed = c.typed;
    typed.push_back(kEnter);
    Result r = Edit(c.value, c.pos, typed);
    EXPECT_EQ(r.value, c.expected) << c.what;
    EXPECT_EQ(r.pos, c.expected_pos) << c.what;
    EXPECT_EQ(r.key, kEnter) << c.what;
  }
}

TEST_F(FieldEditorTest, ClipboardPasteCleansAndCopyTrims) {
  struct Case {
    const char *clip, *value;
    std::int16_t pos;
    const char* expected;
  };
  const Case cases[] = {{"  AB\tC\r\nD  ", "       ", 1, "ABCD   "},
                        {"XYZ", "12345", 4, "123XY"},
                        {"X\x7F\xFFY", "12345", 2, "1XY45"},
                        {"AB", "12345", 6, "12345"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(SetClipboard(c.clip));
    Result r = Edit(c.value, c.pos, {kCtrlV, kEnter});
    EXPECT_EQ(r.value, c.expected) << "clipboard \"" << c.clip << "\" at " << c.pos;
    EXPECT_EQ(r.pos, c.pos) << "clipboard \"" << c.clip << "\"";
  }
  Edit("  AB C  ", 1, {kCtrlC, kEnter});
  EXPECT_EQ(con().clipboard(), "AB C");
  SetChoiceList(kLangs);
  Edit("SPA", 1, {kCtrlC, kCtrlV, kEnter});  // a selector copies its text, pastes nothing
  EXPECT_EQ(con().clipboard(), "Castell\x85");
  SetChoiceList("");
  SetExitKeys("h", "");
  Edit("SECRET", 1, {kCtrlC, kEnter});  // a hidden entry never reaches the clipboard
  EXPECT_EQ(con().clipboard(), "Castell\x85");
}

TEST_F(FieldEditorTest, EndCheck) {
  struct Case {
    const char *what, *table;
    std::vector<std::int16_t> typed;
    std::int16_t expected_key;
  };
  // clang-format off
  const Case cases[] = {
      {"F5 ignored, Enter ends", "d,1b", {kF5, kEnter}, kEnter},
      {"Tab returns Enter", "d,1b", {kTab}, kEnter},
      {"Alt+F4 returns Esc", "d,1b", {0x6B00}, kEsc},
      {"Ctrl+F4 returns Esc", "d,1b", {0x6100}, kEsc},
      {"Enter returns End when End is an exit key", "d,1b,4f00", {kEnter}, kEnd},
      {"Tab follows Enter to End", "d,1b,4f00", {kTab}, kEnd},
      {"the End key itself only moves", "d,1b,4f00", {kEnd, kEsc}, kEsc},
      {"Shift+Tab returns Up", "4800,1b", {kShiftTab}, kUp},
      {"Shift+Tab is not a key of its own", "f00,1b", {kShiftTab, kEsc}, kEsc},
      {"result codes", "d=2,1b=4f00", {kEsc}, kEnd},
      {"found at an even offset only", "d,3f", {kF5, kEnter}, kEnter},  // 00 3F straddles
      {"empty table: the first other key", "", {'A', kF5}, kF5},
      {"empty table: Up in a one-line field", "", {kUp}, kUp},
      {"ctrl+left at 1 ends", "7300,1b", {kCtrlLeft}, kCtrlLeft},
      {"ctrl+right at n + 1 ends", "7400,1b", {kCtrlRight, kCtrlRight}, kCtrlRight},
      // Codes from 8000 up are negative as 16 bits, yet keys, not clicks.
      {"F11 with a result code", "8500=1b", {keys::kF11}, kEsc},
      {"Alt+F12 as itself", "d,8c00", {keys::kAltF12}, keys::kAltF12},
      {"F12 not an exit key: ignored", "d,1b", {keys::kF12, keys::kShiftF11, kEnter}, kEnter},
      {"Alt+0 (8100) with a result code", "8100=d", {KeyCode(0x8100)}, kEnter},
  };
  // clang-format on
  for (const Case& c : cases) {
    SetExitKeys("ea", c.table);
    EXPECT_EQ(Edit("AB   ", 1, c.typed).key, c.expected_key) << c.what;
  }
  SetExitKeys("ea", "d,1b,4800,5000,7300,7400");
  SetChoiceList(kLangs);  // a selector leaves on every move
  for (std::int16_t k : {kUp, kShiftTab, kDown, kCtrlLeft, kCtrlRight}) {
    EXPECT_EQ(Edit("CAT", 1, {k}).key, k == kShiftTab ? kUp : k) << std::hex << k;
  }
}

TEST_F(FieldEditorTest, TwoLineField) {
  SetExitKeys("ea", "d,1b,4800,5000");
  struct Case {
    std::int16_t pos;
    std::vector<std::int16_t> typed;
    std::int16_t expected_pos, expected_key;
  };
  const Case cases[] = {{3, {kDown, kEnter}, 13, kEnter},
                        {13, {kDown}, 13, kDown},
                        {11, {kDown, kEnter}, 21, kEnter},
                        {13, {kUp, kEnter}, 3, kEnter},
                        {3, {kUp}, 3, kUp}};
  for (const Case& c : cases) {
    Result r = Edit("ABCDEFGHIJKLMNOPQRST", c.pos, c.typed, 10);
    EXPECT_EQ(r.pos, c.expected_pos) << "from " << c.pos;
    EXPECT_EQ(r.key, c.expected_key) << "from " << c.pos;
  }
  std::vector<std::pair<int, int>> cursors;
  auto look = [&](std::int16_t next) {
    return [&, next] {
      cursors.emplace_back(con().cursor_row(), con().cursor_col());
      con().QueueKey(next);
    };
  };
  AtEachWait({look(kEnd), look(kEnter)});
  std::string value = "ABCDEFGHIJKLMNOPQRST";
  std::int16_t pos = 12, key = 0;
  EditField(10, 20, 10, &value, &pos, &key);
  EXPECT_EQ(Cells(10, 20, 11) + "|" + Cells(11, 20, 11), "ABCDEFGHIJ |KLMNOPQRST ");
  // pos 12 on the second line; pos 21 beside the full last line.
  EXPECT_EQ(cursors, (std::vector<std::pair<int, int>>{{11, 21}, {11, 30}}));
}

TEST_F(FieldEditorTest, SelectorSteps) {
  struct Case {
    const char *what, *list, *value;
    std::vector<std::int16_t> typed;  // Enter is added
    const char* expected;
  };
  // clang-format off
  const Case cases[] = {
      {"left", kLangs, "SPA", {kLeft}, "CAT"},
      {"left again wraps", kLangs, "SPA", {kLeft, kLeft}, "SPA"},
      {"right wraps", kLangs, "SPA", {kRight}, "CAT"},
      {"space is right", kLangs, "CAT", {' '}, "SPA"},
      {"letter cycles on from the current", kLangs, "CAT", {'c'}, "SPA"},
      {"capital letter", kLangs, "SPA", {'C'}, "CAT"},
      {"accented letter", kFourLangs, "CAT", {0x85}, "OCI"},   // a-grave: Aranes
      {"accented capital", kFourLangs, "CAT", {0xB5}, "OCI"},  // A-acute
      {"plain letter, accented text", kFourLangs, "CAT", {'e'}, "EUS"},
      {"accented letter, accented text", kFourLangs, "OCI", {0x82}, "EUS"},
      {"no option with that letter", kFourLangs, "GLG", {'x', '1'}, "GLG"},
      {"editing keys change nothing", kLangs, "SPA", {8, kDel, kCtrlHome, 25, kHome, kEnd}, "SPA"},
      {"a value longer than its code", kLangs, "SPA  ", {kLeft}, "CAT  "},
      {"a value matching nothing takes the first", kLangs, "XYZ", {}, "CAT"},
      {"from nothing, right goes to the second", kLangs, "   ", {kRight}, "SPA"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SetChoiceList(c.list);
    std::vector<std::int16_t> typed = c.typed;
    typed.push_back(kEnter);
    Result r = Edit(c.value, 1, typed);
    EXPECT_EQ(r.value, c.expected) << c.what;
    EXPECT_EQ(r.key, kEnter) << c.what;
  }
}

TEST_F(FieldEditorTest, SelectorShowsTheOptionBetweenTrianglesAndBlanksThemAtTheEnd) {
  SetChoiceList(kFourLangs);
  SetColour("h");
  std::string during, attrs;
  AtEachWait({[&] { con().QueueKey(kLeft); },
              [&] {
                during = Cells(10, 19, 18);
                attrs = ScreenRowAttrs(10).substr(18, 18);
                con().QueueKey(kEnter);
              }});
  std::string value = "SPA";
  std::int16_t pos = 1, key = 0;
  EditField(10, 20, 0, &value, &pos, &key);
  // The widest text is 16: the right triangle stands at column 20 + 16.
  EXPECT_EQ(during,
            "\x11"
            "Catal\x85          \x10");
  // Triangles in the caller's colour "h", the option in "u".
  EXPECT_EQ(attrs, "\x0F" + std::string(16, '\x70') + "\x0F");
  EXPECT_EQ(Cells(10, 19, 18), " Catal\x85           ");
  EXPECT_EQ(Screen().ColourMode, 0);  // "h" selected at the end
  EXPECT_EQ(con().cursor_row() * 100 + con().cursor_col(), 1020);
  EXPECT_EQ(value, "CAT");
}

TEST_F(FieldEditorTest, Clicks) {
  struct Case {
    const char* what;
    const char* list;
    int row, col;
    std::int16_t width;
    std::int16_t expected_pos;  // 0: the click ended the edit
    const char* expected_value;
  };
  // clang-format off
  const Case cases[] = {
      {"first cell", "", 10, 20, 0, 1, "ABC"},
      {"the cell after the value", "", 10, 23, 0, 4, "ABC"},
      {"second line", "", 11, 20, 2, 3, "ABC"},
      {"past the value on its last line", "", 11, 21, 2, 4, "ABC"},
      {"left of the field", "", 10, 19, 0, 0, "ABC"},
      {"right of the field", "", 10, 24, 0, 0, "ABC"},
      {"row below", "", 11, 20, 0, 0, "ABC"},
      // Selector: widest text 8, triangles at columns 19 and 28.
      {"left triangle", kLangs, 10, 19, 0, 1, "CAT"},
      {"right triangle", kLangs, 10, 28, 0, 1, "CAT"},
      {"on the text", kLangs, 10, 23, 0, 1, "SPA"},
      {"beyond the triangle", kLangs, 10, 29, 0, 0, "SPA"},
      {"row above", kLangs, 9, 23, 0, 0, "SPA"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SetChoiceList(c.list);
    con().QueueMouseRelease(c.row, c.col, 1);
    if (c.expected_pos != 0) con().QueueKey(kEnter);
    std::string value = *c.list != 0 ? "SPA" : "ABC";
    std::int16_t pos = 1, key = 0;
    EditField(10, 20, c.width, &value, &pos, &key);
    EXPECT_EQ(key, c.expected_pos != 0 ? kEnter : -(c.col * 100 + c.row)) << c.what;
    EXPECT_EQ(pos, c.expected_pos != 0 ? c.expected_pos : 1) << c.what;
    EXPECT_EQ(value, c.expected_value) << c.what;
  }
}

TEST_F(FieldEditorTest, CursorShowsTheInsertToggleAndInsFlipsIt) {
  std::vector<int> sizes;
  auto look = [&](std::int16_t next) {
    return [&, next] {
      sizes.push_back(con().cursor_visible() ? con().cursor_size() : 0);
      con().QueueKey(next);
    };
  };
  AtEachWait({look(kIns), look(kIns), look(kEnter)});
  SetInsertToggle(true);
  SetCursorVisible(false);  // the program keeps the cursor hidden between edits
  std::string value = "AB";
  std::int16_t pos = 1, key = 0;
  EditField(10, 20, 0, &value, &pos, &key);
  EXPECT_EQ(sizes, (std::vector<int>{50, 100, 50}));
  EXPECT_TRUE(InsertToggle());
  EXPECT_FALSE(CursorVisible());
  SetChoiceList(kLangs);
  Edit("CAT", 1, {kIns, kEnter});  // the toggle outlives the edit, also from a selector
  EXPECT_FALSE(InsertToggle());
}

TEST_F(FieldEditorTest, PlacesRelativeToTheWindowAndAtTheCursor) {
  {
    ScopedWindow window(5, 10, 15, 60);
    Edit("ABC", 1, {'X', kEnter});  // row 10, column 20 of the window
    EXPECT_EQ(Cells(15, 30, 3), "XBC");
  }
  MoveCursor(3, 7);
  std::string value = "DEF";
  std::int16_t pos = 1, key = 0;
  con().QueueKey(kEnter);
  EditField(0, 0, 0, &value, &pos, &key);
  EXPECT_EQ(Cells(3, 7, 3), "DEF");
}

}  // namespace
}  // namespace kel
