#include "screen/browse_list.h"

#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/screen_test_support.h"
#include "util/save_stack.h"

namespace kel {
namespace {

using keys::kDown;
using keys::kEnter;
using keys::kEsc;
using keys::kLeft;
using keys::kPgDn;
using keys::kPgUp;
using keys::kRight;
using keys::kUp;
constexpr std::int16_t kF3 = 0x3E00;
// The terminal's F3 key (scan code 3D); form files call the lookup key 3e00.
constexpr std::int16_t kTerminalF3 = 0x3D00;

// The default colour table: h white on black, u black on grey.
constexpr std::uint8_t kAttrH = 0x0F;
constexpr std::uint8_t kAttrU = 0x70;

// ---------------------------------------------------------------------------
// Cache entries

TEST(BrowseEntryTest, EncodesTheLayoutAndDecodesItBack) {
  const std::string bytes = EncodeBrowseEntry({0x01020304u, 0x0A0B0C0D, std::string("A\0B", 3)});
  EXPECT_EQ(bytes, std::string("\x04\x03\x02\x01\x0D\x0C\x0B\x0A\x03\x00"
                               "A\0B",
                               13));
  BrowseEntry back;
  std::size_t size = 0;
  ASSERT_EQ(DecodeBrowseEntry(bytes + "next", &back, &size), kBrowseEntryOk);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(back.previous, 0x01020304u);
  EXPECT_EQ(back.record, 0x0A0B0C0D);
  EXPECT_EQ(back.text, std::string("A\0B", 3));

  // A negative record position travels as its 32-bit image.
  ASSERT_EQ(DecodeBrowseEntry(EncodeBrowseEntry({0, -2, ""}), &back), kBrowseEntryOk);
  EXPECT_EQ(back.record, -2);
  EXPECT_EQ(back.text, "");

  // An overlong text is cut so that its length still fits 16 bits.
  const std::string long_entry = EncodeBrowseEntry({0, 1, std::string(70000, 'x')});
  EXPECT_EQ(long_entry.size(), kBrowseEntryHeader + kMaxBrowseLine);
}

TEST(BrowseEntryTest, TruncatedBytesAreRefusedWithoutTouchingTheOutput) {
  const std::string good = EncodeBrowseEntry({5, 6, "HELLO"});
  const struct {
    std::size_t keep;
    std::int16_t status;
  } cases[] = {{0, kBrowseEntryShortHeader},
               {9, kBrowseEntryShortHeader},
               {10, kBrowseEntryShortText},
               {14, kBrowseEntryShortText},
               {15, kBrowseEntryOk}};
  for (const auto& c : cases) {
    BrowseEntry out{99, 99, "untouched"};
    std::size_t size = 77;
    EXPECT_EQ(DecodeBrowseEntry(good.substr(0, c.keep), &out, &size), c.status) << c.keep;
    if (c.status != kBrowseEntryOk) {
      EXPECT_EQ(out.text, "untouched") << c.keep;
      EXPECT_EQ(size, 77u) << c.keep;
    }
  }
}

// ---------------------------------------------------------------------------
// Lists

// A record source over an in-memory table of (key, position) pairs, so that
// file lists can be tried without the data-file layer.
class TableSource : public BrowseRecordSource {
 public:
  std::vector<std::pair<std::string, std::int32_t>> rows;
  std::vector<std::string> calls;
  std::int16_t read_status = 0;
  int current = -1;
  int finds = 0;
  std::vector<std::string> sorted;  // SortKey's texts, with the Finds before each

  void LockMode(std::int16_t file, std::string_view letters) override {
    calls.push_back("lock " + std::to_string(file) + " " + std::string(letters));
  }
  std::int16_t Find(std::int16_t, std::int16_t key_number, std::string_view start) override {
    calls.push_back("find " + std::to_string(key_number) + " " + std::string(start));
    ++finds;
    for (current = 0; current < static_cast<int>(rows.size()); ++current) {
      if (rows[static_cast<std::size_t>(current)].first >= start) return 0;
    }
    return 9;
  }
  std::int16_t Step(std::int16_t) override {
    return ++current < static_cast<int>(rows.size()) ? 0 : 9;
  }
  std::int32_t Position(std::int16_t) override {
    return rows[static_cast<std::size_t>(current)].second;
  }
  std::int16_t ReadAt(std::int16_t, std::int32_t position) override {
    calls.push_back("read " + std::to_string(position));
    return read_status;
  }
  std::string KeyText(std::int16_t) override {
    // Collating form: upper case.
    std::string k = rows[static_cast<std::size_t>(current)].first;
    for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
  }
  std::string SortKey(std::string_view text, std::int16_t) override {
    sorted.push_back(std::string(text) + " after " + std::to_string(finds) + " find");
    std::string k(text);
    for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
  }
  std::string Key() const { return rows[static_cast<std::size_t>(current)].first; }
};

class BrowseListTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetBrowseList();
    ResetFieldEditor();
    ResetFormDialog();
    ResetSaveStack();
    ClearFormTables();
    ResetMenuEntries(3);
    SetExitKeys("ea", "1234");  // the caller's own table must come back
  }

  void TearDown() override {
    const FieldEditorState& e = FieldEditor();
    EXPECT_EQ(e.ExitKeyDepth, 0) << "an exit-key table was left saved";
    EXPECT_EQ(e.ExitKeys, std::string("\x34\x12", 2)) << "the caller's exit keys were lost";
    EXPECT_EQ(SaveStackGlobals().SaveStack, "") << "the save stack is unbalanced";
    EXPECT_FALSE(FileExists(Session().TempDir + kBrowseCacheFile)) << "the cache was left";
    RegisterBrowseRecordSource(nullptr);
    ResetBrowseList();
    ResetFormDialog();
    ClearFormTables();
    ScreenTest::TearDown();
  }

  // List `n`: window rows 5..10 (4 lines), columns 10..40 (29 columns).
  static MenuListEntry* Define(std::int16_t n, const std::string& title, std::int16_t file = 0) {
    MenuListEntry* e = MutableMenuEntry(n);
    e->MenuEntry = {file, 0, 5, 10, 10, 40, 0, 0};
    e->MenuText = title;
    return e;
  }

  // A list without file whose lines are `lines`.
  void Lines(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    BrowseProcedures p;
    p.format_line = [this](std::int16_t) {
      const std::int32_t n = BrowseGlobals().LineNumber;
      ++formatted_;
      return n >= 1 && n <= static_cast<int>(lines_.size())
                 ? lines_[static_cast<std::size_t>(n - 1)]
                 : std::string();
    };
    SetBrowseProcedures(p);
  }

  static std::vector<std::string> Numbered(int n) {
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i) out.push_back("LINE " + std::to_string(i));
    return out;
  }

  // Runs list `n` with one key per wait; at_wait_ sees each wait (its index
  // from 0) before the key is given. Waits beyond the script get Esc.
  std::int16_t Run(std::int16_t n, std::vector<std::int16_t> script) {
    auto keys = std::make_shared<std::vector<std::int16_t>>(std::move(script));
    auto next = std::make_shared<std::size_t>(0);
    con().SetExhaustedHandler([this, keys, next](MemoryConsole& c) {
      if (at_wait_) at_wait_(static_cast<int>(*next));
      c.QueueKey(*next < keys->size() ? (*keys)[*next] : kEsc);
      ++*next;
      return *next <= keys->size() + 5;
    });
    std::int16_t result = 99;
    BrowseList(n, &result);
    EXPECT_EQ(*next, keys->size()) << "the list read a different number of keys";
    con().SetExhaustedHandler(nullptr);
    at_wait_ = nullptr;
    return result;
  }

  // The list's text rows (window rows 6..9, columns 11..39).
  static std::string ListRow(int i) { return Row(5 + i).substr(10, 29); }
  // The row the bar is on (1..4), 0 when none shows.
  static int BarRow() {
    for (int i = 1; i <= 4; ++i) {
      if (ReadCell(static_cast<std::int16_t>(5 + i), 11).attr == kAttrU) return i;
    }
    return 0;
  }

  std::vector<std::string> lines_;
  int formatted_ = 0;
  std::function<void(int)> at_wait_;
};

TEST_F(BrowseListTest, PageTitleAndChoosingInAListWithoutFile) {
  Define(1, " PA\x8ASOS_DEL MON ");  // cp850 "PAÏSOS"
  Lines(Numbered(6));
  const std::string before = Screenful();
  at_wait_ = [&](int wait) {
    if (wait != 0) return;
    EXPECT_EQ(Row(5).substr(9, 31),
              "\xC9\xCDPA\x8ASOS DEL\xCDMON" + std::string(14, '\xCD') + "\xBB");
    EXPECT_EQ(ListRow(1), "LINE 1" + std::string(23, ' '));
    EXPECT_EQ(ListRow(4).substr(0, 6), "LINE 4");
    EXPECT_EQ(BarRow(), 1);
    EXPECT_EQ(ReadCell(6, 11).attr, kAttrU);
    EXPECT_EQ(ReadCell(7, 11).attr, kAttrH);
    EXPECT_EQ(Row(10).substr(9, 1), "\xC8");
    // Only a page's worth was read so far.
    EXPECT_EQ(formatted_, 4);
    EXPECT_TRUE(FileExists(Session().TempDir + kBrowseCacheFile));
  };
  EXPECT_EQ(Run(1, {kDown, kDown, kEnter}), 0);
  EXPECT_EQ(BrowseGlobals().ChosenPosition, 3);
  EXPECT_EQ(BrowseGlobals().ChosenText, "LINE 3");
  EXPECT_EQ(Screenful(), before) << "the screen under the list was not restored";
}

TEST_F(BrowseListTest, BarAndScrollingAtBothEndsAndThePageKeys) {
  struct Case {
    const char* what;
    int lines;
    std::vector<std::int16_t> keys;  // before the final Enter
    std::int32_t chosen;
    std::string first_row;  // the page's first line when Enter came
    int bar_row;
  };
  // clang-format off
  const Case cases[] = {
      {"Up on the first line stays", 10, {kUp}, 1, "LINE 1", 1},
      {"Down to the bottom row", 10, {kDown, kDown, kDown}, 4, "LINE 1", 4},
      {"Down on the bottom row scrolls", 10, {kDown, kDown, kDown, kDown, kDown}, 6, "LINE 3", 4},
      {"Up on the top row scrolls back", 10, {kDown, kDown, kDown, kDown, kDown, kUp, kUp, kUp, kUp}, 2, "LINE 2", 1},
      {"Down stops at the last line", 5, {kDown, kDown, kDown, kDown, kDown, kDown}, 5, "LINE 2", 4},
      {"a list shorter than the page", 2, {kDown, kDown, kDown}, 2, "LINE 1", 2},
      {"PgDn keeps the bar's row", 10, {kDown, kPgDn}, 6, "LINE 5", 2},
      {"PgDn onto a short last page", 10, {kDown, kDown, kDown, kPgDn, kPgDn}, 10, "LINE 9", 2},
      {"PgDn with nothing after the page", 4, {kDown, kPgDn}, 2, "LINE 1", 2},
      {"PgDn at the last page", 10, {kPgDn, kPgDn, kPgDn}, 9, "LINE 9", 1},
      {"PgUp by a whole page", 12, {kPgDn, kPgDn, kDown, kPgUp}, 6, "LINE 5", 2},
      {"PgUp reaching the first line early", 10, {kDown, kDown, kDown, kDown, kDown, kPgUp}, 2, "LINE 1", 2},
      {"PgUp missing more rows than the bar has", 10, {kDown, kDown, kDown, kDown, kDown, kUp, kUp, kPgUp}, 1, "LINE 1", 1},
      {"PgUp on the first page", 10, {kDown, kPgUp}, 2, "LINE 1", 2},
  };
  // clang-format on
  for (const Case& c : cases) {
    ResetBrowseList();
    Define(1, "");
    Lines(Numbered(c.lines));
    std::vector<std::int16_t> keys = c.keys;
    keys.push_back(kEnter);
    at_wait_ = [&](int wait) {
      if (wait != static_cast<int>(c.keys.size())) return;
      EXPECT_EQ(ListRow(1).substr(0, 6), c.first_row) << c.what;
      EXPECT_EQ(BarRow(), c.bar_row) << c.what;
    };
    EXPECT_EQ(Run(1, keys), 0) << c.what;
    EXPECT_EQ(BrowseGlobals().ChosenPosition, c.chosen) << c.what;
  }
}

TEST_F(BrowseListTest, LeftAndRightMoveTheViewAndTheTitleEnds) {
  // The title is 31 characters: longer than the 29 columns.
  Define(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  Lines({"0123456789abcdefghijklmnopqrstuvwxyz"});
  std::vector<std::string> titles;
  std::vector<std::string> firsts;
  at_wait_ = [&](int) {
    titles.push_back(Row(5).substr(9, 31));
    firsts.push_back(ListRow(1));
  };
  EXPECT_EQ(Run(1, {kLeft, kRight, kRight, kRight, kRight, kRight, kLeft, kLeft, kLeft, kLeft,
                    kLeft, kLeft, kEsc}),
            -1);
  ASSERT_EQ(titles.size(), 13u);
  const std::string pad(29, ' ');
  // Start and Left at offset 1: the corner, and more title to the right.
  EXPECT_EQ(titles[0],
            "\xC9"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ012"
            "\x10");
  EXPECT_EQ(titles[1], titles[0]);
  EXPECT_EQ(firsts[1], "0123456789abcdefghijklmnopqrs");
  // Right: offset 9, the left end turns into the triangle; the title now
  // shows to its end, so the right corner is back.
  EXPECT_EQ(titles[2],
            "\x11"
            "IJKLMNOPQRSTUVWXYZ01234" +
                std::string(6, '\xCD') + "\xBB");
  EXPECT_EQ(firsts[2], ("89abcdefghijklmnopqrstuvwxyz" + pad).substr(0, 29));
  // Right without limit: offset 41 is past the end of every text.
  EXPECT_EQ(firsts[6], pad);
  EXPECT_EQ(titles[6], "\x11" + std::string(29, '\xCD') + "\xBB");
  EXPECT_EQ(firsts[7], ("wxyz" + pad).substr(0, 29));
  // Left back down to offset 1, and no further.
  EXPECT_EQ(titles[11], titles[0]);
  EXPECT_EQ(titles[12], titles[0]);
  EXPECT_EQ(firsts[12], firsts[1]);
}

TEST_F(BrowseListTest, EmptyListsAndLeavingWithoutAChoice) {
  struct Case {
    const char* what;
    std::int16_t file;
    int lines;
    std::int16_t key;
    std::int16_t result;
  };
  // clang-format off
  const Case cases[] = {
      {"an empty list: Enter chooses nothing", 0, 0, kEnter, -1},
      {"an empty list: Esc", 0, 0, kEsc, -1},
      {"a file list without a record source", 4, 3, kEnter, -1},
      {"any other key leaves", 0, 3, 'x', -1},
      {"F3 without a second list leaves", 0, 3, kF3, -1},
  };
  // clang-format on
  for (const Case& c : cases) {
    ResetBrowseList();
    Define(1, "T", c.file);
    Lines(Numbered(c.lines));
    BrowseGlobals().ChosenPosition = 77;
    const std::string before = Screenful();
    at_wait_ = [&](int) {
      if (c.lines == 0 || c.file != 0) {
        EXPECT_EQ(ListRow(1), std::string(29, ' ')) << c.what;
      }
    };
    EXPECT_EQ(Run(1, {c.key}), c.result) << c.what;
    EXPECT_EQ(BrowseGlobals().ChosenPosition, 77) << c.what;
    EXPECT_EQ(Screenful(), before) << c.what;
  }
}

TEST_F(BrowseListTest, RefusedBeforeTheWindowOpens) {
  // A form run first and left with Esc; a preparation that refuses; a list
  // number outside the tables; a window with no room for a line.
  ResetFormTables(2, 1);
  MutableForm(2)->FormKeys = "d,1b";
  MutableForm(2)->FormFieldCount = 1;
  MutableField(2, 1)->FieldLength = 3;
  MutableField(2, 1)->FieldRow = 2;
  MutableField(2, 1)->FieldValue = "   ";
  Define(1, "T")->MenuEntry[6] = 2;
  Lines(Numbered(3));
  EXPECT_EQ(Run(1, {kEsc}), -1);
  EXPECT_EQ(formatted_, 0) << "the list was read although its form was left with Esc";

  BrowseProcedures p;
  bool prepared = false;
  p.prepare = [&](std::int16_t list, std::string* start, std::string* prefix) -> std::int16_t {
    EXPECT_EQ(list, 2);
    EXPECT_EQ(*start, "");
    EXPECT_EQ(*prefix, "");
    prepared = true;
    return 12;
  };
  SetBrowseProcedures(p);
  Define(2, "T");
  const std::string before = Screenful();
  EXPECT_EQ(Run(2, {}), 12);
  EXPECT_TRUE(prepared);
  EXPECT_EQ(Screenful(), before);

  SetBrowseProcedures(DefaultBrowseProcedures());
  EXPECT_EQ(Run(9, {}), -1);
  MutableMenuEntry(3)->MenuEntry = {0, 0, 5, 10, 6, 40, 0, 0};
  EXPECT_EQ(Run(3, {}), -1);
}

TEST_F(BrowseListTest, AFormRunFirstThenTheList) {
  ResetFormTables(2, 1);
  MutableForm(2)->FormKeys = "d,1b";
  MutableForm(2)->FormFieldCount = 1;
  MutableField(2, 1)->FieldLength = 3;
  MutableField(2, 1)->FieldRow = 2;
  MutableField(2, 1)->FieldValue = "   ";
  Define(1, "T")->MenuEntry[6] = 2;
  Lines(Numbered(3));
  EXPECT_EQ(Run(1, {kEnter, kDown, kEnter}), 0);
  EXPECT_EQ(BrowseGlobals().ChosenPosition, 2);
}

TEST_F(BrowseListTest, FileListReadsFromTheStartKeyWhileThePrefixHolds) {
  TableSource source;
  source.rows = {{"aa", 100}, {"ba", 200}, {"bb", 300}, {"bc", 400}, {"ca", 500}};
  RegisterBrowseRecordSource(&source);
  Define(1, "T", 7)->MenuEntry[1] = 2;
  BrowseProcedures p;
  p.prepare = [](std::int16_t, std::string* start, std::string* prefix) -> std::int16_t {
    *start = "bb";
    *prefix = "b";
    return 0;
  };
  // Records whose key ends in "c" are left out of the list.
  p.format_line = [&](std::int16_t) {
    return source.Key().back() == 'c' ? std::string() : "KEY " + source.Key();
  };
  SetBrowseProcedures(p);
  at_wait_ = [&](int wait) {
    if (wait != 0) return;
    EXPECT_EQ(ListRow(1).substr(0, 6), "KEY bb");
    EXPECT_EQ(ListRow(2), std::string(29, ' ')) << "bc is left out and ca has another prefix";
  };
  source.read_status = 0;
  EXPECT_EQ(Run(1, {kDown, kEnter}), 0);
  const std::vector<std::string> expected = {"lock 7 +d", "find 2 bb", "read 300", "lock 7 -"};
  EXPECT_EQ(source.calls, expected);

  // The status of loading the chosen record is the list's result.
  source.calls.clear();
  source.read_status = 84;
  EXPECT_EQ(Run(1, {kEnter}), 84);
  // And Esc restores the lock mode just the same.
  source.calls.clear();
  EXPECT_EQ(Run(1, {kEsc}), -1);
  EXPECT_EQ(source.calls.back(), "lock 7 -");
}

// The collating form depends on the key the file is on, which the list's
// first read sets: the prefix is converted after it, and an empty prefix
// (all records) is never converted.
TEST_F(BrowseListTest, ThePrefixIsConvertedAfterTheFirstReadAndAnEmptyOneNever) {
  TableSource source;
  source.rows = {{"aa", 100}, {"ba", 200}, {"bb", 300}};
  RegisterBrowseRecordSource(&source);
  Define(1, "T", 7)->MenuEntry[1] = 2;
  std::string prefix = "b";
  BrowseProcedures p;
  p.prepare = [&](std::int16_t, std::string*, std::string* out) -> std::int16_t {
    *out = prefix;
    return 0;
  };
  p.format_line = [&](std::int16_t) { return "KEY " + source.Key(); };
  SetBrowseProcedures(p);
  std::vector<std::string> rows;
  at_wait_ = [&](int) { rows = {ListRow(1).substr(0, 6), ListRow(2).substr(0, 6)}; };
  EXPECT_EQ(Run(1, {kEsc}), -1);
  EXPECT_EQ(source.sorted, std::vector<std::string>{"b after 1 find"});
  EXPECT_EQ(rows, (std::vector<std::string>{"      ", "      "})) << "starts with aa: ends at once";

  prefix.clear();
  source.sorted.clear();
  at_wait_ = [&](int) { rows = {ListRow(1).substr(0, 6), ListRow(2).substr(0, 6)}; };
  EXPECT_EQ(Run(1, {kEsc}), -1);
  EXPECT_TRUE(source.sorted.empty());
  EXPECT_EQ(rows, (std::vector<std::string>{"KEY aa", "KEY ba"}));
}

TEST_F(BrowseListTest, CacheFileHoldsOneEntryPerLineInReadingOrder) {
  Define(1, "T");
  Lines({"ONE", "", "never read"});
  std::string bytes;
  at_wait_ = [&](int) { ASSERT_TRUE(ReadWholeFile(Session().TempDir + kBrowseCacheFile, &bytes)); };
  EXPECT_EQ(Run(1, {kEsc}), -1);
  // The second line is empty: for a list without file it ends the list.
  EXPECT_EQ(bytes, EncodeBrowseEntry({0, 1, "ONE"}));

  Lines(Numbered(2));
  at_wait_ = [&](int) { ASSERT_TRUE(ReadWholeFile(Session().TempDir + kBrowseCacheFile, &bytes)); };
  EXPECT_EQ(Run(1, {kEsc}), -1);
  const std::string first = EncodeBrowseEntry({0, 1, "LINE 1"});
  // The second entry points back at the first, at position 1.
  EXPECT_EQ(bytes, first + EncodeBrowseEntry({1, 2, "LINE 2"}));

  // A cache file left by an earlier run is emptied, not appended to.
  File stale;
  ASSERT_EQ(OpenFile(Session().TempDir + kBrowseCacheFile, FileAccess::kWriteTruncate,
                     FileShare::kShared, &stale),
            FileResult::kOk);
  ASSERT_TRUE(stale.Append("garbage"));
  stale.Close();
  at_wait_ = [&](int) { ASSERT_TRUE(ReadWholeFile(Session().TempDir + kBrowseCacheFile, &bytes)); };
  EXPECT_EQ(Run(1, {kEsc}), -1);
  EXPECT_EQ(bytes, first + EncodeBrowseEntry({1, 2, "LINE 2"}));
}

TEST_F(BrowseListTest, WithoutATemporaryDirectoryTheListStillWorks) {
  Session().TempDir = dir_ + "\\missing\\";
  Define(1, "T");
  Lines(Numbered(6));
  EXPECT_EQ(Run(1, {kDown, kDown, kDown, kDown, kUp, kEnter}), 0);
  EXPECT_EQ(BrowseGlobals().ChosenPosition, 4);
  EXPECT_EQ(BrowseGlobals().ChosenText, "LINE 4");
}

TEST_F(BrowseListTest, F3OpensTheSecondListAfterTheFirstHasClosedItsCache) {
  Define(1, "FIRST")->MenuEntry[7] = 2;
  Define(2, "SECOND");
  BrowseProcedures p;
  int second_reads = 0;
  p.format_line = [&](std::int16_t list) {
    const std::int32_t n = BrowseGlobals().LineNumber;
    if (list == 2 && n == 1) {
      // The second list starts from an empty cache of its own.
      std::string bytes;
      EXPECT_TRUE(ReadWholeFile(Session().TempDir + kBrowseCacheFile, &bytes));
      EXPECT_EQ(bytes, "");
      ++second_reads;
    }
    return n <= 3 ? std::string(list == 1 ? "A" : "B") + std::to_string(n) : std::string();
  };
  std::vector<std::string> hooks;
  p.follow_up = [&](std::int16_t list, std::int16_t form, std::int16_t field) {
    hooks.push_back(std::to_string(list) + "/" + std::to_string(form) + "/" +
                    std::to_string(field) + " bar " + std::to_string(BrowseGlobals().BarPosition) +
                    " chose " + BrowseGlobals().ChosenText);
  };
  SetBrowseProcedures(p);
  FormDialogGlobals().LastFieldForm = 4;
  FormDialogGlobals().LastFieldNumber = 5;
  std::vector<std::string> exit_keys;
  at_wait_ = [&](int wait) {
    if (wait == 2) {
      EXPECT_EQ(Row(5).substr(9, 8), "\xC9SECOND\xCD");
      EXPECT_EQ(ListRow(1).substr(0, 2), "B1");
    }
    exit_keys.push_back(FieldEditor().ExitKeys);
  };
  // F3 in the first list with the bar on its second line; Down and Enter
  // in the second.
  EXPECT_EQ(Run(1, {kDown, kF3, kDown, kEnter}), -1);
  EXPECT_EQ(second_reads, 1);
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0], "1/4/5 bar 2 chose B2");
  // The first list's exit keys include F3, the second's do not.
  ASSERT_EQ(exit_keys.size(), 4u);
  EXPECT_NE(exit_keys[0].find("\x00\x3E", 0, 2), std::string::npos);
  EXPECT_EQ(exit_keys[2].find("\x00\x3E", 0, 2), std::string::npos);

  // Leaving the second list without a choice calls no hook; the terminal's
  // F3 opens it as well.
  hooks.clear();
  second_reads = 0;
  EXPECT_EQ(Run(1, {kTerminalF3, kEsc}), -1);
  EXPECT_EQ(second_reads, 1);
  EXPECT_TRUE(hooks.empty());
  FormDialogGlobals() = FormDialogState{};
}

// A form run before the list is a dialog of its own that clears the field in
// progress when it ends; the follow-up hook got form 0 and field 0. The list
// keeps the field it was opened from for its preparation, its lines and the
// hook.
TEST_F(BrowseListTest, FollowUpHookGetsTheOpeningFieldAfterAFormRanFirst) {
  ResetFormTables(2, 1);
  MutableForm(2)->FormKeys = "d,1b";
  MutableForm(2)->FormFieldCount = 1;
  MutableField(2, 1)->FieldLength = 3;
  MutableField(2, 1)->FieldRow = 2;
  MutableField(2, 1)->FieldValue = "   ";
  MenuListEntry* first = Define(1, "FIRST");
  first->MenuEntry[6] = 2;
  first->MenuEntry[7] = 2;
  Define(2, "SECOND");
  std::vector<std::string> seen;
  auto last_field = [] {
    const FormDialogState& g = FormDialogGlobals();
    return std::to_string(g.LastFieldForm) + "." + std::to_string(g.LastFieldNumber) + " " +
           g.LastFieldValue;
  };
  BrowseProcedures p;
  p.prepare = [&](std::int16_t list, std::string*, std::string*) -> std::int16_t {
    seen.push_back("prepare " + std::to_string(list) + " " + last_field());
    return 0;
  };
  p.format_line = [](std::int16_t list) {
    return BrowseGlobals().LineNumber <= 2
               ? "L" + std::to_string(list) + "." + std::to_string(BrowseGlobals().LineNumber)
               : std::string();
  };
  p.follow_up = [&](std::int16_t list, std::int16_t form, std::int16_t field) {
    seen.push_back("hook " + std::to_string(list) + " " + std::to_string(form) + "." +
                   std::to_string(field) + " chose " + BrowseGlobals().ChosenText);
  };
  SetBrowseProcedures(p);
  FormDialogGlobals().LastFieldForm = 4;
  FormDialogGlobals().LastFieldNumber = 5;
  FormDialogGlobals().LastFieldValue = "ABC";
  // Enter through the form, F3 in the first list, Down and Enter in the
  // second.
  EXPECT_EQ(Run(1, {kEnter, kF3, kDown, kEnter}), -1);
  const std::vector<std::string> expected = {"prepare 1 4.5 ABC", "prepare 2 4.5 ABC",
                                             "hook 1 4.5 chose L2.2"};
  EXPECT_EQ(seen, expected);
  FormDialogGlobals() = FormDialogState{};
}

// ---------------------------------------------------------------------------
// F3 from a form field

TEST_F(BrowseListTest, F3OnAFormFieldOpensItsListAndMovesOnAfterAChoice) {
  ResetFormTables(2, 2);
  for (std::int16_t f = 1; f <= 2; ++f) MutableForm(f)->FormKeys = "d,1b,4800,5000,3e00";
  for (std::int16_t k = 1; k <= 2; ++k) {
    FormField* field = MutableField(1, k);
    MutableForm(1)->FormFieldCount = 2;
    field->FieldRow = static_cast<std::int16_t>(2 + k);
    field->FieldColumn = 3;
    field->FieldLength = 5;
    field->FieldValue = "     ";
    field->FieldAttr7 = 1;
  }
  MutableForm(2)->FormFieldCount = 1;
  MutableField(2, 1)->FieldRow = 20;
  MutableField(2, 1)->FieldLength = 2;
  MutableField(2, 1)->FieldValue = "  ";
  Define(1, "T")->MenuEntry[6] = 2;  // a selection form first
  Lines(Numbered(3));
  RegisterLookupList([](std::int16_t list) {
    std::int16_t result = 0;
    BrowseList(list, &result);
    return result;
  });
  std::vector<std::string> seen;
  FormProcedures procs;
  procs.after_lookup = [&](std::int16_t* list, std::int16_t form, std::int16_t field) {
    const FormDialogState& g = FormDialogGlobals();
    seen.push_back(std::to_string(*list) + " " + std::to_string(form) + "." +
                   std::to_string(field) + " last " + std::to_string(g.LastFieldForm) + "." +
                   std::to_string(g.LastFieldNumber));
    MutableField(form, field)->FieldValue = BrowseGlobals().ChosenText.substr(0, 5);
  };
  SetFormProcedures(procs);
  const int beeps = con().beeps();
  // Field 1: F3, Enter through the selection form, Down and Enter in the
  // list: on to field 2. There F3 and Esc in the selection form: a beep,
  // field 2 again; Esc, Esc ends the dialog.
  // The second time through the terminal's F3, which the form takes for the
  // 3e00 it lists.
  for (std::int16_t key : {kF3, kEnter, kDown, kEnter, kTerminalF3, kEsc, kEsc, kEsc}) {
    con().QueueKey(key);
  }
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(key, kEsc);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "1 1.1 last 1.1") << "the nested form cleared the field in progress";
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "LINE ");
  EXPECT_EQ(Row(3).substr(2, 5), "LINE ");
  EXPECT_EQ(con().beeps() - beeps, 1);
  EXPECT_EQ(con().QueuedEvents(), 0u);
}

}  // namespace
}  // namespace kel
