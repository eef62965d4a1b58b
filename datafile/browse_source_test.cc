// The browse list over real data files, through the data-file layer's
// record source, with a line formatter that shows the record area.
#include "datafile/browse_source.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_mode.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "recman/recman.h"
#include "screen/browse_list.h"
#include "screen/field_editor.h"
#include "screen/form_tables.h"
#include "util/fixed_text.h"
#include "util/save_stack.h"

namespace kel::testing {
namespace {

constexpr std::int16_t kFile = 12;

class BrowseSourceTest : public DataFileTest {
 protected:
  void SetUp() override {
    DataFileTest::SetUp();
    ResetBrowseList();
    ResetFieldEditor();
    ResetSaveStack();
    ClearFormTables();
    ResetMenuEntries(1);
    UseDataFileBrowseSource();
    // Key 0: the first byte; key 1: the next four.
    name_ = MakeLetters("LETTERS", {Rec("Dda 4"), Rec("Bbb 2"), Rec("Aab 1"), Rec("Ccc 3"),
                                    Rec("Eab 5"), Rec("Fab 6"), Rec("Gzz 7")});
    std::int16_t st = -1;
    DbOpen(kFile, name_, area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk);
    // Rows 3..7 of the screen: 3 lines of 20 columns.
    MutableMenuEntry(1)->MenuEntry = {kFile, 0, 3, 1, 7, 22, 0, 0};
    BrowseProcedures p;
    p.format_line = [this](std::int16_t list) {
      EXPECT_EQ(list, 1);
      lock_mode_seen_ = Entry().LockMode;
      return "REC " + Area();
    };
    SetBrowseProcedures(p);
  }

  void TearDown() override {
    EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
    EXPECT_EQ(SaveStackGlobals().SaveStack, "");
    EXPECT_EQ(DataFiles().LockModeStack, "") << "a lock mode was left saved";
    EXPECT_FALSE(FileExists(Session().TempDir + kBrowseCacheFile));
    ResetBrowseList();
    ClearFormTables();
    DataFileTest::TearDown();
  }

  std::string Area() const { return std::string(area_, sizeof area_); }
  static OpenFileEntry& Entry() {
    return DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(kFile))];
  }
  static std::string ListRow(int i) { return Row(3 + i).substr(1, 20); }

  std::int16_t Run(std::vector<std::int16_t> keys) {
    auto script = std::make_shared<std::vector<std::int16_t>>(std::move(keys));
    auto next = std::make_shared<std::size_t>(0);
    con().SetExhaustedHandler([this, script, next](MemoryConsole& c) {
      if (at_wait_) at_wait_(static_cast<int>(*next));
      c.QueueKey(*next < script->size() ? (*script)[*next] : keys::kEsc);
      return ++*next <= script->size() + 3;
    });
    std::int16_t result = 99;
    BrowseList(1, &result);
    EXPECT_EQ(*next, script->size());
    con().SetExhaustedHandler(nullptr);
    at_wait_ = nullptr;
    return result;
  }

  std::string name_;
  char area_[8] = {};
  std::int16_t lock_mode_seen_ = -1;
  std::function<void(int)> at_wait_;
};

TEST_F(BrowseSourceTest, ListsInKeyOrderAndLoadsTheChosenRecordByPosition) {
  std::int16_t st = 0;
  DbLockMode(kFile, "a", &st);  // the caller reads with locks
  std::vector<std::string> pages;
  std::string cache;
  at_wait_ = [&](int wait) {
    pages.push_back(ListRow(1) + "|" + ListRow(2) + "|" + ListRow(3));
    if (wait == 5) {
      ASSERT_TRUE(ReadWholeFile(Session().TempDir + kBrowseCacheFile, &cache));
    }
  };
  // Down to the fifth record (scrolling twice), up to the fourth, Enter.
  EXPECT_EQ(Run({keys::kDown, keys::kDown, keys::kDown, keys::kDown, keys::kUp, keys::kEnter}), 0);
  EXPECT_EQ(pages[0], "REC Aab 1           |REC Bbb 2           |REC Ccc 3           ");
  EXPECT_EQ(pages[4], "REC Ccc 3           |REC Dda 4           |REC Eab 5           ");
  // The cursor had moved on to the fifth record; the fourth is loaded again.
  EXPECT_EQ(Area(), Rec("Dda 4"));
  EXPECT_EQ(lock_mode_seen_, 0) << "the list reads without record locks";
  EXPECT_EQ(Entry().LockMode, 1) << "the caller's lock mode is back";
  // Five entries, each holding the record's position in the data file.
  std::size_t at = 0;
  std::uint32_t previous = 0;
  std::vector<std::string> texts;
  for (int i = 0; i < 5; ++i) {
    BrowseEntry e;
    std::size_t size = 0;
    ASSERT_EQ(DecodeBrowseEntry(std::string_view(cache).substr(at), &e, &size), kBrowseEntryOk);
    EXPECT_EQ(e.previous, previous);
    std::int16_t found = 0;
    DbFind(kFile, 0, e.text.substr(4, 1), 0, &found);
    ASSERT_EQ(found, 0);
    EXPECT_EQ(e.record, DbPosition(kFile, 0)) << e.text;
    texts.push_back(e.text.substr(4, 1));
    previous = static_cast<std::uint32_t>(at + 1);
    at += size;
  }
  EXPECT_EQ(at, cache.size());
  EXPECT_EQ(texts, (std::vector<std::string>{"A", "B", "C", "D", "E"}));
}

TEST_F(BrowseSourceTest, StartKeyAndPrefixOnAnotherKey) {
  MutableMenuEntry(1)->MenuEntry[1] = 1;
  BrowseProcedures p;
  p.prepare = [](std::int16_t, std::string* start, std::string* prefix) -> std::int16_t {
    *start = "ab";
    *prefix = "ab";
    return 0;
  };
  p.format_line = [this](std::int16_t) { return Area().substr(0, 5); };
  SetBrowseProcedures(p);
  std::vector<std::string> rows;
  at_wait_ = [&](int) { rows = {ListRow(1), ListRow(2), ListRow(3)}; };
  // Three records have key 1 beginning "ab"; PgDn finds nothing after them.
  EXPECT_EQ(Run({keys::kPgDn, keys::kDown, keys::kDown, keys::kDown, keys::kEnter}), 0);
  EXPECT_EQ(rows[0].substr(0, 5), "Aab 1");
  EXPECT_EQ(rows[1].substr(0, 5), "Eab 5");
  EXPECT_EQ(rows[2].substr(0, 5), "Fab 6");
  EXPECT_EQ(Area(), Rec("Fab 6"));
}

// The prefix is compared in the collating form of the list's key. It used to
// be converted by the key the file was on before the list's first read
// (another key, or key 0 of a file just opened), and an empty prefix on a
// key with a binary segment became zero bytes that no key begins with.
TEST_F(BrowseSourceTest, PrefixInTheCollatingFormOfTheListsKeyAndEmptyMeansAll) {
  // Records: a 2-byte little-endian number, then 4 letters. Key 0: the
  // number (binary); key 1: the letters, through a table that folds small
  // letters onto capitals; key 2: both.
  TestFileSpec file_spec;
  file_spec.keys = {{{1, 2, 0x5}}, {{3, 4, 0x21}}, {{1, 2, 0x5}, {3, 4, 0x21}}};
  file_spec.collating_table.resize(256);
  for (int b = 0; b < 256; ++b) {
    file_spec.collating_table[static_cast<std::size_t>(b)] =
        static_cast<char>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
  }
  auto rec = [](int number, const char* letters) {
    return std::string{static_cast<char>(number & 0xFF), static_cast<char>(number >> 8)} +
           letters + "  ";
  };
  ASSERT_EQ(CreateFile(root() + "CODES.dat", file_spec), kStatusOk);
  Insert(root() + "CODES.dat", {rec(0x102, "abXY"), rec(5, "ABcd"), rec(0x201, "Abzz"),
                                rec(5, "zzzz"), rec(0x300, "aBcd"), rec(5, "abqq")});
  constexpr std::int16_t kCodes = 13;
  std::int16_t st = -1;
  DbOpen(kCodes, root() + "CODES", area_, sizeof area_, &st);
  ASSERT_EQ(st, kStatusOk);
  // Eight lines, so that every record of the file can show.
  MutableMenuEntry(1)->MenuEntry = {kCodes, 0, 3, 1, 12, 22, 0, 0};
  const std::string two_bytes_five("\x05\x00", 2);

  struct Case {
    const char* what;
    std::int16_t list_key;
    std::int16_t callers_key;  // the key the file is on when the list opens
    std::string start;
    std::string prefix;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"binary key, empty prefix: all", 0, 0, "", "",
       {"5 ABcd", "5 zzzz", "5 abqq", "258 abXY", "513 Abzz", "768 aBcd"}},
      {"binary key, whole number as prefix", 0, 0, "", two_bytes_five,
       {"5 ABcd", "5 zzzz", "5 abqq"}},
      {"binary key while the file is on the collated one", 0, 1, "", two_bytes_five,
       {"5 ABcd", "5 zzzz", "5 abqq"}},
      {"collated key, empty prefix: all", 1, 0, "", "",
       {"5 ABcd", "768 aBcd", "5 abqq", "258 abXY", "513 Abzz", "5 zzzz"}},
      {"collated key, small letters", 1, 0, "", "ab",
       {"5 ABcd", "768 aBcd", "5 abqq", "258 abXY", "513 Abzz"}},
      {"collated key, from a start key", 1, 0, "abq", "AB", {"5 abqq", "258 abXY", "513 Abzz"}},
      {"both segments", 2, 1, two_bytes_five, two_bytes_five + "aB", {"5 ABcd", "5 abqq"}},
      {"both segments, empty prefix: all", 2, 0, "", "",
       {"5 ABcd", "5 abqq", "5 zzzz", "258 abXY", "513 Abzz", "768 aBcd"}},
  };
  for (const Case& c : cases) {
    DbFind(kCodes, c.callers_key, "", 1, &st);
    ASSERT_EQ(st, kStatusOk) << c.what;
    MutableMenuEntry(1)->MenuEntry[1] = c.list_key;
    BrowseProcedures p;
    p.prepare = [&c](std::int16_t, std::string* start, std::string* prefix) -> std::int16_t {
      *start = c.start;
      *prefix = c.prefix;
      return 0;
    };
    p.format_line = [this](std::int16_t) {
      const int number = static_cast<std::uint8_t>(area_[0]) |
                         static_cast<std::uint8_t>(area_[1]) << 8;
      return std::to_string(number) + " " + std::string(area_ + 2, 4);
    };
    SetBrowseProcedures(p);
    std::vector<std::string> shown;
    at_wait_ = [&](int) {
      for (int i = 1; i <= 8; ++i) {
        const std::string row(TrimRight(ListRow(i)));
        if (!row.empty()) shown.push_back(row);
      }
    };
    EXPECT_EQ(Run({keys::kEsc}), -1) << c.what;
    EXPECT_EQ(shown, c.lines) << c.what;
  }
  DbClose(kCodes, &st);
}

TEST_F(BrowseSourceTest, AFileThatIsNotOpenGivesAnEmptyListAndNoChoice) {
  MutableMenuEntry(1)->MenuEntry[0] = 30;
  EXPECT_EQ(Run({keys::kEnter}), -1);
  EXPECT_EQ(lock_mode_seen_, -1) << "no line was formatted";
  EXPECT_EQ(DataFileBrowseSource().ReadAt(30, 5), kStatusFileNotOpen);
  EXPECT_EQ(DataFileBrowseSource().ReadAt(kFile, 0), -1);
}

TEST_F(BrowseSourceTest, ThisProgramsEmptyProceduresShowAnEmptyWindow) {
  SetBrowseProcedures(DefaultBrowseProcedures());
  MutableMenuEntry(1)->MenuText = "_LLETRES_";
  at_wait_ = [&](int) {
    EXPECT_EQ(Row(3).substr(0, 22), "\xC9 LLETRES " + std::string(11, '\xCD') + "\xBB");
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(ListRow(i), std::string(20, ' '));
  };
  EXPECT_EQ(Run({keys::kDown, keys::kEnter}), -1);
}

}  // namespace
}  // namespace kel::testing
