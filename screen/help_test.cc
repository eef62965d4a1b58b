#include "screen/help.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/screen_test_support.h"

namespace kel {
namespace {

using keys::kDown;
using keys::kEnd;
using keys::kEsc;
using keys::kF1;
using keys::kHome;
using keys::kPgDn;
using keys::kPgUp;
using keys::kUp;

// The default colour table: h white on black, n grey on black, u and r
// black on grey.
constexpr std::uint8_t kAttrH = 0x0F;
constexpr std::uint8_t kAttrN = 0x07;
constexpr std::uint8_t kAttrU = 0x70;

// 25 rows: the window spans rows 4 to 22, text on rows 5 to 21.
constexpr int kFirstTextRow = 5;
constexpr int kVisible = 17;

class HelpTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    previous_dir_ = CurrentDirectory();
    ASSERT_TRUE(MakeDirectory(dir_ + "/AJUDA"));
    ASSERT_TRUE(ChangeDirectory(dir_));
  }
  void TearDown() override {
    EXPECT_TRUE(ChangeDirectory(previous_dir_));
    ScreenTest::TearDown();
  }

  // Writes AJUDA\<topic>.HLP: each line an 80-byte record.
  void Page(const std::string& topic, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += (line + std::string(80, ' ')).substr(0, 80);
    File f;
    ASSERT_EQ(
        OpenFile("AJUDA\\" + topic + ".HLP", FileAccess::kWriteTruncate, FileShare::kShared, &f),
        FileResult::kOk);
    ASSERT_TRUE(f.Append(bytes));
  }

  static std::vector<std::string> Numbered(int n, const std::string& word = "LINE") {
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i) out.push_back(word + " " + std::to_string(i));
    return out;
  }

  // Shows `topic` with one key per wait; at_wait_ sees each wait first.
  void Show(const std::string& topic, std::vector<std::int16_t> script) {
    auto keys = std::make_shared<std::vector<std::int16_t>>(std::move(script));
    auto next = std::make_shared<std::size_t>(0);
    con().SetExhaustedHandler([this, keys, next](MemoryConsole& c) {
      if (at_wait_) at_wait_(static_cast<int>(*next));
      c.QueueKey(*next < keys->size() ? (*keys)[*next] : kEsc);
      ++*next;
      return *next <= keys->size() + 5;
    });
    ShowHelp(topic);
    EXPECT_EQ(*next, keys->size()) << "help read a different number of keys";
    con().SetExhaustedHandler(nullptr);
    at_wait_ = nullptr;
  }

  // The text of window line i (1..17), from screen column 3, trailing
  // blanks removed.
  static std::string Line(int i) {
    std::string text = Row(kFirstTextRow - 1 + i).substr(2, 76);
    return text.substr(0, text.find_last_not_of(' ') + 1);
  }

  std::string previous_dir_;
  std::function<void(int)> at_wait_;
};

TEST_F(HelpTest, WindowFrameAndTheFirstPage) {
  Page("TAVIRENO", Numbered(30));
  const std::string before = Screenful();
  const std::string attrs_before = Attrs();
  at_wait_ = [&](int) {
    EXPECT_EQ(Row(3), std::string(80, ' '));
    EXPECT_EQ(Row(4), "\xC9" + std::string(78, '\xCD') + "\xBB");
    EXPECT_EQ(Row(22), "\xC8" + std::string(78, '\xCD') + "\xBC");
    EXPECT_EQ(Row(23), std::string(80, ' '));
    EXPECT_EQ(Row(5).substr(0, 9), "\xBA LINE 1 ");
    EXPECT_EQ(ReadCell(5, 3).attr, kAttrN);
    EXPECT_EQ(ReadCell(4, 1).attr, kAttrH) << "the frame is drawn in colour h";
    EXPECT_EQ(Line(kVisible), "LINE 17");
    EXPECT_EQ(Row(5).substr(79, 1), "\xBA");
  };
  Show("TAVIRENO", {kEsc});
  EXPECT_EQ(Screenful(), before);
  EXPECT_EQ(Attrs(), attrs_before);
}

TEST_F(HelpTest, StyleBytesSwitchColoursWithoutTakingAColumn) {
  Page("T", {"A\x1E"
             "BC\x1E"
             "D\x1F"
             "EF\x1F"
             "G\x10"
             "H\x10"
             "I",
             // Highlighting is not switched while underlining is on.
             "\x1F"
             "a\x1E"
             "b\x1F"
             "c",
             std::string(80, 'x'), "\x1E" + std::string(79, 'y')});
  at_wait_ = [&](int) {
    EXPECT_EQ(Line(1), "ABCDEFGHI");
    const std::uint8_t expected[] = {kAttrN, kAttrH, kAttrH, kAttrN, kAttrU,
                                     kAttrU, kAttrN, kAttrU, kAttrN};
    for (int i = 0; i < 9; ++i) {
      EXPECT_EQ(ReadCell(5, static_cast<std::int16_t>(3 + i)).attr, expected[i]) << i;
    }
    EXPECT_EQ(Line(2), "abc");
    EXPECT_EQ(ReadCell(6, 4).attr, kAttrU);
    EXPECT_EQ(ReadCell(6, 5).attr, kAttrN) << "highlighting must not start under the underline";
    // At most 76 characters, with or without style bytes.
    EXPECT_EQ(Line(3), std::string(76, 'x'));
    EXPECT_EQ(Line(4), std::string(76, 'y'));
    EXPECT_EQ(Row(7).substr(78, 2), " \xBA");
    // Every line starts in colour n.
    EXPECT_EQ(ReadCell(7, 3).attr, kAttrN);
  };
  Show("T", {kEsc});
}

TEST_F(HelpTest, ScrollingKeys) {
  struct Case {
    const char* what;
    int lines;
    std::vector<std::int16_t> keys;
    int first_shown;  // 0: the window shows no line of the page
  };
  // clang-format off
  const Case cases[] = {
      {"Down scrolls one line", 40, {kDown}, 2},
      {"Up scrolls back", 40, {kDown, kDown, kUp}, 2},
      {"Up on the first page", 40, {kUp}, 1},
      {"PgDn a window's height", 40, {kPgDn}, 18},
      {"PgDn not past the last line", 40, {kPgDn, kPgDn, kPgDn}, 24},
      {"PgUp a window's height", 40, {kPgDn, kPgDn, kPgUp}, 7},
      {"PgUp not before line 1", 40, {kDown, kDown, kPgUp}, 1},
      {"End shows the last lines", 40, {kEnd}, 24},
      {"Down at the end", 40, {kEnd, kDown}, 24},
      {"Home", 40, {kEnd, kUp, kHome}, 1},
      {"other keys are ignored", 40, {'x', keys::kLeft, keys::kEnter}, 1},
      {"a page shorter than the window: Down", 5, {kDown}, 1},
      {"a page shorter than the window: PgDn", 5, {kPgDn, kEnd}, 1},
      {"a page exactly the window's height", kVisible, {kDown, kPgDn, kEnd}, 1},
      {"a page one line longer", kVisible + 1, {kPgDn, kDown}, 2},
  };
  // clang-format on
  for (const Case& c : cases) {
    Page("T", Numbered(c.lines));
    std::vector<std::int16_t> keys = c.keys;
    keys.push_back(kEsc);
    at_wait_ = [&](int wait) {
      if (wait != static_cast<int>(c.keys.size())) return;
      for (int i = 1; i <= kVisible; ++i) {
        const int n = c.first_shown + i - 1;
        EXPECT_EQ(Line(i), n <= c.lines ? "LINE " + std::to_string(n) : "") << c.what << " " << i;
      }
    };
    Show("T", keys);
  }
}

TEST_F(HelpTest, F1OpensTheGeneralPageOnceAndEscComesBack) {
  Page("TAVIRENO", Numbered(20));
  Page("MORLEPAN", Numbered(3, "GENERAL"));
  std::vector<std::string> first_lines;
  at_wait_ = [&](int) { first_lines.push_back(Line(1)); };
  // F1 on the program's page, F1 again inside the general page (nothing),
  // Esc back to the program's page (scrolled as it was), Esc out.
  Show("TAVIRENO", {kDown, kF1, kF1, kEsc, kEsc});
  const std::vector<std::string> expected = {"LINE 1", "LINE 2", "GENERAL 1", "GENERAL 1",
                                             "LINE 2"};
  EXPECT_EQ(first_lines, expected);
  // The topic is a file name: any letter case names the general page.
  first_lines.clear();
  at_wait_ = [&](int) { first_lines.push_back(Line(1)); };
  Show("morlepan", {kF1, kEsc});
  EXPECT_EQ(first_lines.size(), 2u);
}

TEST_F(HelpTest, AMissingPageIsAnEmptyWindow) {
  const std::string before = Screenful();
  at_wait_ = [&](int) {
    EXPECT_EQ(Row(4).substr(0, 2), "\xC9\xCD");
    for (int i = 1; i <= kVisible; ++i) EXPECT_EQ(Line(i), "") << i;
  };
  Show("NOSUCH", {kDown, kPgDn, kEnd, kEsc});
  EXPECT_EQ(Screenful(), before);
}

int g_popups = 0;
std::string CountingPopup() {
  ++g_popups;
  return "9";
}

TEST_F(HelpTest, HotKeysAreNotActiveInsideHelp) {
  RegisterCalculatorPopup(CountingPopup);
  RegisterCalendarPopup(CountingPopup);
  Page("T", Numbered(3));
  Show("T", {keys::kAltX, keys::kAltC, kEsc});
  EXPECT_EQ(g_popups, 0);
  EXPECT_FALSE(Keyboard().CalculatorOpen);
  EXPECT_FALSE(Keyboard().CalendarOpen);
  EXPECT_EQ(Keyboard().PendingKeys, "");
  RegisterCalculatorPopup(nullptr);
  RegisterCalendarPopup(nullptr);
}

TEST_F(HelpTest, AWindowsSessionRunsTheLauncherInstead) {
  EXPECT_EQ(HelpLauncherCommand("C:\\WINDOWS\\SYSTEM32\\CMD.EXE", "TAVIRENO"),
            "C:\\WINDOWS\\SYSTEM32\\CMD.EXE /C VOPRUN AJUDA\\TAVIRENO.HTM");
  // On Windows the system's command interpreter runs a stand-in launcher
  // (VOPRUN.CMD in the current folder, the installation's) that writes
  // down what it was asked for; elsewhere a stand-in command interpreter
  // writes down its own arguments.
  const std::string system_comspec = SystemEnv().GetVariable("COMSPEC");
  FakeEnv env;
  std::string expected;
  File f;
  if (!system_comspec.empty()) {
    ASSERT_EQ(OpenFile("VOPRUN.CMD", FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.Append("@echo %*>args\r\n"));
    f.Close();
    env.SetVariable("COMSPEC", system_comspec);
    expected = "AJUDA\\TAVIRENO.HTM\r\n";
  } else {
    const std::string script = dir_ + "/comspec.sh";
    ASSERT_EQ(OpenFile(script, FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.Append("#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + dir_ + "/args'\nexit 5\n"));
    f.Close();
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    env.SetVariable("COMSPEC", script);
    expected = "/C VOPRUN AJUDA\\TAVIRENO.HTM\n";
  }
  ScopedEnv scoped(&env);
  Session().PlatformKind = "WIN";
  Page("TAVIRENO", Numbered(3));
  const std::string before = Screenful();
  ShowHelp("TAVIRENO");  // no key is read: the screen stays as it is
  std::string args;
  ASSERT_TRUE(ReadWholeFile(dir_ + "/args", &args));
  EXPECT_EQ(args, expected);
  EXPECT_EQ(Screenful(), before);
}

TEST_F(HelpTest, F1OnAFormFieldShowsTheProgramsPage) {
  ResetFormDialog();
  ResetFormTables(1, 1);
  MutableForm(1)->FormKeys = "d,1b";
  MutableForm(1)->FormFieldCount = 1;
  FormField* field = MutableField(1, 1);
  field->FieldRow = 10;
  field->FieldColumn = 3;
  field->FieldLength = 4;
  field->FieldValue = "ABCD";
  Session().MenuName = "TAVIRENO  ";
  Page("TAVIRENO", Numbered(3));
  RegisterFormHelp([](std::string_view topic) { ShowHelp(topic); });
  std::string in_help;
  std::string after_help;
  auto wait = std::make_shared<int>(0);
  con().SetExhaustedHandler([&, wait](MemoryConsole& c) {
    const std::int16_t script[] = {keys::kF1, kEsc, kEsc};
    if (*wait == 1) in_help = Line(1);
    if (*wait == 2) after_help = Row(10);
    if (*wait >= 3) return false;
    c.QueueKey(script[(*wait)++]);
    return true;
  });
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  con().SetExhaustedHandler(nullptr);
  EXPECT_EQ(key, kEsc);
  EXPECT_EQ(in_help, "LINE 1");
  EXPECT_EQ(after_help.substr(2, 4), "ABCD") << "the form is not back after help";
  ResetFormDialog();
  ClearFormTables();
}

}  // namespace
}  // namespace kel
