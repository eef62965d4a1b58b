#include "platform/console.h"

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/console_memory.h"
#include "platform/console_text.h"
#include "platform/system.h"

namespace kel {
namespace {

TEST(ConsoleTextTest, ColourBitsSwapFromBlueGreenRedToRedGreenBlue) {
  // The text screen's 0..15: black blue green cyan red magenta brown grey,
  // then the bright ones. Terminals: black red green yellow blue magenta
  // cyan white.
  const int expected[16] = {0, 4, 2, 6, 1, 5, 3, 7, 8, 12, 10, 14, 9, 13, 11, 15};
  for (int pc = 0; pc < 16; ++pc) {
    EXPECT_EQ(TerminalColour(pc), expected[pc]) << "colour " << pc;
  }
}

TEST(ConsoleTextTest, AttributesOnSixteenAndEightColourTerminals) {
  struct Case {
    std::uint8_t attr;
    int colours;
    bool linux_console;
    TerminalAttribute expected;
  };
  const Case cases[] = {
      {0x1E, 16, false, {11, 4, false, false}},  // yellow on blue
      {0x70, 16, false, {0, 7, false, false}},
      {0x4F, 8, false, {7, 1, true, false}},  // bright white: bold white
      {0x9E, 8, false, {3, 4, true, false}},  // bright background dropped
      {0x9E, 8, true, {3, 4, true, true}},    // ... or blinking on the Linux console
      {0x07, 8, false, {7, 0, false, false}},
  };
  for (const Case& c : cases) {
    TerminalAttribute t = MapAttribute(c.attr, c.colours, c.linux_console);
    EXPECT_EQ(t.foreground, c.expected.foreground) << std::hex << +c.attr;
    EXPECT_EQ(t.background, c.expected.background) << std::hex << +c.attr;
    EXPECT_EQ(t.bold, c.expected.bold) << std::hex << +c.attr;
    EXPECT_EQ(t.blink, c.expected.blink) << std::hex << +c.attr;
  }
}

TEST(ConsoleTextTest, GlyphsNeverControlCodes) {
  EXPECT_EQ(CellGlyph(0x00), U' ');
  EXPECT_EQ(CellGlyph(0x01), U'☺');
  EXPECT_EQ(CellGlyph(0x0D), U'♪');
  EXPECT_EQ(CellGlyph(0x1B), U'←');
  EXPECT_EQ(CellGlyph(0x1F), U'▼');
  EXPECT_EQ(CellGlyph(0x7F), U'⌂');
  EXPECT_EQ(CellGlyph('A'), U'A');
  EXPECT_EQ(CellGlyph(0xC4), U'─');
  EXPECT_EQ(CellGlyph(0xDB), U'█');
  for (int b = 0; b < 256; ++b) {
    char32_t g = CellGlyph(static_cast<std::uint8_t>(b));
    EXPECT_FALSE(g < 0x20 || (g >= 0x7F && g < 0xA0)) << "byte " << b;
  }
}

TEST(ConsoleTextTest, PlainLinesCarryNoTerminalControls) {
  EXPECT_EQ(PlainTextLine("Localitzaci\xA2 aplicacions KEL\r"), "Localització aplicacions KEL");
  EXPECT_EQ(PlainTextLine("a\tb"), "a\tb");
  EXPECT_EQ(PlainTextLine("\x1b[31m\x07"), "←[31m•");
}

TEST(ConsoleTextTest, Base64) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64("\xff\xfe"), "//4=");
}

TEST(MemoryConsoleTest, ScriptHelpersMakeTheClassicEvents) {
  MemoryConsole c;
  c.QueueKey(0x3B00, kShiftPressed);
  c.QueueKey(static_cast<std::int16_t>(0x8600));
  c.QueueText("a\r");
  c.QueueAltKeypad("19");
  InputEvent e;
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.scan, 0x3B);
  EXPECT_EQ(e.ch, 0);
  EXPECT_EQ(e.control, kShiftPressed);
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.scan, 0x86);
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.ch, 'a');
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.ch, 13);
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.scan, 0x4F);  // keypad 1 is End
  EXPECT_TRUE(e.keypad);
  EXPECT_EQ(e.control, kLeftAltPressed);
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.scan, 0x49);  // keypad 9 is PgUp
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.ch, 0);  // Alt released
  EXPECT_EQ(e.scan, 0);
  EXPECT_EQ(e.control, 0u);
  EXPECT_FALSE(c.PollInput(&e));
  EXPECT_EQ(c.WaitInput(1000), InputWait::kNever);
}

TEST(MemoryConsoleTest, MouseEventsWhileMouseInputIsOffAreDropped) {
  MemoryConsole c;
  c.QueueMouseRelease(3, 4, 1);
  c.QueueText("k");
  InputEvent e;
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.ch, 'k');
  c.SetMouseInput(true);
  c.QueueMouseRelease(3, 4, 2);
  ASSERT_TRUE(c.PollInput(&e));
  EXPECT_EQ(e.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(e.button, 2);
}

TEST(MemoryConsoleTest, SnapshotsOfWhatWasDrawn) {
  MemoryConsole c(3, 5);
  const Cell cells[] = {{'A', 0x1E}, {0xC4, 0x70}, {0x01, 0x07}};
  c.DrawCells(2, 4, cells, 3);  // the last one falls off the row
  EXPECT_EQ(c.RowText(2), std::string("   A\xC4"));
  EXPECT_EQ(c.RowUtf8(2), "   A─");
  EXPECT_EQ(c.AttrAt(2, 4), 0x1E);
  EXPECT_EQ(c.RowAttrs(2), std::string("\x07\x07\x07\x1e\x70"));
  EXPECT_EQ(c.Text(), "     \n   A\xC4\n     \n");
  EXPECT_EQ(c.CharAt(9, 9), 0);
}

}  // namespace
}  // namespace kel
