#include "screen/windows.h"

#include <functional>

#include "platform/system.h"
#include "screen/screen_test_support.h"
#include "screen/window_stack_file.h"

namespace kel {
namespace {

class WindowsTest : public ScreenTest {
 protected:
  // Fills the screen with a pattern of characters and attributes that no
  // two neighbouring cells share.
  static void Paint() {
    for (int r = 1; r <= 25; ++r) {
      for (int c = 1; c <= 80; ++c) {
        PutText(static_cast<std::int16_t>(r), static_cast<std::int16_t>(c),
                std::string(1, static_cast<char>('A' + (r * 7 + c) % 26)),
                static_cast<std::uint8_t>((r * 31 + c * 17) & 0xFF));
      }
    }
  }
  std::string FileBytes() {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(StackFile(), &bytes));
    return bytes;
  }
  void WriteFileBytes(const std::string& bytes) {
    File f;
    ASSERT_EQ(OpenFile(StackFile(), FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }
  static std::int32_t Pointer(const std::string& bytes) {
    return static_cast<std::int32_t>(
        static_cast<std::uint8_t>(bytes[0]) | static_cast<std::uint8_t>(bytes[1]) << 8 |
        static_cast<std::uint8_t>(bytes[2]) << 16 | static_cast<std::uint8_t>(bytes[3]) << 24);
  }
};

TEST_F(WindowsTest, FullScreenPushWritesThe4025ByteRecord) {
  Paint();
  MoveCursor(7, 12);
  WinPush(1, 1, 25, 80);
  std::string bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 4029u);
  EXPECT_EQ(Pointer(bytes), 4030);
  EXPECT_EQ(bytes.substr(4, 20), "07120000000001012580");
  EXPECT_EQ(bytes.substr(4024), "04025");
  // Cells row by row, character then attribute.
  EXPECT_EQ(bytes[24], Row(1)[0]);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[25]), ReadCell(1, 1).attr);
  EXPECT_EQ(bytes[24 + 2 * 80], Row(2)[0]);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[24 + 2 * 1999 + 1]), ReadCell(25, 80).attr);
  EXPECT_EQ(Screen().WindowDepth, 1);
  EXPECT_EQ(Screen().WindowBottom, 25);
  WinPop();
  EXPECT_FALSE(FileExists(StackFile()));
}

TEST_F(WindowsTest, NestedPushesAndPopsRestoreTheScreenExactly) {
  Paint();
  SetTextAttribute(0x4E);
  MoveCursor(3, 4);
  const std::string text0 = Screenful(), attrs0 = Attrs();
  WinPush(5, 10, 15, 60);
  SetColour("r");
  DrawFrame(2);
  WinLocate(1, 1);
  WriteText("inner one");
  const std::string text1 = Screenful(), attrs1 = Attrs();
  WinPush(8, 20, 20, 79);
  DrawFrame(1);
  EXPECT_EQ(Screen().WindowDepth, 2);
  // The second record follows the first in the file.
  const std::int32_t first_end = 5 + 20 + 2 * 11 * 51 + 5;
  EXPECT_EQ(Pointer(FileBytes()), first_end + 20 + 2 * 13 * 60 + 5);

  WinPop();
  EXPECT_EQ(Screenful(), text1);
  EXPECT_EQ(Attrs(), attrs1);
  EXPECT_EQ(Screen().WindowDepth, 1);
  EXPECT_EQ(Screen().WindowTop, 5);
  EXPECT_EQ(Screen().WindowRight, 60);
  EXPECT_EQ(Pointer(FileBytes()), first_end);

  WinPop();
  EXPECT_EQ(Screenful(), text0);
  EXPECT_EQ(Attrs(), attrs0);
  EXPECT_EQ(Screen().WindowDepth, 0);
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(CursorCol(), 4);
  EXPECT_FALSE(FileExists(StackFile()));
  EXPECT_EQ(con().Text(), Screenful());
  SetColour("h");
}

TEST_F(WindowsTest, PopLeavesTheLastCellsColourAndKeepsTheMode) {
  PutText(10, 10, "ab", 0x1C);
  PutText(10, 11, "b", 0x2D);
  WinPush(10, 10, 10, 11);
  SetColour("u");
  FillRect(10, 10, 10, 11, 'x', 0x70);
  WinPop();
  EXPECT_EQ(Row(10).substr(9, 2), "ab");
  EXPECT_EQ(ReadCell(10, 10).attr, 0x1C);
  EXPECT_EQ(TextAttribute(), 0x2D);
  EXPECT_EQ(Screen().ColourMode, 4);
}

TEST_F(WindowsTest, RectanglesOutsideTheScreenAreRefused) {
  const std::int16_t cases[][4] = {{0, 1, 5, 5},  {1, 0, 5, 5},   {1, 1, 26, 80}, {1, 1, 25, 81},
                                   {1, 1, 0, 5},  {26, 1, 26, 5}, {6, 1, 5, 80},  {1, 9, 5, 8},
                                   {-1, 1, 5, 5}, {1, 1, 5, -80}};
  Paint();
  const std::string before = Screenful();
  for (const auto& c : cases) {
    WinPush(c[0], c[1], c[2], c[3]);
    EXPECT_EQ(Screen().WindowDepth, 0) << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
    EXPECT_FALSE(FileExists(StackFile())) << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
    EXPECT_EQ(Screenful(), before);
  }
}

TEST_F(WindowsTest, ARefusedPushInsideAWindowMakesItsPopCloseTheOuterWindow) {
  Paint();
  const std::string before = Screenful();
  WinPush(2, 2, 6, 40);
  DrawFrame(1);
  WinPush(20, 70, 30, 90);  // refused
  EXPECT_EQ(Screen().WindowDepth, 1);
  WinPop();  // the refused window's pop closes the outer one
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Screen().WindowDepth, 0);
  WinPop();  // the outer window's own pop: nothing left to restore
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Screen().WindowDepth, 0);
}

TEST_F(WindowsTest, LocateIsRelativeToTheWindowFrame) {
  WinLocate(3, 4);
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(CursorCol(), 4);
  EXPECT_EQ(WinFirstRow(), 1);
  EXPECT_EQ(WinFirstCol(), 1);
  EXPECT_EQ(WinLastCol(), 80);
  WinPush(23, 1, 25, 80);
  WinLocate(1, 2);
  EXPECT_EQ(CursorRow(), 24);
  EXPECT_EQ(CursorCol(), 3);
  EXPECT_EQ(WinFirstRow(), 24);
  EXPECT_EQ(WinFirstCol(), 2);
  EXPECT_EQ(WinLastCol(), 79);
  WinLocate(5, 1);  // below the screen: the cursor stays
  EXPECT_EQ(CursorRow(), 24);
  WinPop();
}

TEST_F(WindowsTest, FramesInEachStyle) {
  DrawFrame(1);  // no window: nothing drawn
  std::string blank;
  for (int r = 0; r < 25; ++r) blank += std::string(80, ' ') + "\n";
  EXPECT_EQ(Screenful(), blank);
  struct Case {
    std::int16_t style;
    const char* top;
    const char* middle;
    const char* bottom;
  };
  const Case cases[] = {
      {1, "\xDA\xC4\xC4\xC4\xBF", "\xB3   \xB3", "\xC0\xC4\xC4\xC4\xD9"},
      {2, "\xC9\xCD\xCD\xCD\xBB", "\xBA   \xBA", "\xC8\xCD\xCD\xCD\xBC"},
      {0, "     ", "     ", "     "},
      {7, "     ", "     ", "     "},
  };
  for (const Case& c : cases) {
    FillRect(4, 9, 8, 15, 'x', 0x07);
    SetTextAttribute(0x70);
    WinPush(5, 10, 7, 14);
    DrawFrame(c.style);
    EXPECT_EQ(Row(5).substr(9, 5), c.top) << "style " << c.style;
    EXPECT_EQ(Row(6).substr(9, 5), c.middle) << "style " << c.style;
    EXPECT_EQ(Row(7).substr(9, 5), c.bottom) << "style " << c.style;
    EXPECT_EQ(Row(6).substr(8, 7), "x" + std::string(Row(6).substr(9, 5)) + "x");
    EXPECT_EQ(ReadCell(6, 12).attr, 0x70);
    EXPECT_EQ(ReadCell(4, 12).ch, 'x');
    WinPop();
  }
}

TEST_F(WindowsTest, ScrollRectAddressesTheInsideFromTheFrameCorner) {
  for (int r = 1; r <= 6; ++r) {
    PutText(static_cast<std::int16_t>(r), 1, std::string(10, static_cast<char>('0' + r)), 7);
  }
  SetTextAttribute(0x1F);
  ScrollRect(1, 1, 4, 7, 1);  // rows 2..5, columns 2..8, up by one
  EXPECT_EQ(Row(1).substr(0, 10), "1111111111");
  EXPECT_EQ(Row(2).substr(0, 10), "2333333322");
  EXPECT_EQ(Row(4).substr(0, 10), "4555555544");
  EXPECT_EQ(Row(5).substr(0, 10), "5       55");
  EXPECT_EQ(ReadCell(5, 2).attr, 0x1F);
  ScrollRect(1, 1, 4, 7, -2);
  EXPECT_EQ(Row(2).substr(0, 10), "2       22");
  EXPECT_EQ(Row(4).substr(0, 10), "4333333344");
}

TEST_F(WindowsTest, IsAllChar) {
  EXPECT_TRUE(IsAllChar("", 32));
  EXPECT_TRUE(IsAllChar("   ", 32));
  EXPECT_FALSE(IsAllChar("  x", 32));
  EXPECT_TRUE(IsAllChar("\xC4\xC4", 196));
  EXPECT_FALSE(IsAllChar("\xC4", -60));  // codes are characters, not signed bytes
}

TEST_F(WindowsTest, DamagedStackFileRestoresNothingAndEmptiesTheStack) {
  using Damage = std::function<void(std::string*)>;
  struct Case {
    const char* what;
    Damage damage;
  };
  const Case cases[] = {
      {"cut inside the record", [](std::string* b) { b->resize(b->size() - 30); }},
      {"cut to two bytes", [](std::string* b) { b->resize(2); }},
      {"empty file", [](std::string* b) { b->clear(); }},
      {"pointer past the end", [](std::string* b) { (*b)[1] = 0x7F; }},
      {"pointer negative", [](std::string* b) { (*b)[3] = '\x80'; }},
      {"pointer below the first record", [](std::string* b) { (*b)[0] = 9, (*b)[1] = 0; }},
      {"length not digits", [](std::string* b) { (*b)[b->size() - 3] = 'x'; }},
      {"length too long", [](std::string* b) { b->replace(b->size() - 5, 5, "99999"); }},
      {"length too short", [](std::string* b) { b->replace(b->size() - 5, 5, "00010"); }},
      {"field not digits", [](std::string* b) { (*b)[4 + 13] = ' '; }},
      {"rectangle below the screen", [](std::string* b) { b->replace(4 + 16, 2, "30"); }},
      {"rectangle beyond column 80", [](std::string* b) { b->replace(4 + 18, 2, "95"); }},
      {"rectangle upside down", [](std::string* b) { b->replace(4 + 12, 2, "24"); }},
      {"length disagrees with the rectangle", [](std::string* b) { b->replace(4 + 18, 2, "19"); }},
      {"missing file", nullptr},
  };
  for (const Case& c : cases) {
    NewConsole();
    Paint();
    WinPush(3, 5, 12, 20);
    FillRect(1, 1, 25, 80, '#', 0x4F);
    const std::string before = Screenful();
    if (c.damage) {
      std::string bytes = FileBytes();
      c.damage(&bytes);
      WriteFileBytes(bytes);
    } else {
      DeleteFile(StackFile());
    }
    WinPop();
    EXPECT_EQ(Screenful(), before) << c.what;
    EXPECT_EQ(Screen().WindowDepth, 0) << c.what;
    EXPECT_EQ(Screen().WindowTop, 0) << c.what;
    EXPECT_FALSE(FileExists(StackFile())) << c.what;
    // And the stack works again afterwards.
    WinPush(2, 2, 4, 4);
    EXPECT_EQ(Screen().WindowDepth, 1) << c.what;
    WinPop();
    EXPECT_EQ(Screenful(), before) << c.what;
  }
}

// A calling program of the family left one window of its own on the stack
// (a 1 x 1 rectangle: 27 bytes, pointer 32). This program's windows go
// after it and come off again; the caller's record, its pointer and the
// file survive, also an unmatched pop, so that the caller's own pop still
// restores its screen.
TEST_F(WindowsTest, ACallingProgramsStackSurvivesThisProgramsWindows) {
  std::string caller;
  WindowRecord r;
  r.cursor_row = 3, r.cursor_col = 4, r.top = 2, r.left = 2, r.bottom = 2, r.right = 2;
  r.cells = std::string("Q\x1E", 2);
  ASSERT_TRUE(EncodeWindowRecord(r, &caller));
  caller = std::string("\x20\0\0\0", 4) + caller;
  ASSERT_EQ(caller.size(), 31u);
  Paint();
  const std::string before = Screenful();
  WriteFileBytes(caller);

  WinPush(1, 1, 25, 80);
  EXPECT_EQ(Pointer(FileBytes()), 32 + 4025);
  EXPECT_EQ(FileBytes().substr(0, 31).substr(4), caller.substr(4));
  FillRect(1, 1, 25, 80, '.', 0x07);
  WinPush(5, 5, 10, 10);
  WinPop();
  WinPop();
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Screen().WindowDepth, 0);
  ASSERT_TRUE(FileExists(StackFile()));
  EXPECT_EQ(Pointer(FileBytes()), 32);
  EXPECT_EQ(FileBytes().substr(4, 27), caller.substr(4));
  WinPop();  // unmatched: nothing of ours to pop, the caller's stays
  EXPECT_EQ(Screenful(), before);
  ASSERT_TRUE(FileExists(StackFile()));
  EXPECT_EQ(Pointer(FileBytes()), 32);

  // The caller's pop, as this library would make it: its cell comes back
  // and the file goes with the pointer below 6.
  Screen().WindowDepth = 1;
  WinPop();
  EXPECT_EQ(ReadCell(2, 2).ch, 'Q');
  EXPECT_EQ(ReadCell(2, 2).attr, 0x1E);
  EXPECT_FALSE(FileExists(StackFile()));
}

// A file whose pointer or lengths do not add up is taken as empty: the
// first window goes to position 5 and the file goes with the last pop.
TEST_F(WindowsTest, ADamagedFileIsTakenAsAnEmptyStack) {
  const std::string damaged[] = {
      std::string("\x20\0\0\0", 4) + std::string(27, '7'),            // length 77777 at the end
      std::string("\x40\0\0\0", 4) + std::string(27, '0'),            // pointer past the end
      std::string("\x20\0\0\0", 4) + std::string(22, '0') + "00020",  // a length too small
      std::string("\x04\0\0\0", 4),                                   // pointer below 5
  };
  for (const std::string& bytes : damaged) {
    NewConsole();
    Paint();
    const std::string before = Screenful();
    WriteFileBytes(bytes);
    WinPush(1, 1, 25, 80);
    EXPECT_EQ(Pointer(FileBytes()), 4030) << Pointer(bytes);
    FillRect(1, 1, 25, 80, '.', 0x07);
    WinPop();
    EXPECT_EQ(Screenful(), before) << Pointer(bytes);
    EXPECT_FALSE(FileExists(StackFile())) << Pointer(bytes);
  }
}

TEST_F(WindowsTest, WithoutAWritableTemporaryDirectoryWindowsStillRestore) {
  Session().TempDir = dir_ + "\\missing\\";
  Paint();
  const std::string before = Screenful();
  WinPush(4, 4, 20, 70);
  DrawFrame(2);
  WinPush(6, 6, 8, 8);
  DrawFrame(1);
  WinPop();
  WinPop();
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Screen().WindowDepth, 0);
  EXPECT_FALSE(FileExists(StackFile()));
}

TEST_F(WindowsTest, WindowRecordCodecLimits) {
  WindowRecord r;
  r.top = r.left = 1;
  r.bottom = 1;
  r.right = 2;
  r.cells =
      "a\x07"
      "b\x70";
  std::string bytes;
  ASSERT_TRUE(EncodeWindowRecord(r, &bytes));
  EXPECT_EQ(bytes, std::string("00000000000001010102a\x07"
                               "b\x70"
                               "00029"));
  WindowRecord back;
  ASSERT_TRUE(DecodeWindowRecord(bytes, 25, 80, &back));
  EXPECT_EQ(back.cells, r.cells);
  EXPECT_FALSE(DecodeWindowRecord(bytes, 25, 1, &back));  // wider than that screen

  r.cells.pop_back();
  EXPECT_FALSE(EncodeWindowRecord(r, &bytes));  // cells do not match the rectangle
  r.cells.push_back('\x70');
  r.right = 100;
  r.cells.resize(200, ' ');
  EXPECT_FALSE(EncodeWindowRecord(r, &bytes));  // three digits do not fit
}

TEST_F(WindowsTest, ScopedWindowPairsPushAndPop) {
  Paint();
  const std::string before = Screenful();
  {
    ScopedWindow w(10, 10, 14, 40);
    DrawFrame(1);
    EXPECT_EQ(Screen().WindowDepth, 1);
  }
  EXPECT_EQ(Screenful(), before);
}

}  // namespace
}  // namespace kel
