#include "platform/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/console_clipboard.h"
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

TEST(ConsoleTextTest, Base64AndOsc52) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64("\xff\xfe"), "//4=");
  EXPECT_EQ(Osc52Sequence("hi"), "\x1b]52;c;aGk=\x07");
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

class PlainConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kel-plain-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
    out_ = ::open((dir_ + "/out").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    err_ = ::open((dir_ + "/err").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(out_, 0);
    ASSERT_GE(err_, 0);
  }
  void TearDown() override {
    ::close(out_);
    ::close(err_);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string Read(const char* name) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir_ + "/" + name, &bytes));
    return bytes;
  }
  std::string dir_;
  int out_ = -1;
  int err_ = -1;
};

TEST_F(PlainConsoleTest, OutputAndMessagesBecomeTextLines) {
  {
    auto c = OpenPlainConsole(out_, err_);
    EXPECT_EQ(c->Kind(), ConsoleKind::kPlain);
    c->WriteOutput("\r\nTAVIRENO versi\xA2 1.01\r\n");
    c->WriteOutput("partial ");
    c->WriteOutput("line");
    c->Transcript("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    c->WriteOutput("tail");
    const Cell cell{'X', 0x70};
    c->DrawCells(1, 1, &cell, 1);  // the screen itself never reaches the log
    c->Beep();
  }
  EXPECT_EQ(Read("out"),
            "\nTAVIRENO versió 1.01\npartial line\nFITXER BLOQUEJAT. ESPEREU UN MOMENT.\ntail\n");
  EXPECT_EQ(Read("err"), "");
}

TEST_F(PlainConsoleTest, AWaitForAKeyEndsTheRunWithItsExitCode) {
  auto c = OpenPlainConsole(out_, err_);
  EXPECT_EQ(c->WaitInput(10), InputWait::kNever);
  InputEvent e;
  EXPECT_FALSE(c->PollInput(&e));
  EXPECT_EQ(c->MouseButtons(), 0);
  EXPECT_EXIT(c->OnInputExhausted(), ::testing::ExitedWithCode(kExitNoKeyboard), "");
  EXPECT_NE(Read("out").find("standard output is not a terminal"), std::string::npos);
  EXPECT_NE(Read("err").find("exit code 66"), std::string::npos);
}

TEST_F(PlainConsoleTest, TheStopMessageIsWrittenOnceWhenBothGoToOneFile) {
  auto c = OpenPlainConsole(out_, out_);
  EXPECT_EXIT(c->OnInputExhausted(), ::testing::ExitedWithCode(kExitNoKeyboard), "");
  std::string out = Read("out");
  EXPECT_EQ(out.find("exit code"), out.rfind("exit code")) << out;
}

ClipboardTools Tools(std::initializer_list<const char*> copy,
                     std::initializer_list<const char*> paste) {
  ClipboardTools t;
  int i = 0;
  for (const char* a : copy) t.copy[i++] = a;
  i = 0;
  for (const char* a : paste) t.paste[i++] = a;
  return t;
}

// A clipboard tool that hangs (a display that does not answer) must not
// hold the program: writing and reading both give up within the limit.
TEST(ExternalClipboardTest, ToolsAreWaitedForWithinALimit) {
  const std::string big(1 << 20, 'x');  // more than a pipe holds
  struct WriteCase {
    const char* what;
    ClipboardTools tools;
    bool ok;
  };
  const WriteCase writes[] = {
      {"a tool that takes the text", Tools({"cat"}, {}), true},
      {"a tool that fails", Tools({"false"}, {}), false},
      {"a tool that never reads", Tools({"sleep", "30"}, {}), false},
      {"a tool that reads, then hangs", Tools({"sh", "-c", "cat >/dev/null; exec sleep 30"}, {}),
       false},
      {"no tool", Tools({"/nonexistent/wl-copy"}, {}), false},
  };
  for (const WriteCase& c : writes) {
    EXPECT_EQ(ExternalClipboardWrite(c.tools, big, 300), c.ok) << c.what;
  }
  struct ReadCase {
    const char* what;
    ClipboardTools tools;
    bool ok;
    std::string text;
  };
  const ReadCase reads[] = {
      {"a tool that answers", Tools({"x"}, {"printf", "ab\xc3\xa7"}), true, "ab\xc3\xa7"},
      {"a tool that fails", Tools({"x"}, {"sh", "-c", "printf ab; exit 1"}), false, ""},
      {"a tool that hangs with its output open",
       Tools({"x"}, {"sh", "-c", "printf ab; exec sleep 30"}), false, ""},
      {"a tool that closes its output and hangs",
       Tools({"x"}, {"sh", "-c", "printf ab; exec sleep 30 >/dev/null"}), false, ""},
  };
  for (const ReadCase& c : reads) {
    std::string text = "unchanged";
    EXPECT_EQ(ExternalClipboardRead(c.tools, &text, 300), c.ok) << c.what;
    EXPECT_EQ(text, c.ok ? c.text : "unchanged") << c.what;
  }
}

TEST(CursesConsoleTest, RefusesWithoutATerminal) {
  // The test runs with its output redirected (ctest), or the check below
  // is meaningless; either way a refusal must say why.
  if (::isatty(0) == 1 && ::isatty(1) == 1) GTEST_SKIP() << "running on a terminal";
  ConsoleStatus status = ConsoleStatus::kOk;
  std::string message;
  EXPECT_EQ(OpenTerminalConsole(&status, &message), nullptr);
  EXPECT_EQ(status, ConsoleStatus::kNotATerminal);
  EXPECT_NE(message.find("terminal"), std::string::npos);
  EXPECT_EQ(DetectConsoleKind(), ConsoleKind::kPlain);
}

}  // namespace
}  // namespace kel
