#include "screen/screen_buffer.h"

#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "screen/screen_test_support.h"

namespace kel {
namespace {

using SetColourTest = ScreenTest;

TEST_F(SetColourTest, ModesFromCodesAndTheStack) {
  // Distinct colours per mode, so that a wrong mode shows in the attribute.
  const std::int16_t table[5][2] = {{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}};
  const std::uint8_t attr[5] = {0x0F, 0x07, 0x70, 0x71, 0x1E};
  struct Case {
    const char* code;
    std::int16_t mode_before;
    const char* stack_before;
    std::int16_t mode_after;
    const char* stack_after;
  };
  const Case cases[] = {
      {"h", 3, "", 0, ""},          {"n", 0, "", 1, ""},
      {"r", 0, "", 2, ""},          {"rh", 0, "", 2, ""},
      {"RN", 0, "", 3, ""},         {"u", 0, "", 4, ""},
      {"ur", 0, "", 4, ""},  // U wins over R
      {"x", 2, "", 0, ""},   // no letter: mode 0
      {"+r", 1, "", 2, "\x01"},     {"+rh", 4, "\x01", 2, "\x01\x04"},
      {"-", 2, "\x01", 1, ""},      {"-r", 2, "\x03", 3, ""},  // letters are not looked at with "-"
      {"-", 2, "", 0, ""},                                     // empty stack: mode 0
      {"+-", 3, "\x01", 3, "\x01"},                            // saved, then restored at once
  };
  for (const Case& c : cases) {
    ResetScreen();
    for (int m = 0; m < 5; ++m) {
      Session().ColourTable[m][0] = table[m][0];
      Session().ColourTable[m][1] = table[m][1];
    }
    Screen().ColourMode = c.mode_before;
    Screen().ColourStack = c.stack_before;
    SetColour(c.code);
    EXPECT_EQ(Screen().ColourMode, c.mode_after) << "code \"" << c.code << "\"";
    EXPECT_EQ(Screen().ColourStack, c.stack_after) << "code \"" << c.code << "\"";
    EXPECT_EQ(TextAttribute(), attr[c.mode_after]) << "code \"" << c.code << "\"";
  }
  Screen().ColourStack.clear();
}

TEST_F(SetColourTest, BlankCodesChangeNothing) {
  for (const char* code : {"", " ", "   "}) {
    Screen().ColourMode = 3;
    Screen().ColourStack = "\x02";
    SetTextAttribute(0x5A);
    SetColour(code);
    EXPECT_EQ(Screen().ColourMode, 3) << "code \"" << code << "\"";
    EXPECT_EQ(Screen().ColourStack, "\x02") << "code \"" << code << "\"";
    EXPECT_EQ(TextAttribute(), 0x5A) << "code \"" << code << "\"";
  }
  Screen().ColourStack.clear();
}

TEST_F(SetColourTest, SaveAndRestoreRoundTripsThroughNesting) {
  SetColour("n");
  SetColour("+r");
  SetColour("+u");
  EXPECT_EQ(Screen().ColourMode, 4);
  SetColour("-");
  EXPECT_EQ(Screen().ColourMode, 2);
  SetColour("-");
  EXPECT_EQ(Screen().ColourMode, 1);
  EXPECT_EQ(TextAttribute(), 0x07);
}

TEST_F(SetColourTest, ColoursOutsideTheRangeKeepTheirLowBits) {
  Session().ColourTable[0][0] = 20;  // a mistyped setting
  Session().ColourTable[0][1] = 99;
  SetColour("h");
  EXPECT_EQ(TextAttribute(), (20 & 15) | ((99 & 15) << 4));
}

using CellTest = ScreenTest;

TEST_F(CellTest, WriteTextWrapsAtRowEndAndStopsAtScreenEnd) {
  SetTextAttribute(0x1E);
  MoveCursor(3, 79);
  WriteText("ABCD");
  EXPECT_EQ(Row(3).substr(78), "AB");
  EXPECT_EQ(Row(4).substr(0, 3), "CD ");
  EXPECT_EQ(CursorRow(), 4);
  EXPECT_EQ(CursorCol(), 3);
  EXPECT_EQ(ReadCell(4, 1).attr, 0x1E);

  MoveCursor(25, 79);
  WriteText("XYZ");  // Z has no room
  EXPECT_EQ(Row(25).substr(78), "XY");
  EXPECT_EQ(Row(1).substr(0, 1), " ");
  EXPECT_EQ(CursorRow(), 25);
  EXPECT_EQ(CursorCol(), 80);
}

TEST_F(CellTest, OutsideTheScreenNothingIsWrittenOrMoved) {
  MoveCursor(5, 5);
  for (auto [r, c] : {std::pair{0, 1}, {26, 1}, {1, 0}, {1, 81}, {-3, -3}}) {
    MoveCursor(static_cast<std::int16_t>(r), static_cast<std::int16_t>(c));
    EXPECT_EQ(CursorRow(), 5) << r << "," << c;
    EXPECT_EQ(CursorCol(), 5) << r << "," << c;
    EXPECT_EQ(ReadCell(static_cast<std::int16_t>(r), static_cast<std::int16_t>(c)).ch, 0);
  }
  PutText(1, 78, "ABCDEF", 0x70);
  PutText(0, 1, "X", 0x70);
  PutText(2, -1, "XYZ", 0x70);
  EXPECT_EQ(Row(1).substr(77), "ABC");
  EXPECT_EQ(Row(2).substr(0, 2), "Z ");
}

TEST_F(CellTest, LowBytesAreCellsNotControls) {
  MoveCursor(1, 1);
  WriteText(std::string("\x01\r\n\x1b\x7f", 5));
  EXPECT_EQ(Row(1).substr(0, 5), std::string("\x01\r\n\x1b\x7f", 5));
  EXPECT_EQ(CursorCol(), 6);
  EXPECT_EQ(con().RowUtf8(1).substr(0, 15), "☺♪◙←⌂");
}

TEST_F(CellTest, ClearScreenUsesTheTextColourAndHomesTheCursor) {
  MoveCursor(10, 10);
  WriteText("junk");
  SetTextAttribute(0x17);
  ClearScreen();
  EXPECT_EQ(Row(10), std::string(80, ' '));
  EXPECT_EQ(Attrs(), std::string(2000, '\x17'));
  EXPECT_EQ(CursorRow(), 1);
  EXPECT_EQ(CursorCol(), 1);
}

TEST_F(CellTest, ScrollCellsMovesRowsAndFillsWithBlanks) {
  for (int r = 1; r <= 5; ++r) PutText(static_cast<std::int16_t>(r), 1, std::string(1, '0' + r), 7);
  ScrollCells(1, 1, 5, 1, 2, 0x70);
  EXPECT_EQ(Row(1)[0], '3');
  EXPECT_EQ(Row(3)[0], '5');
  EXPECT_EQ(Row(4)[0], ' ');
  EXPECT_EQ(ReadCell(5, 1).attr, 0x70);
  EXPECT_EQ(ReadCell(5, 2).attr, 0x07);  // outside the rectangle
  ScrollCells(1, 1, 5, 1, -1, 0x07);
  EXPECT_EQ(Row(1)[0], ' ');
  EXPECT_EQ(Row(2)[0], '3');
  ScrollCells(1, 1, 5, 1, 99, 0x07);
  for (int r = 1; r <= 5; ++r) EXPECT_EQ(Row(r)[0], ' ') << r;
}

TEST_F(CellTest, ConsolePrintBreaksLinesAndScrollsAtTheBottom) {
  MoveCursor(24, 1);
  ConsolePrintLine("first");
  ConsolePrintLine("second");  // on row 25: the screen scrolls once after it
  ConsolePrint("third\tX");
  EXPECT_EQ(Row(23).substr(0, 5), "first");
  EXPECT_EQ(Row(24).substr(0, 6), "second");
  EXPECT_EQ(Row(25).substr(0, 10), "third   X ");
  EXPECT_EQ(CursorRow(), 25);
  EXPECT_EQ(CursorCol(), 10);
  EXPECT_EQ(con().output(), "first\r\nsecond\r\nthird\tX");
}

TEST_F(CellTest, CursorStateReachesTheConsole) {
  SetCursorVisible(false);
  SetCursorSize(100);
  MoveCursor(7, 9);
  EXPECT_FALSE(con().cursor_visible());
  EXPECT_EQ(con().cursor_size(), 100);
  EXPECT_EQ(con().cursor_row(), 7);
  EXPECT_EQ(con().cursor_col(), 9);
  SetCursorSize(0);
  EXPECT_EQ(CursorSize(), 1);
  SetCursorSize(500);
  EXPECT_EQ(CursorSize(), 100);
}

TEST_F(CellTest, TheMemoryConsoleMirrorsTheModelAfterEveryChange) {
  SetColour("r");
  for (int i = 0; i < 30; ++i) {
    MoveCursor(static_cast<std::int16_t>(1 + i % 25), static_cast<std::int16_t>(1 + i * 7 % 80));
    WriteText("mirror");
    ScrollCells(3, 3, 20, 60, static_cast<std::int16_t>(i % 3 - 1), 0x1F);
    EXPECT_EQ(con().Text(), Screenful()) << "after step " << i;
  }
  SetColour("h");
}

// A console that, like a terminal, wants at most one refresh per 33 ms.
class SlowConsole : public MemoryConsole {
 public:
  int RefreshIntervalMillis() const override { return 33; }
};

TEST_F(CellTest, DrawingIsThrottledUntilTimePassesOrSomethingWaits) {
  FakeEnv env;
  ScopedEnv scoped(&env);
  auto owned = std::make_unique<SlowConsole>();
  SlowConsole& slow = *owned;
  UseConsole(std::move(owned));
  ResetScreen();
  env.Advance(1000);
  MoveCursor(1, 1);
  WriteText("A");  // the interval has passed: drawn at once
  EXPECT_EQ(slow.RowText(1)[0], 'A');
  WriteText("B");  // within 33 ms of the last refresh: held back
  EXPECT_EQ(slow.RowText(1)[1], ' ');
  env.Advance(40);
  WriteText("C");
  EXPECT_EQ(slow.RowText(1).substr(0, 3), "ABC");
  WriteText("D");
  EXPECT_EQ(slow.RowText(1)[3], ' ');
  RunWaitHooks();  // what a sleep or a key wait does first
  EXPECT_EQ(slow.RowText(1).substr(0, 4), "ABCD");
  EXPECT_EQ(slow.cursor_col(), 5);
  NewConsole();
}

TEST_F(CellTest, ClipboardAndInsertToggleGoThroughTheConsole) {
  EXPECT_TRUE(SetClipboard("C\x80pia"));
  std::string text;
  EXPECT_TRUE(GetClipboard(&text));
  EXPECT_EQ(text, "C\x80pia");
  EXPECT_EQ(con().clipboard(), "C\x80pia");
  EXPECT_FALSE(InsertToggle());
  SetInsertToggle(true);
  EXPECT_TRUE(InsertToggle());
}

}  // namespace
}  // namespace kel
