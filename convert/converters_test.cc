#include "convert/converters.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "convert/test_support.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "gtest/gtest.h"
#include "screen/screen_buffer.h"
#include "tests/support/child_process.h"
#include "util/dates.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

using testing::FieldOffset;
using testing::FileBytes;
using testing::InstallationTest;
using testing::ReadRecords;
using testing::RewriteRecords;
using testing::SampleLayout;

// The column a language selects, from the layout's field names: the
// reference the converters' own table is checked against.
int ExpectedColumn(const FileLayout& layout, const std::string& language) {
  if (language == "CAT") return FieldOffset(layout, "TextCAT");
  if (language == "GLG") return FieldOffset(layout, "TextGLG");
  if (language == "OCI" && FieldOffset(layout, "TextOCI") >= 0)
    return FieldOffset(layout, "TextOCI");
  return FieldOffset(layout, "TextOther");
}

std::string Base(const char* path) {
  const std::string p = path;
  return p.substr(p.rfind('\\') == std::string::npos ? 0 : p.rfind('\\') + 1);
}

// The files, their order and numbers; labels and locks follow the names.
// (The columns are checked by converting, against the layouts' columns.)
TEST(ConverterTableTest, ConversionFileListOrderLabelsAndLocks) {
  const std::vector<std::pair<std::string, int>> expected = {
      {"TAULES\\UPaisos", 293},  {"TAULES\\UVies", 148},    {"TAULES\\UCae", 138},
      {"TAULES\\UTerrito", 270}, {"TAULES\\FAmoCoef", 142}, {"TAULES\\FGruBal", 242},
      {"TAULES\\NCra", 271},     {"TAULES\\NMotius", 166},  {"TAULES\\NTipConc", 134},
      {"DADES\\HConcept", 49},   {"DADES\\HDespesa", 5},    {"HOperaci", 58},
      {"DADES\\NCnvConc", 133},  {"DADES\\RConcept", 122},  {"DADES\\VConcept", 3},
      {"DADES\\VDesglos", 140},  {"DADES\\VDespesa", 2},    {"VOperaci", 50}};
  ASSERT_EQ(ConversionFileList().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ConverterRow& row = ConversionFileList()[i];
    const std::string base = Base(row.path);
    EXPECT_EQ(row.path, expected[i].first) << i;
    EXPECT_EQ(row.file_number, expected[i].second) << i;
    EXPECT_EQ(row.code_table, i < 9) << i;
    EXPECT_EQ(row.converter, "Convert" + base) << i;
    EXPECT_EQ(row.label, FixedText(AsciiUpper(base), 8)) << i;
    const bool data_file = expected[i].first.starts_with("DADES\\");
    EXPECT_EQ(row.lock == nullptr ? "" : std::string(row.lock), data_file ? base : "") << i;
  }
  EXPECT_EQ(MenuConverter().file_number, 33);
  EXPECT_STREQ(MenuConverter().path, "menu");
  EXPECT_STREQ(MenuConverter().label, "MENU    ");
}

TEST(ConverterTableTest, SourceColumnComparesTheWholeCode) {
  const ConverterRow& with_oci = ConverterTable()[10];    // HConcept
  const ConverterRow& without_oci = ConverterTable()[5];  // FAmoCoef
  ASSERT_STREQ(with_oci.converter, "ConvertHConcept");
  ASSERT_STREQ(without_oci.converter, "ConvertFAmoCoef");
  struct Case {
    std::string language;
    int with_oci;
    int without_oci;
  };
  const Case cases[] = {
      {"CAT", 27, 368},  {"GLG", 47, 718},   {"OCI", 87, 1068},  {"SPA", 67, 1068},
      {"cat", 67, 1068}, {"CAT ", 67, 1068}, {"OCI ", 67, 1068}, {"   ", 67, 1068},
      {"", 67, 1068},    {"CA", 67, 1068},   {"GLGX", 67, 1068},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SourceColumn(with_oci, c.language), c.with_oci) << "[" << c.language << "]";
    EXPECT_EQ(SourceColumn(without_oci, c.language), c.without_oci) << "[" << c.language << "]";
  }
}

TEST(ConverterTableTest, ProgressTextPerStyle) {
  using enum KeyShown;
  const std::string long_key(80, 'K');
  std::string twenty_fives;  // byte 0x99 shows as "25"
  for (int i = 0; i < 40; ++i) twenty_fives += "25";
  struct Case {
    KeyShown style;
    std::string key;
    std::string shown;  // before padding to 67
  };
  const Case cases[] = {
      {kAsIs, "ES", "ES"},
      {kAsIs, long_key, std::string(67, 'K')},  // cut at 67
      {kAsIs, "", ""},
      {kExpanded, "\x81\x82", "0102"},
      {kExpanded, std::string(40, '\x99'), twenty_fives},  // doubled, then cut
      {kFirstTwoExpanded,
       "\x80\x8A"
       "ABC",
       "0010ABC"},
      {kFirstTwoExpanded, "\x85", "05"},
      {kFiveThenFour, "CNAE9\x80\x81\x82\x83", "CNAE900010203"},
      {kFiveThenFour, "CNAE9\x80\x81\x82\x83XYZ", "CNAE900010203"},  // after 9: dropped
      {kFiveThenFour, "AB", "AB   32323232"},  // a short key's blanks expand too
      {kFiveThenFour, "", "     32323232"},
  };
  for (const Case& c : cases) {
    const std::string text = ProgressText(c.key, c.style);
    EXPECT_EQ(text.size(), kProgressWidth);
    EXPECT_EQ(text, FixedText(c.shown, kProgressWidth))
        << "style " << static_cast<int>(c.style) << " key [" << c.key << "]";
  }
}

class ConverterTest : public InstallationTest {
 protected:
  // Gives every record distinct texts in each language column, so that a
  // wrong column cannot go unnoticed.
  void MarkColumns(const ConverterRow& row) {
    const FileLayout& layout = SampleLayout(row.path);
    RewriteRecords(DataPath(row.path), [&](std::string* record, int index) {
      for (const char* name : {"CurrentText", "TextCAT", "TextGLG", "TextOCI", "TextOther"}) {
        const int offset = FieldOffset(layout, name);
        if (offset < 0) continue;
        const std::string text = std::string(name) + " #" + std::to_string(index) + " \x82";
        record->replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(row.width),
                        FixedText(text, static_cast<std::size_t>(row.width)));
      }
    });
  }

  void Convert(const ConverterRow& row, const std::string& language) {
    std::int16_t status = 0;
    if (row.file_number != kMenuFileNumber) {
      DbOpen(row.file_number, Session().InstallRoot + row.path, RecordArea(row), kRecordAreaSize,
             &status);
      ASSERT_EQ(status, 0) << row.path;
    }
    ConverterOf(row)(language);
    if (row.file_number != kMenuFileNumber) DbClose(row.file_number, &status);
  }

  int LogLines() {
    const std::string log = FileBytes(Native("db.log"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }
};

TEST_F(ConverterTest, EveryFileTakesTheSelectedColumnAndKeepsEveryOtherByte) {
  ASSERT_TRUE(StartProgram());
  const std::string languages[] = {"SPA", "GLG", "OCI", "CAT", "CAT ", "cat", "   ", "GLG"};
  for (const ConverterRow& row : ConverterTable()) {
    const FileLayout& layout = SampleLayout(row.path);
    MarkColumns(row);
    for (const std::string& language : languages) {
      const std::vector<std::string> before = ReadRecords(DataPath(row.path));
      ASSERT_FALSE(before.empty()) << row.path;
      const int log_before = LogLines();
      Convert(row, language);
      const std::vector<std::string> after = ReadRecords(DataPath(row.path));
      ASSERT_EQ(after.size(), before.size()) << row.path << " [" << language << "]";
      const auto source = static_cast<std::size_t>(ExpectedColumn(layout, language));
      if (row.file_number == 49 && language == "SPA") {
        ASSERT_EQ(source, 67u);  // HConcept: Spanish lies between GLG (47) and OCI (87)
      }
      const auto current = static_cast<std::size_t>(FieldOffset(layout, "CurrentText"));
      const auto width = static_cast<std::size_t>(
          layout.fields[static_cast<std::size_t>(layout.FieldIndex("CurrentText"))].width);
      for (std::size_t i = 0; i < after.size(); ++i) {
        std::string expected = before[i];
        expected.replace(current, width, before[i], source, width);
        ASSERT_EQ(after[i], expected) << row.path << " [" << language << "] record " << i;
      }
      // Every record is written, also when it held the text already.
      EXPECT_EQ(LogLines() - log_before, static_cast<int>(before.size())) << row.path;
    }
  }
  EXPECT_EQ(Tally().not_converted, 0);
  EXPECT_EQ(Tally().first_problem, "");
}

TEST_F(ConverterTest, ProgressLineShowsTheLabelAndTheLastKey) {
  ASSERT_TRUE(StartProgram());
  for (const char* name : {"ConvertUCae", "ConvertUTerrito", "ConvertNCnvConc", "ConvertUPaisos"}) {
    const ConverterRow* row = nullptr;
    for (const ConverterRow& r : ConverterTable()) {
      if (std::string(r.converter) == name) row = &r;
    }
    ASSERT_NE(row, nullptr);
    // Key 0 is made of text and packed-digit segments, which the key text
    // shows as they are stored.
    const FileLayout& layout = SampleLayout(row->path);
    const std::string last = ReadRecords(DataPath(row->path)).back();
    std::string key;
    for (const LayoutSegment& s : layout.keys[0].segments) {
      key += last.substr(
          static_cast<std::size_t>(layout.fields[static_cast<std::size_t>(s.field)].offset),
          static_cast<std::size_t>(s.length));
    }
    PutText(1, 1, std::string(80, 'x'), 7);
    Convert(*row, "SPA");
    EXPECT_EQ(Row(1),
              "x" + std::string(row->label) + "x" + ProgressText(key, row->key_shown) + "xxx")
        << name;
  }
}

TEST_F(ConverterTest, EmptyFileShowsOnlyTheLabel) {
  ASSERT_TRUE(StartProgram());
  const ConverterRow& row = ConverterTable()[16];  // VDesglos, locked
  testing::EmptyFile(DataPath(row.path));
  PutText(1, 1, std::string(80, 'x'), 7);
  Convert(row, "SPA");
  EXPECT_EQ(Row(1), "xVDESGLOSx" + std::string(70, 'x'));
  EXPECT_EQ(Tally().first_problem, "");  // an empty file ends with status 9
  // The lock was taken and given back.
  const std::string lock = FileBytes(Native("LOCKS/VDesglos.lck"));
  ASSERT_EQ(lock.size(), kLockRecordSize);
  EXPECT_EQ(lock[34], ' ');
}

// Another station holds a file's lock when the converter starts; it lets go
// on the converter's first pause. Nothing of the file may be read or
// written before then.
struct HeldLock {
  std::string lock_file;
  std::string data_file;
  std::vector<std::string> records_before;
  int sleeps = 0;
  bool untouched_while_waiting = false;
  bool notice_shown = false;
};

void LetGo(void* context) {
  auto* held = static_cast<HeldLock*>(context);
  if (held->sleeps++ > 0) return;
  held->untouched_while_waiting = ReadRecords(held->data_file) == held->records_before;
  for (int row = 20; row <= 25; ++row) {
    if (ScreenRowText(static_cast<std::int16_t>(row)).find("FITXER BLOQUEJAT") !=
        std::string::npos) {
      held->notice_shown = true;
    }
  }
  std::string bytes = FileBytes(held->lock_file);
  bytes[34] = ' ';  // the other station's record becomes free
  File f;
  (void)OpenFile(held->lock_file, FileAccess::kReadWrite, FileShare::kShared, &f);
  (void)f.WriteAt(0, bytes.data(), bytes.size());
}

TEST_F(ConverterTest, LockedFilesWaitForTheOtherStationAndReleaseTheirLock) {
  ASSERT_TRUE(StartProgram());
  int locked = 0;
  for (const ConverterRow& row : ConversionFileList()) {
    const std::string lock_file = Native("LOCKS/" + Base(row.path) + ".lck");
    if (row.lock == nullptr) {
      Convert(row, "SPA");
      EXPECT_FALSE(FileExists(lock_file)) << row.path << " has no lock";
      continue;
    }
    ++locked;
    std::string other = FixedText("OTHERPC", 15) + FixedText("4242", 11) +
                        FixedText(std::to_string(LockClock()), 8) + "F" + FixedText("0", 2) +
                        std::string(40, ' ') + FixedText("0", 2) + std::string(40, ' ') + "\r\n";
    ASSERT_EQ(other.size(), kLockRecordSize);
    File f;
    ASSERT_EQ(OpenFile(lock_file, FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, other.data(), other.size()));
    f.Close();

    HeldLock held{lock_file, DataPath(row.path), ReadRecords(DataPath(row.path))};
    env_.OnSleep(&LetGo, &held);
    Convert(row, "SPA");
    env_.OnSleep(nullptr, nullptr);

    EXPECT_GE(held.sleeps, 1) << row.path << ": the converter did not wait";
    EXPECT_TRUE(held.untouched_while_waiting) << row.path;
    EXPECT_TRUE(held.notice_shown) << row.path;
    EXPECT_NE(ReadRecords(DataPath(row.path)), held.records_before) << row.path;
    // Our own record went into the other station's freed slot, and was
    // freed in turn (name, number and type blank).
    const std::string lock = FileBytes(lock_file);
    ASSERT_EQ(lock.size(), kLockRecordSize) << row.path;
    EXPECT_EQ(lock.substr(0, 26), std::string(26, ' ')) << row.path;
    EXPECT_EQ(lock[34], ' ') << row.path;
  }
  EXPECT_EQ(locked, 7);
}

// The menu file stays open after its conversion: its rewrites must be
// committed all the same, or every other program's write to it would wait
// (and fail after 30 s) until the end of the run. A second process tries
// one, while this one does nothing more with the file.
// The other process: rewrites every record of the file, unchanged.
TEST(MenuWriterChild, RewritesEveryRecord) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  testing::RewriteRecords(TestArgument("kel-file"), [](std::string*, int) {});
  std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_F(ConverterTest, RewritesAreCommittedWhenTheConverterEnds) {
  const std::string menu = DataPath("menu");
  ASSERT_TRUE(StartProgram());
  ConvertMenu("SPA");
  EXPECT_EQ(RunChildTest("MenuWriterChild.RewritesEveryRecord", {"--kel-file=" + menu}), 0)
      << "the other process could not rewrite the menu file";
}

// A record manager in front of the real one that fails chosen calls.
struct Failure {
  std::int16_t operation = -1;
  int skip = 0;  // calls of that operation to let through first
  std::int16_t status = 0;
};
Failure g_failure;
RecordManagerEntry g_real = nullptr;

std::int16_t FailingEntry(std::int16_t op, void* block, void* data, std::uint32_t* length,
                          void* key, std::uint8_t key_length, std::int8_t key_number) {
  if (op % 100 == g_failure.operation && g_failure.skip-- == 0) return g_failure.status;
  return g_real(op, block, data, length, key, key_length, key_number);
}

TEST_F(ConverterTest, FailuresAreCountedAndTheScanGoesOnOrStops) {
  ASSERT_TRUE(StartProgram());
  const ConverterRow& row = ConverterTable()[2];  // UVies
  const FileLayout& layout = SampleLayout(row.path);
  MarkColumns(row);
  const std::size_t total = ReadRecords(DataPath(row.path)).size();
  ASSERT_GE(total, 4u);
  const auto spanish = static_cast<std::size_t>(FieldOffset(layout, "TextOther"));
  auto converted = [&] {
    std::vector<bool> done;
    for (const std::string& r : ReadRecords(DataPath(row.path))) {
      done.push_back(r.substr(2, 15) == r.substr(spanish, 15));
    }
    return done;
  };

  // The second Update fails: that record keeps its text, the scan goes on.
  g_failure = {3, 1, 84};
  g_real = SetRecordManagerEntry(&FailingEntry);
  Convert(row, "SPA");
  std::vector<bool> done = converted();
  EXPECT_FALSE(done[1]);
  EXPECT_EQ(std::count(done.begin(), done.end(), true), static_cast<long>(total - 1));
  EXPECT_EQ(Tally().records, static_cast<std::int64_t>(total));
  EXPECT_EQ(Tally().not_converted, 1);
  EXPECT_EQ(Tally().first_problem,
            "un registre de TAULES\\UVies no s'ha pogut reescriure (estat 84)");

  // The third Get Next fails: the scan ends there, silently on the screen.
  MarkColumns(row);
  ResetTally();
  g_failure = {6, 2, 2};
  Convert(row, "SPA");
  done = converted();
  EXPECT_EQ(std::count(done.begin(), done.end(), true), 3);
  EXPECT_EQ(Tally().not_converted, 0);
  EXPECT_EQ(Tally().first_problem,
            "la conversi\xA2 de TAULES\\UVies s'ha aturat amb l'estat 2 abans del final del fitxer");
  SetRecordManagerEntry(nullptr);
}

}  // namespace
}  // namespace kel
