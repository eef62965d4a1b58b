#include "screen/message_box.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/screen_test_support.h"
#include "screen/windows.h"

namespace kel {
namespace {

TEST(WrapTextTest, Cases) {
  struct Case {
    std::string text;
    std::int16_t indent;
    std::int16_t width;
    char alignment;
    std::string expected;
  };
  const std::string word100(100, 'w');
  const Case cases[] = {
      // Blanks at the start of a later line are skipped.
      {"ONE  TWO", 0, 4, 'I', "ONE TWO "},
      {"AB", 0, 5, 'E', "AB   "},
      {"AB", 0, 5, 'L', "AB   "},
      {"AB", 0, 5, 'I', "AB   "},
      {"AB", 0, 5, 'i', "AB   "},
      {"AB", 0, 5, 'N', "AB---"},
      {"AB", 0, 5, 'D', "   AB"},
      {"AB", 0, 5, 'R', "   AB"},
      {"AB", 0, 5, 'C', " AB  "},
      {"AB", 0, 5, 'c', " AB  "},
      {"ABC", 0, 6, 'C', " ABC  "},
      {"AB", 0, 5, 'X', "AB"},
      {"AB", 0, 5, ' ', "AB"},
      {"", 0, 5, 'I', ""},
      {"  AB", 0, 5, 'I', "  AB "},  // the first line keeps its blanks
      // The line ends before the blank in front of a word that does not fit.
      {"one two three", 0, 8, 'I', "one two three   "},
      {"one two three", 0, 8, 'R', " one two   three"},
      // Justified: blanks spread from the left; the last line as it is.
      {"aa b ccc", 0, 6, 'A', "aa   bccc"},
      {"one two three", 0, 8, 'B', "one  twothree"},
      {"a b c d eeeeeeeee", 0, 10, 'A', "a  b  c  deeeeeeeee"},
      {"a b c d eeeeeeeeee", 0, 11, 'A', "a   b  c  deeeeeeeeee"},
      {"abcdefgh xyz", 0, 6, 'A', "abcdefgh xyz"},
      // A word longer than the line is cut.
      {word100, 0, 76, 'I', std::string(76, 'w') + std::string(24, 'w') + std::string(52, ' ')},
      {"abcdefgh", 0, 3, 'I', "abcdefgh "},
      // Indents.
      {"aaaa bbbb cccc dddd eeee ffff", -3, 12, 'I', "aaaa bbbb      cccc dddd   eeee ffff"},
      {"abc def", 2, 6, 'I', "  abc def   "},
      {"abc def", 2, 6, 'R', "   abc   def"},
      // An indent that leaves no room still makes progress.
      {"abc", 5, 4, 'I', "     abc  "},
      // Control characters take no width.
      {"AB\x01"
       "CD EF",
       0, 4, 'I',
       "AB\x01"
       "CDEF  "},
      {"ABCD\x02 EF", 0, 4, 'I',
       "ABCD\x02"
       "EF  "},
      {"AB \x03"
       "CD",
       0, 3, 'I',
       "AB \x03"
       "CD "},
      {"AB\x04"
       "CDEF",
       0, 5, 'I',
       "AB   \x04"
       "CDEF "},
      {"\r\n", 0, 4, 'I', "\r\n    "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WrapText(c.text, c.indent, c.width, c.alignment), c.expected)
        << "text \"" << c.text << "\" indent " << c.indent << " width " << c.width << " alignment '"
        << c.alignment << "'";
  }
}

class MessageBoxTest : public ScreenTest {
 protected:
  struct Box {
    int top, left, bottom, right;
  };
  // The frame found on the screen: the single-line corners.
  static Box FindBox() {
    Box b{0, 0, 0, 0};
    for (int r = 1; r <= 25 && b.top == 0; ++r) {
      std::string row = Row(r);
      std::size_t l = row.find('\xDA');
      if (l != std::string::npos) {
        b.top = r;
        b.left = static_cast<int>(l) + 1;
        b.right = static_cast<int>(row.find('\xBF')) + 1;
      }
    }
    for (int r = b.top; r <= 25; ++r) {
      if (b.top != 0 && Row(r)[static_cast<std::size_t>(b.left - 1)] == '\xC0') b.bottom = r;
    }
    return b;
  }
};

TEST_F(MessageBoxTest, Geometry) {
  struct Case {
    std::int16_t row;
    std::string text;
    Box box;
  };
  const Case cases[] = {
      {12, "ABC", {9, 37, 11, 43}},
      {12, "S'HA CANVIAT L'IDIOMA PER DEFECTE A SPA", {9, 19, 11, 61}},
      {12, std::string(76, 'x'), {9, 1, 11, 80}},
      {12, std::string(100, 'x'), {9, 1, 12, 80}},  // two lines
      {12, "A", {9, 38, 11, 42}},
      {12, "AB", {9, 38, 11, 43}},
      {24, "FITXER BLOQUEJAT. ESPEREU UN MOMENT.", {21, 21, 23, 60}},
      {1, "ABC", {1, 37, 3, 43}},  // raised to row 1
      {25, std::string(200, 'y'), {21, 1, 25, 80}},
      {30, "ABC", {23, 37, 25, 43}},  // moved up to end on row 25
      {-5, "ABC", {1, 37, 3, 43}},
  };
  for (const Case& c : cases) {
    NewConsole();
    std::string text = c.text;
    MessageBox(c.row, &text);
    Box b = FindBox();
    const std::string what = "row " + std::to_string(c.row) + " text " + c.text.substr(0, 20);
    EXPECT_EQ(b.top, c.box.top) << what;
    EXPECT_EQ(b.left, c.box.left) << what;
    EXPECT_EQ(b.bottom, c.box.bottom) << what;
    EXPECT_EQ(b.right, c.box.right) << what;
    EXPECT_EQ(Screen().WindowDepth, 1) << what;
    EXPECT_EQ(Screen().WindowTop, c.box.top) << what;
    EXPECT_EQ(text.size() % 76, 0u) << what;
    EXPECT_EQ(text.size() / 76, static_cast<std::size_t>(c.box.bottom - c.box.top - 1)) << what;
    WinPop();
  }
}

TEST_F(MessageBoxTest, TextColoursAndTheCallersMode) {
  SetColour("n");
  std::string text = "ABC";
  MessageBox(12, &text);
  EXPECT_EQ(Row(10).substr(36, 7), "\xB3 ABC \xB3");
  EXPECT_EQ(ScreenRowAttrs(10).substr(36, 7), std::string(7, '\x70'));
  EXPECT_EQ(ReadCell(10, 36).attr, 0x07);  // outside the box
  EXPECT_EQ(Screen().ColourMode, 1);
  EXPECT_EQ(Screen().ColourStack, "");
  EXPECT_EQ(text, "ABC" + std::string(73, ' '));
  WinPop();
}

TEST_F(MessageBoxTest, LinesBreakAtWordsAndKeepTheirOrder) {
  const std::string first =
      "NO ES POT ACCEDIR AL FITXER C:\\KEL\\DADES\\HCONCEPT.DAT (12) PERQUE NO HI ES";
  ASSERT_EQ(first.size(), 74u);  // "OBERT" would reach column 79 of the line
  std::string text = first + " OBERT O ESTA BLOQUEJAT";
  MessageBox(12, &text);
  EXPECT_EQ(FindBox().left, 2);
  EXPECT_EQ(FindBox().right, 79);
  EXPECT_EQ(Row(10).substr(1, 78), "\xB3 " + first + " \xB3");
  EXPECT_EQ(Row(11).substr(1, 25), "\xB3 OBERT O ESTA BLOQUEJAT ");
  EXPECT_EQ(text.substr(76, 22), "OBERT O ESTA BLOQUEJAT");
  WinPop();
}

// A reason under a message: each part after a line feed starts on a line of
// its own in the box and is a line of its own in the log.
TEST_F(MessageBoxTest, ALineFeedStartsTheNextPartOnALineOfItsOwn) {
  const std::string message = "NO ES POT ACCEDIR AL FITXER /srv/kel/menu (2)";
  const std::string reason(80, 'r');  // two lines of its own
  std::string text = message + "\n" + reason + "\n\nlast\n";
  MessageBox(12, &text);
  ASSERT_EQ(text.size(), 5u * 76);
  EXPECT_EQ(text.substr(0, 76), message + std::string(76 - message.size(), ' '));
  EXPECT_EQ(text.substr(76, 76), std::string(76, 'r'));
  EXPECT_EQ(text.substr(152, 76), "rrrr" + std::string(72, ' '));
  EXPECT_EQ(text.substr(228, 76), std::string(76, ' '));
  EXPECT_EQ(text.substr(304, 4), "last");
  const Box b = FindBox();
  EXPECT_EQ(b.bottom - b.top - 1, 5);
  EXPECT_EQ(Row(b.top + 1).substr(static_cast<std::size_t>(b.left + 1), message.size()), message);
  EXPECT_EQ(Row(b.top + 2).substr(static_cast<std::size_t>(b.left + 1), 4), "rrrr");
  const std::vector<std::string> log = {message, reason, "", "last"};
  EXPECT_EQ(con().transcript(), log);
  WinPop();
}

TEST_F(MessageBoxTest, AnEmptyTextStillOpensTheWindowItsCallerCloses) {
  PutText(10, 40, "under", 0x1F);
  const std::string before = Screenful();
  std::string text;
  MessageBox(12, &text);
  EXPECT_EQ(Screen().WindowDepth, 1);
  EXPECT_EQ(FindBox().top, 9);
  EXPECT_EQ(FindBox().left, 39);
  EXPECT_EQ(FindBox().right, 42);
  EXPECT_EQ(text, std::string(76, ' '));
  WinPop();
  EXPECT_EQ(Screenful(), before);
}

TEST_F(MessageBoxTest, ATextOfMoreLinesThanTheScreenIsCutToFit) {
  WinPush(5, 5, 10, 50);  // the caller's own window, which must survive
  DrawFrame(2);
  const std::string before = Screenful();
  std::string text;
  for (int i = 0; i < 30; ++i) text += std::string(70, static_cast<char>('a' + i % 26)) + " ";
  MessageBox(12, &text);
  EXPECT_EQ(Screen().WindowDepth, 2);
  EXPECT_EQ(text.size(), 23u * 76);
  Box b = FindBox();
  EXPECT_EQ(b.top, 1);
  EXPECT_EQ(b.bottom, 25);
  EXPECT_EQ(FindBox().left, 4);  // sized by the 70-letter words
  EXPECT_EQ(Row(2).substr(5, 3), "aaa");
  EXPECT_EQ(Row(24).substr(5, 3), "www");
  WinPop();
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Screen().WindowDepth, 1);
  WinPop();
}

TEST_F(MessageBoxTest, TwentyThreeLinesFitExactly) {
  std::string text;
  for (int i = 0; i < 23; ++i) text += std::string(76, 'k');
  MessageBox(12, &text);
  EXPECT_EQ(text.size(), 23u * 76);
  EXPECT_EQ(FindBox().top, 1);
  EXPECT_EQ(FindBox().bottom, 25);
  WinPop();
}

TEST_F(MessageBoxTest, AcknowledgeDiscardsTypedAheadKeysAndWaitsForANewOne) {
  PutText(10, 30, "behind the box", 0x1E);
  const std::string before = Screenful();
  con().QueueText("typed while the work ran");
  bool box_was_shown = false;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    box_was_shown = c.RowText(10).find("S'HA CANVIAT") != std::string::npos;
    c.QueueText("\r");
    return true;
  });
  EXPECT_EQ(AcknowledgeMessage("S'HA CANVIAT L'IDIOMA PER DEFECTE A CAT"), keys::kEnter);
  EXPECT_TRUE(box_was_shown);
  EXPECT_EQ(con().beeps(), 1);
  EXPECT_EQ(con().discards(), 1);
  EXPECT_EQ(Screenful(), before);
  ASSERT_EQ(con().transcript().size(), 1u);
  EXPECT_EQ(con().transcript()[0], "S'HA CANVIAT L'IDIOMA PER DEFECTE A CAT");
}

// An operator who presses a key the moment the box can be seen: the key
// arrives with the first drawing that shows the box.
class QuickOperatorConsole : public MemoryConsole {
 public:
  void Flush() override {
    MemoryConsole::Flush();
    if (!pressed_ && RowText(10).find("S'HA CANVIAT") != std::string::npos) {
      pressed_ = true;
      QueueText("k");
    }
  }

 private:
  bool pressed_ = false;
};

TEST_F(MessageBoxTest, AKeyPressedAsSoonAsTheBoxShowsCounts) {
  auto owned = std::make_unique<QuickOperatorConsole>();
  QuickOperatorConsole& console = *owned;
  UseConsole(std::move(owned));
  ResetScreen();
  console.QueueText("typed while the work ran");
  console.SetExhaustedHandler([](MemoryConsole& c) {
    c.QueueText("\x1b");  // the key was lost: the box would wait for another
    return true;
  });
  EXPECT_EQ(AcknowledgeMessage("S'HA CANVIAT L'IDIOMA PER DEFECTE A SPA"), 'k');
  EXPECT_EQ(console.exhausted_waits(), 0);
  NewConsole();
}

TEST_F(MessageBoxTest, ScopedMessageBoxClosesItself) {
  const std::string before = Screenful();
  {
    ScopedMessageBox notice(24, "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    EXPECT_EQ(FindBox().top, 21);
  }
  EXPECT_EQ(Screenful(), before);
}

}  // namespace
}  // namespace kel
