#include "screen/field_editor.h"

#include <functional>
#include <memory>
#include <vector>

#include "screen/screen_test_support.h"
#include "screen/windows.h"
#include "util/fold_case.h"

namespace kel {
namespace {

using keys::kDown;
using keys::kEnd;
using keys::kEnter;
using keys::kEsc;
using keys::kLeft;
using keys::kRight;
using keys::kUp;

constexpr std::int16_t kF5 = 0x3F00;
constexpr std::int16_t kCtrlC = 3;
constexpr std::int16_t kCtrlV = 22;
constexpr std::int16_t kCtrlY = 25;

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
    std::int16_t pos;
    std::int16_t key;
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

  // Runs `steps`, one each time the edit waits for a key that is not
  // queued: a step looks at the screen and queues what comes next.
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
    const char* mode;
    const char* keys;
    std::string exit_keys;
    std::string results;
  };
  const Case cases[] = {
      {"ea", "d,1b", Bytes({0x0D, 0, 0x1B, 0}), Bytes({0x0D, 0, 0x1B, 0})},
      {"EA", "4800,3b00", Bytes({0, 0x48, 0, 0x3B}), Bytes({0, 0x48, 0, 0x3B})},
      {"ea", "d=4f00", Bytes({0x0D, 0}), Bytes({0, 0x4F})},
      {"ea", " 1B , 4 800 ", Bytes({0x1B, 0, 0, 0x48}), Bytes({0x1B, 0, 0, 0x48})},
      {"ea", "d,,1b,", Bytes({0x0D, 0, 0x1B, 0}), Bytes({0x0D, 0, 0x1B, 0})},
      {"ea", "", "", ""},
      {"ea", "zz", Bytes({0, 0}), Bytes({0, 0})},                 // no digit reads as 0
      {"ea", "12g4", Bytes({0x12, 0}), Bytes({0x12, 0})},         // up to the first non-digit
      {"ea", "1ffff", Bytes({0xFF, 0xFF}), Bytes({0xFF, 0xFF})},  // low 16 bits
      {"ead", "d,1b", "", ""},  // letters in order: add, then remove
      {"a", "4800", Bytes({0x0D, 0, 0x1B, 0, 0, 0x48}), Bytes({0x0D, 0, 0x1B, 0, 0, 0x48})},
      {"d", "d", Bytes({0x1B, 0}), Bytes({0x1B, 0})},
      {"e", "d", "", ""},
      {"x?", "4800", Bytes({0x0D, 0, 0x1B, 0}), Bytes({0x0D, 0, 0x1B, 0})},
  };
  for (const Case& c : cases) {
    SetExitKeys("ea", "d,1b");
    SetExitKeys(c.mode, c.keys);
    EXPECT_EQ(FieldEditor().ExitKeys, c.exit_keys) << c.mode << " \"" << c.keys << "\"";
    EXPECT_EQ(FieldEditor().ExitKeyResults, c.results) << c.mode << " \"" << c.keys << "\"";
  }
}

TEST_F(FieldEditorTest, RemovingAKeyRemovesEveryEntryOfItAndKeepsResultsParallel) {
  SetExitKeys("ea", "d=2,1b,d=4f00,4800=1b");
  SetExitKeys("d", "d");
  EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0x1B, 0, 0, 0x48}));
  EXPECT_EQ(FieldEditor().ExitKeyResults, Bytes({0x1B, 0, 0x1B, 0}));
}

TEST_F(FieldEditorTest, MaskLettersAndRestoreWithNothingSaved) {
  SetExitKeys("h", "");
  EXPECT_EQ(FieldEditor().MaskChar, 88);
  SetExitKeys("V", "");
  EXPECT_EQ(FieldEditor().MaskChar, 0);
  SetExitKeys("-", "");  // nothing saved: nothing happens
  EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0x0D, 0, 0x1B, 0}));
  EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
}

TEST_F(FieldEditorTest, NestedSavesEachGetTheirOwnTableBack) {
  // Form, then lookup list, then calendar inside it, then calculator: each
  // level must find its own table when the one above it ends.
  SetExitKeys("ea", "d");
  std::vector<std::string> tables;
  const int levels = static_cast<int>(kExitKeyStackDepth) + 4;  // past the stack's room
  for (int i = 0; i < levels; ++i) {
    tables.push_back(FieldEditor().ExitKeys);
    SetExitKeys("+ea", std::to_string(i + 1));
  }
  EXPECT_EQ(FieldEditor().ExitKeyDepth, levels);
  EXPECT_EQ(FieldEditor().ExitKeyStack.size(), kExitKeyStackDepth);
  for (int i = levels - 1; i >= 0; --i) {
    SetExitKeys("-", "");
    if (i < static_cast<int>(kExitKeyStackDepth)) {
      EXPECT_EQ(FieldEditor().ExitKeys, tables[static_cast<std::size_t>(i)]) << "level " << i;
    }
  }
  EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
  EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0x0D, 0}));
  EXPECT_TRUE(FieldEditor().ExitKeyStack.empty());
}

TEST_F(FieldEditorTest, ScopedExitKeysRestoresOnEveryPath) {
  {
    ScopedExitKeys outer("ea", "4800");
    EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0, 0x48}));
    {
      ScopedExitKeys inner("e", "");
      EXPECT_EQ(FieldEditor().ExitKeys, "");
    }
    EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0, 0x48}));
  }
  EXPECT_EQ(FieldEditor().ExitKeys, Bytes({0x0D, 0, 0x1B, 0}));
  EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
}

TEST_F(FieldEditorTest, ChoiceListsParse) {
  auto c = ParseChoices(kLangs);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].code, "CAT");
  EXPECT_EQ(c[0].text, "Catal\x85");
  EXPECT_EQ(c[1].code, "SPA");
  EXPECT_EQ(ParseChoices("").size(), 0u);
  EXPECT_EQ(ParseChoices("no bar").size(), 0u);
  c = ParseChoices("junk|A|B,x,y|");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].code, "A");
  EXPECT_EQ(c[0].text, "");
  EXPECT_EQ(c[1].text, "x,y");  // only the first comma splits
  EXPECT_EQ(c[2].code, "");
  EXPECT_EQ(FindChoice(ParseChoices(kLangs), "SPA  "), 1);
  EXPECT_EQ(FindChoice(ParseChoices(kLangs), "XX"), -1);
}

// ---------------------------------------------------------------------------
// Free-text keys

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
  const Case cases[] = {
      {"insert X before ABC", "ABC  ", 1, true, {'X'}, "XABC ", 2},
      {"insert fills the field", "ABC  ", 1, true, {'X', 'Y'}, "XYABC", 3},
      {"insert refused when the last is no blank", "ABC  ", 1, true, {'X', 'Y', 'Z'}, "XYABC", 3},
      {"insert at n + 1 refused", "AB   ", 6, true, {'X'}, "AB   ", 6},
      {"overwrite", "ABCDE", 2, false, {'Z'}, "AZCDE", 3},
      {"overwrite at n + 1 ignored", "ABCDE", 6, false, {'Z'}, "ABCDE", 6},
      {"upper half of the code page types", "AB   ", 3, false, {0x87, 0xFE}, "AB\x87\xFE ", 5},
      {"127 and 255 are not characters", "AB   ", 3, false, {127, 255}, "AB   ", 3},
      {"backspace at 1", "ABCDE", 1, true, {8}, "ABCDE", 1},
      {"backspace", "ABCDE", 3, true, {8}, "ACDE ", 2},
      {"del at n + 1", "ABCDE", 6, true, {keys::kDel}, "ABCDE", 6},
      {"del", "ABCDE", 1, true, {keys::kDel}, "BCDE ", 1},
      {"left at 1", "ABCDE", 1, true, {kLeft}, "ABCDE", 1},
      {"left", "ABCDE", 4, true, {kLeft, kLeft}, "ABCDE", 2},
      {"right at n + 1", "ABCDE", 6, true, {kRight}, "ABCDE", 6},
      {"right", "ABCDE", 5, true, {kRight}, "ABCDE", 6},
      {"end after the text", "AB   ", 1, true, {kEnd}, "AB   ", 3},
      {"end on a full field", "ABCDE", 1, true, {kEnd}, "ABCDE", 6},
      {"end on blanks", "     ", 4, true, {kEnd}, "     ", 1},
      {"home", "ABCDE", 5, true, {keys::kHome}, "ABCDE", 1},
      {"ctrl+home blanks", "ABCDE", 4, true, {keys::kCtrlHome}, "     ", 1},
      {"ctrl+y blanks", "ABCDE", 4, true, {kCtrlY}, "     ", 1},
      {"ctrl+left to the previous word", "AB CD,EF", 7, true, {keys::kCtrlLeft}, "AB CD,EF", 4},
      {"ctrl+left inside a word", "AB CD,EF", 8, true, {keys::kCtrlLeft}, "AB CD,EF", 7},
      {"ctrl+left over separators", "AB .;:EF", 7, true, {keys::kCtrlLeft}, "AB .;:EF", 1},
      {"ctrl+right", "AB CD.EF", 1, true, {keys::kCtrlRight}, "AB CD.EF", 4},
      {"ctrl+right twice",
       "AB CD.EF",
       1,
       true,
       {keys::kCtrlRight, keys::kCtrlRight},
       "AB CD.EF",
       7},
      {"ctrl+right without a next word", "AB CD   ", 4, true, {keys::kCtrlRight}, "AB CD   ", 9},
      {"ins flips to overwrite", "ABC  ", 1, true, {keys::kIns, 'X'}, "XBC  ", 2},
      {"ins flips to insert", "ABC  ", 1, false, {keys::kIns, 'X'}, "XABC ", 2},
      {"F5 is not an exit key", "ABC", 2, true, {kF5}, "ABC", 2},
      {"alt+x comes back as a key that is ignored", "ABC", 2, true, {keys::kAltX}, "ABC", 2},
  };
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

TEST_F(FieldEditorTest, PositionIsClampedOnEntry) {
  EXPECT_EQ(Edit("ABC", 0, {kEnter}).pos, 1);
  EXPECT_EQ(Edit("ABC", -7, {kEnter}).pos, 1);
  EXPECT_EQ(Edit("ABC", 9, {kEnter}).pos, 4);
  EXPECT_EQ(Edit("", 3, {'X', kEnter}).value, "");  // an empty value stays empty
}

TEST_F(FieldEditorTest, PasteDropsControlsTrimsAndStaysWithinTheField) {
  struct Case {
    const char* clip;
    const char* value;
    std::int16_t pos;
    const char* expected;
  };
  const Case cases[] = {
      {"  AB\tC\r\nD  ", "       ", 1, "ABCD   "},
      {"XYZ", "12345", 4, "123XY"},
      {"X\x7F\xFFY", "12345", 2, "1XY45"},
      {"", "12345", 2, "12345"},
      {"AB", "12345", 6, "12345"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetClipboard(c.clip));
    Result r = Edit(c.value, c.pos, {kCtrlV, kEnter});
    EXPECT_EQ(r.value, c.expected) << "clipboard \"" << c.clip << "\" at " << c.pos;
    EXPECT_EQ(r.pos, c.pos) << "clipboard \"" << c.clip << "\"";
  }
}

TEST_F(FieldEditorTest, CopyTakesTheTrimmedValueButNeverAHiddenOne) {
  Edit("  AB C  ", 1, {kCtrlC, kEnter});
  EXPECT_EQ(con().clipboard(), "AB C");
  SetExitKeys("h", "");
  Edit("SECRET", 1, {kCtrlC, kEnter});
  EXPECT_EQ(con().clipboard(), "AB C");
}

// ---------------------------------------------------------------------------
// The end check

TEST_F(FieldEditorTest, ExitKeyTable) {
  struct Case {
    const char* what;
    const char* table;
    std::vector<std::int16_t> typed;
    std::int16_t expected_key;
  };
  const Case cases[] = {
      {"F5 ignored, Enter ends", "d,1b", {kF5, kEnter}, kEnter},
      {"Tab returns Enter", "d,1b", {keys::kTab}, kEnter},
      {"Alt+F4 returns Esc", "d,1b", {0x6B00}, kEsc},
      {"Ctrl+F4 returns Esc", "d,1b", {0x6100}, kEsc},
      {"Esc", "d,1b", {kEsc}, kEsc},
      {"Enter returns End when End is an exit key", "d,1b,4f00", {kEnter}, kEnd},
      {"Tab follows Enter to End", "d,1b,4f00", {keys::kTab}, kEnd},
      {"the End key itself only moves", "d,1b,4f00", {kEnd, kEsc}, kEsc},
      {"Shift+Tab returns Up", "4800,1b", {keys::kShiftTab}, kUp},
      {"Shift+Tab is not an exit key of its own", "f00,1b", {keys::kShiftTab, kEsc}, kEsc},
      {"result codes", "d=2,1b=4f00", {kEsc}, kEnd},
      {"found at an even offset only", "d,3f", {kF5, kEnter}, kEnter},
      {"empty table: the first other key", "", {'A', kF5}, kF5},
      {"empty table: Up in a one-line field", "", {kUp}, kUp},
      {"empty table: Ctrl+B", "", {2}, 2},
      {"ctrl+left at 1 ends", "7300,1b", {keys::kCtrlLeft}, keys::kCtrlLeft},
      {"ctrl+right at n + 1 ends",
       "7400,1b",
       {keys::kCtrlRight, keys::kCtrlRight},
       keys::kCtrlRight},
  };
  for (const Case& c : cases) {
    SetExitKeys("ea", c.table);
    Result r = Edit("AB   ", 1, c.typed);
    EXPECT_EQ(r.key, c.expected_key) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Several lines

TEST_F(FieldEditorTest, TwoLineFieldMovesByLinesAndEndsAtItsEdges) {
  SetExitKeys("ea", "d,1b,4800,5000");
  const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
  struct Case {
    std::int16_t pos;
    std::vector<std::int16_t> typed;
    std::int16_t expected_pos;
    std::int16_t expected_key;
  };
  const Case cases[] = {
      {3, {kDown, kEnter}, 13, kEnter}, {13, {kDown}, 13, kDown}, {11, {kDown, kEnter}, 21, kEnter},
      {13, {kUp, kEnter}, 3, kEnter},   {3, {kUp}, 3, kUp},       {10, {kUp}, 10, kUp},
  };
  for (const Case& c : cases) {
    Result r = Edit(twenty, c.pos, c.typed, 10);
    EXPECT_EQ(r.pos, c.expected_pos) << "from " << c.pos;
    EXPECT_EQ(r.key, c.expected_key) << "from " << c.pos;
  }
}

TEST_F(FieldEditorTest, TwoLineFieldDrawsInLinesAndKeepsTheCursorBesideAFullLastLine) {
  std::vector<std::pair<int, int>> cursors;
  AtEachWait({[&] {
                cursors.emplace_back(con().cursor_row(), con().cursor_col());
                con().QueueKey(keys::kEnd);
              },
              [&] {
                cursors.emplace_back(con().cursor_row(), con().cursor_col());
                con().QueueKey(kEnter);
              }});
  std::string value = "ABCDEFGHIJKLMNOPQRST";
  std::int16_t pos = 12, key = 0;
  EditField(10, 20, 10, &value, &pos, &key);
  EXPECT_EQ(Cells(10, 20, 11), "ABCDEFGHIJ ");
  EXPECT_EQ(Cells(11, 20, 11), "KLMNOPQRST ");
  ASSERT_EQ(cursors.size(), 2u);
  EXPECT_EQ(cursors[0], std::make_pair(11, 21));  // pos 12: line 2, second column
  EXPECT_EQ(cursors[1], std::make_pair(11, 30));  // pos 21: after the last line's end
}

// ---------------------------------------------------------------------------
// Selector fields

TEST_F(FieldEditorTest, SelectorSteps) {
  struct Case {
    const char* what;
    const char* list;
    const char* value;
    std::vector<std::int16_t> typed;  // Enter is added
    const char* expected;
  };
  const Case cases[] = {
      {"left", kLangs, "SPA", {kLeft}, "CAT"},
      {"left again wraps", kLangs, "SPA", {kLeft, kLeft}, "SPA"},
      {"right wraps", kLangs, "SPA", {kRight}, "CAT"},
      {"space is right", kLangs, "CAT", {' '}, "SPA"},
      {"letter cycles from the current", kLangs, "CAT", {'c'}, "SPA"},
      {"capital letter", kLangs, "SPA", {'C'}, "CAT"},
      {"accented letter", kFourLangs, "CAT", {0x85}, "OCI"},   // a-grave -> Aranes
      {"accented capital", kFourLangs, "CAT", {0xB5}, "OCI"},  // A-acute
      {"plain letter finds the accented text", kFourLangs, "CAT", {'e'}, "EUS"},
      {"accented letter finds the accented text", kFourLangs, "OCI", {0x82}, "EUS"},  // e-acute
      {"g", kFourLangs, "OCI", {'G'}, "GLG"},
      {"no option with that letter", kFourLangs, "GLG", {'x'}, "GLG"},
      {"digits match nothing", kFourLangs, "GLG", {'1'}, "GLG"},
      {"editing keys change nothing",
       kLangs,
       "SPA",
       {8, keys::kDel, keys::kCtrlHome, kCtrlY, kCtrlV, keys::kHome, kEnd},
       "SPA"},
      {"a value longer than its code", kLangs, "SPA  ", {kLeft}, "CAT  "},
      {"a value matching nothing takes the first", kLangs, "XYZ", {}, "CAT"},
      {"from nothing, right goes to the second", kLangs, "   ", {kRight}, "SPA"},
  };
  for (const Case& c : cases) {
    SetChoiceList(c.list);
    std::vector<std::int16_t> typed = c.typed;
    typed.push_back(kEnter);
    Result r = Edit(c.value, 1, typed);
    EXPECT_EQ(r.value, c.expected) << c.what;
    EXPECT_EQ(r.key, kEnter) << c.what;
  }
}

TEST_F(FieldEditorTest, SelectorEndsOnMovesThatLeaveAFreeTextField) {
  SetExitKeys("ea", "d,1b,4800,5000,7300,7400");
  SetChoiceList(kLangs);
  const std::int16_t leaving[] = {kUp, keys::kShiftTab, kDown, keys::kCtrlLeft, keys::kCtrlRight};
  for (std::int16_t k : leaving) {
    Result r = Edit("CAT", 1, {k});
    EXPECT_EQ(r.key, k == keys::kShiftTab ? kUp : k) << std::hex << k;
  }
}

TEST_F(FieldEditorTest, SelectorShowsTheOptionBetweenTrianglesAndBlanksThemAtTheEnd) {
  SetChoiceList(kFourLangs);
  SetColour("h");
  const std::uint8_t u = 0x70;  // black on grey: colour mode 4 of the default table
  std::string during, during_attrs;
  AtEachWait({[&] { con().QueueKey(kLeft); },
              [&] {
                during = Cells(10, 19, 18);
                during_attrs = ScreenRowAttrs(10).substr(18, 18);
                con().QueueKey(kEnter);
              }});
  std::string value = "SPA";
  std::int16_t pos = 1, key = 0;
  EditField(10, 20, 0, &value, &pos, &key);
  // The widest text, "Galego-portugues", is 16 wide: the right triangle
  // stands at column 20 + 16.
  EXPECT_EQ(during,
            "\x11"
            "Catal\x85          \x10");
  EXPECT_EQ(static_cast<std::uint8_t>(during_attrs[1]), u);
  EXPECT_EQ(static_cast<std::uint8_t>(during_attrs[16]), u);
  EXPECT_EQ(static_cast<std::uint8_t>(during_attrs[0]), 0x0F);  // the caller's colour
  EXPECT_EQ(Cells(10, 19, 18), " Catal\x85           ");
  EXPECT_EQ(Screen().ColourMode, 0);  // "h" selected at the end
  EXPECT_EQ(con().cursor_row(), 10);
  EXPECT_EQ(con().cursor_col(), 20);
  EXPECT_EQ(value, "CAT");
}

TEST_F(FieldEditorTest, SelectorCopiesTheOptionText) {
  SetChoiceList(kLangs);
  Edit("SPA", 1, {kCtrlC, kEnter});
  EXPECT_EQ(con().clipboard(), "Castell\x85");
}

// ---------------------------------------------------------------------------
// Mouse

TEST_F(FieldEditorTest, ClicksMoveInsideTheFieldAndEndOutsideIt) {
  SetExitKeys("ea", "d,1b");
  struct Case {
    const char* what;
    int row, col;
    std::int16_t width;
    std::int16_t expected_pos;  // 0: the click ended the edit
  };
  const Case cases[] = {
      {"first cell", 10, 20, 0, 1},
      {"third cell", 10, 22, 0, 3},
      {"the cell after the value", 10, 24, 0, 5},
      {"second line", 11, 21, 2, 4},
      {"past the value on its last line", 11, 21, 3, 5},
      {"left of the field", 10, 19, 0, 0},
      {"right of the field", 10, 25, 0, 0},
      {"row below", 11, 20, 0, 0},
  };
  for (const Case& c : cases) {
    con().QueueMouseRelease(c.row, c.col, 1);
    if (c.expected_pos != 0) con().QueueKey(kEnter);
    std::string value = "ABCD";
    std::int16_t pos = 2, key = 0;
    EditField(10, 20, c.width, &value, &pos, &key);
    if (c.expected_pos == 0) {
      EXPECT_EQ(key, -(c.col * 100 + c.row)) << c.what;
      EXPECT_EQ(pos, 2) << c.what;
    } else {
      EXPECT_EQ(key, kEnter) << c.what;
      EXPECT_EQ(pos, c.expected_pos) << c.what;
    }
  }
}

TEST_F(FieldEditorTest, ClicksOnTheTrianglesStepTheSelector) {
  SetChoiceList(kLangs);  // widest text 8: triangles at columns 19 and 28
  struct Case {
    const char* what;
    int row, col;
    const char* expected;
    bool ends;
  };
  const Case cases[] = {
      {"left triangle", 10, 19, "CAT", false}, {"right triangle", 10, 28, "CAT", false},
      {"on the text", 10, 23, "SPA", false},   {"beyond the triangle", 10, 29, "SPA", true},
      {"row above", 9, 23, "SPA", true},
  };
  for (const Case& c : cases) {
    con().QueueMouseRelease(c.row, c.col, 1);
    if (!c.ends) con().QueueKey(kEnter);
    std::string value = "SPA";
    std::int16_t pos = 1, key = 0;
    EditField(10, 20, 0, &value, &pos, &key);
    EXPECT_EQ(value, c.expected) << c.what;
    EXPECT_EQ(key, c.ends ? -(c.col * 100 + c.row) : kEnter) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Screen

TEST_F(FieldEditorTest, CursorShowsTheInsertToggleAndInsFlipsIt) {
  std::vector<int> sizes;
  std::vector<bool> visible;
  auto look = [&] {
    sizes.push_back(con().cursor_size());
    visible.push_back(con().cursor_visible());
  };
  AtEachWait({[&] { look(), con().QueueKey(keys::kIns); },
              [&] { look(), con().QueueKey(keys::kIns); },
              [&] { look(), con().QueueKey(kEnter); }});
  SetInsertToggle(true);
  SetCursorVisible(false);  // the program keeps the cursor hidden between edits
  std::string value = "AB";
  std::int16_t pos = 1, key = 0;
  EditField(10, 20, 0, &value, &pos, &key);
  EXPECT_EQ(sizes, (std::vector<int>{50, 100, 50}));
  EXPECT_EQ(visible, (std::vector<bool>{true, true, true}));
  EXPECT_TRUE(InsertToggle());
  EXPECT_FALSE(CursorVisible());

  // The toggle outlives the edit, also when flipped in a selector.
  SetChoiceList(kLangs);
  Edit("CAT", 1, {keys::kIns, kEnter});
  EXPECT_FALSE(InsertToggle());
}

TEST_F(FieldEditorTest, HiddenTextShowsTheMaskOnly) {
  SetExitKeys("h", "");
  SetInsertToggle(false);
  std::string shown;
  AtEachWait({[&] {
    shown = Cells(10, 20, 6);
    con().QueueKey(kEnter);
  }});
  std::string value = "     ";
  std::int16_t pos = 1, key = 0;
  con().QueueText("PW");
  EditField(10, 20, 0, &value, &pos, &key);
  EXPECT_EQ(shown, "XXXXX ");
  EXPECT_EQ(value, "PW   ");
  EXPECT_EQ(Cells(10, 20, 6), "XXXXX ");
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
  EXPECT_EQ(Screen().ColourStack, "");
}

TEST_F(FieldEditorTest, FieldIsDrawnInTheEditColour) {
  SetColour("n");
  Edit("ABC", 1, {kEnter});
  EXPECT_EQ(ReadCell(10, 20).attr, 0x70);
  EXPECT_EQ(ReadCell(10, 23).attr, 0x07);  // the cell after a one-line value is not drawn
  EXPECT_EQ(Screen().ColourMode, 0);
}

}  // namespace
}  // namespace kel
