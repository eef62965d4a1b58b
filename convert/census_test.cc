// The census: exact counts on installations whose language columns are
// blanked at random, checked against the sample layouts' own columns (not
// the converters' table the census uses); the report in four languages and
// as CSV; an installation left byte for byte as it was; missing, unopenable,
// damaged and locked files.
#include "convert/census.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "convert/census_command.h"
#include "convert/census_report.h"
#include "convert/language_text.h"
#include "convert/test_support.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "gtest/gtest.h"
#include "platform/signals.h"
#include "recman/recman.h"
#include "startup/session.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

using testing::FieldOffset;
using testing::InstallationTest;
using testing::ReadRecords;
using testing::RewriteRecords;
using testing::SampleLayout;

// ---------------------------------------------------------------------------
// One record, counted.

const ConverterRow& RowOf(std::string_view path) {
  for (const ConverterRow& row : ConverterTable()) {
    if (path == row.path) return row;
  }
  ADD_FAILURE() << path;
  return ConverterTable()[0];
}

// A record area of `row` whose columns hold the given texts ("" = blanks,
// "-" = zero bytes) and whose CurrentText holds `current`.
std::array<std::uint8_t, kRecordAreaSize> Area(const ConverterRow& row, const char* current,
                                               const char* cat, const char* glg, const char* oci,
                                               const char* other) {
  std::array<std::uint8_t, kRecordAreaSize> area;
  area.fill('#');
  const auto width = static_cast<std::size_t>(row.width);
  auto put = [&](int offset, const char* text) {
    if (offset < 0) return;
    const std::string bytes =
        std::string(text) == "-" ? std::string(width, '\0') : FixedText(text, width);
    std::copy(bytes.begin(), bytes.end(), area.begin() + offset);
  };
  put(row.text_cat, cat);
  put(row.text_glg, glg);
  put(row.text_oci, oci);
  put(row.text_other, other);
  put(row.current, current);
  return area;
}

TEST(CensusRecordTest, EachLanguageCountsTheColumnItsConversionCopies) {
  using Counts = std::array<std::int64_t, kCensusLanguageCount>;  // CAT SPA GLG OCI
  struct Case {
    const char* what;
    const char* path;
    const char* current;
    const char* cat;
    const char* glg;
    const char* oci;
    const char* other;
    Counts showing;
    std::int64_t none;
    Counts blank;
  } cases[] = {
      // clang-format off
      //  what                              file                current cat   glg    oci          other  showing     none blank
      {"shows Catalan",                     "DADES\\HConcept",  "Pa",   "Pa", "Pan", "Pan d'Aran", "Pan", {1, 0, 0, 0}, 0, {0, 0, 0, 0}},
      {"Spanish and Galician alike",        "DADES\\HConcept",  "Pan",  "Pa", "Pan", "Pa",         "Pan", {0, 1, 1, 0}, 0, {0, 0, 0, 0}},
      {"shows none",                        "DADES\\HConcept",  "Vell", "Pa", "Pan", "Pan",        "Pan", {0, 0, 0, 0}, 1, {0, 0, 0, 0}},
      {"blank Aranese column",              "DADES\\HConcept",  "Pa",   "Pa", "Pan", "",           "Pan", {1, 0, 0, 0}, 0, {0, 0, 0, 1}},
      {"zero bytes are blank",              "TAULES\\NMotius",  "Pa",   "Pa", "-",   "Pan",        "Pan", {1, 0, 0, 0}, 0, {0, 0, 1, 0}},
      {"a blank text shows a blank column", "TAULES\\NMotius",  "",     "Pa", "",    "Pan",        "Pan", {0, 0, 1, 0}, 0, {0, 0, 1, 0}},
      // No Aranese column: "OCI" is the Spanish column, for both counts.
      {"no Aranese column, blank Spanish",  "TAULES\\FAmoCoef", "Pa",   "Pa", "Pan", "",           "",    {1, 0, 0, 0}, 0, {0, 1, 0, 1}},
      {"no Aranese column, shows Spanish",  "DADES\\RConcept",  "Pan",  "Pa", "Pao", "",           "Pan", {0, 1, 0, 1}, 0, {0, 0, 0, 0}},
      {"every column blank",                "menu",              "",     "",   "",    "",           "",    {1, 1, 1, 1}, 0, {1, 1, 1, 1}},
      // clang-format on
  };
  for (const Case& c : cases) {
    const ConverterRow& row = RowOf(c.path);
    const auto area = Area(row, c.current, c.cat, c.glg, c.oci, c.other);
    CensusFile file;
    CountCensusRecord(row, area.data(), &file);
    CountCensusRecord(row, area.data(), &file);
    EXPECT_EQ(file.records, 2) << c.what;
    for (int i = 0; i < kCensusLanguageCount; ++i) {
      EXPECT_EQ(file.showing[i], 2 * c.showing[i]) << c.what << " " << kCensusLanguages[i];
      EXPECT_EQ(file.blank_after[i], 2 * c.blank[i]) << c.what << " " << kCensusLanguages[i];
    }
    EXPECT_EQ(file.showing_none, 2 * c.none) << c.what;
  }
}

TEST(CensusRecordTest, SwitchesAreFoundAnywhereInAnyCase) {
  struct Case {
    const char* line;
    bool census;
    bool csv;
  } cases[] = {
      {"/INFORME", true, false},       {"/informe /csv", true, true}, {"x/InFoRmEy", true, false},
      {"/AUTO /TAULES", false, false}, {"/INFORM", false, false},     {"/CS", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CensusRequested(c.line), c.census) << c.line;
    EXPECT_EQ(CensusCsvRequested(c.line), c.csv) << c.line;
  }
  EXPECT_EQ(CensusRows(false).size(), 19u);
  ASSERT_EQ(CensusRows(true).size(), 10u);
  EXPECT_EQ(CensusRows(true)[0], &MenuConverter());
  EXPECT_STREQ(CensusRows(true)[9]->path, "TAULES\\NTipConc");
}

// ---------------------------------------------------------------------------
// The census of a whole installation.

// Expected figures of one file, from the records and the sample layout.
struct Expected {
  std::int64_t records = 0;
  std::array<std::int64_t, kCensusLanguageCount> showing{};
  std::int64_t none = 0;
  std::array<std::int64_t, kCensusLanguageCount> blank{};
};

// The column of a language by the layout's field names: TextOther for
// "SPA", and for "OCI" in a file without TextOCI.
int LayoutColumn(const FileLayout& layout, std::string_view language) {
  if (language == "CAT") return FieldOffset(layout, "TextCAT");
  if (language == "GLG") return FieldOffset(layout, "TextGLG");
  if (language == "OCI" && FieldOffset(layout, "TextOCI") >= 0) {
    return FieldOffset(layout, "TextOCI");
  }
  return FieldOffset(layout, "TextOther");
}

bool Blank(std::string_view text) {
  return text.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos;
}

class CensusTest : public InstallationTest {
 protected:
  struct Outcome {
    int code = -1;
    std::vector<std::string> lines;
    std::string csv;
    std::vector<std::string> errors;
  };

  void TearDown() override {
    SetTerminationSignalForTesting(0);
    InstallationTest::TearDown();
  }

  // The session as the program sets it up for the census.
  void StartCensus(const std::string& language = "CAT") {
    SetTerminalLanguage(language);
    ResetLanguageText();
    LanguageText().CreateMissingFile = false;
    SetUpSession();
    Session().ProgramName = "TAVIRENO";
  }

  Outcome Census(bool csv, bool tables_only = false) {
    Outcome o;
    CensusOutput out;
    out.csv = csv;
    out.tables_only = tables_only;
    out.report_line = [&o](std::string_view line) { o.lines.emplace_back(line); };
    out.csv_bytes = [&o](std::string_view bytes) { o.csv.append(bytes); };
    out.error = [&o](std::string_view message) { o.errors.emplace_back(message); };
    o.code = RunCensus(out);
    for (const ConverterRow& row : ConverterTable()) {
      EXPECT_LT(DbSlot(row.file_number), 1) << row.path << " is closed";
    }
    return o;
  }

  // Blanks language columns of every file at random and gives each record
  // one of its columns, a blank or another text as its current text.
  void Scramble(std::uint32_t seed) {
    std::mt19937 random(seed);
    for (const ConverterRow& row : ConverterTable()) {
      const FileLayout& layout = SampleLayout(row.path);
      const auto width = static_cast<std::size_t>(row.width);
      const std::vector<int> columns = {
          FieldOffset(layout, "TextCAT"), FieldOffset(layout, "TextGLG"),
          FieldOffset(layout, "TextOCI"), FieldOffset(layout, "TextOther")};
      const int current = FieldOffset(layout, "CurrentText");
      RewriteRecords(DataPath(row.path), [&](std::string* record, int) {
        for (int column : columns) {
          if (column >= 0 && random() % 6 == 0) record->replace(column, width, width, ' ');
        }
        const unsigned pick = random() % 6;
        if (pick < 4 && columns[pick] >= 0) {
          const std::string column = record->substr(columns[pick], width);
          record->replace(current, width, column);
        } else if (pick == 4) {
          record->replace(current, width, FixedText("ALTRE TEXT", width));
        } else {
          record->replace(current, width, width, ' ');
        }
      });
    }
  }

  Expected Expect(const ConverterRow& row) {
    const FileLayout& layout = SampleLayout(row.path);
    const auto width = static_cast<std::size_t>(row.width);
    const int current = FieldOffset(layout, "CurrentText");
    Expected e;
    for (const std::string& r : ReadRecords(DataPath(row.path))) {
      ++e.records;
      bool any = false;
      for (int i = 0; i < kCensusLanguageCount; ++i) {
        const int column = LayoutColumn(layout, kCensusLanguages[i]);
        if (r.compare(current, width, r, column, width) == 0) {
          ++e.showing[i];
          any = true;
        }
        if (Blank(std::string_view(r).substr(column, width))) ++e.blank[i];
      }
      if (!any) ++e.none;
    }
    return e;
  }

  // Every file of the installation and its bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
      if (entry.is_regular_file()) {
        files[entry.path().string()] = testing::FileBytes(entry.path().string());
      } else {
        files[entry.path().string() + "/"] = "";
      }
    }
    return files;
  }

  static std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos;
         start = at + separator.size()) {
      parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
  }

  static std::string N(std::int64_t n) { return DecimalText(static_cast<long long>(n)); }
};

TEST_F(CensusTest, CountsAreExactForBlanksPlacedAtRandomAndNothingChanges) {
  for (std::uint32_t seed : {7u, 2024u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Scramble(seed);
    StartCensus();
    std::map<const ConverterRow*, Expected> expected;
    Expected total;
    std::array<int, kCensusLanguageCount> files_with_blanks{};
    for (const ConverterRow& row : ConverterTable()) {
      const Expected e = Expect(row);
      expected[&row] = e;
      total.records += e.records;
      total.none += e.none;
      for (int i = 0; i < kCensusLanguageCount; ++i) {
        total.showing[i] += e.showing[i];
        total.blank[i] += e.blank[i];
        if (e.blank[i] > 0) ++files_with_blanks[i];
      }
    }
    ASSERT_GT(total.blank[2], 1) << "the scramble left blanks to count";
    const auto before = Snapshot();

    // The CSV: a fixed header, one line per file in the converters' order.
    const Outcome csv = Census(true);
    EXPECT_EQ(csv.code, 0);
    EXPECT_TRUE(csv.lines.empty()) << "nothing but the CSV";
    EXPECT_TRUE(csv.errors.empty());
    std::vector<std::string> lines = Split(csv.csv, "\r\n");
    ASSERT_EQ(lines.size(), 21u) << csv.csv;
    EXPECT_EQ(lines[0],
              "fitxer,cami,registres,ara_CAT,ara_SPA,ara_GLG,ara_OCI,ara_cap,blanc_CAT,blanc_SPA,"
              "blanc_GLG,blanc_OCI,estat,estat_lectura,convertint");
    EXPECT_EQ(lines[20], "") << "every line ends in CR LF";
    std::size_t at = 1;
    for (const ConverterRow& row : ConverterTable()) {
      const Expected& e = expected[&row];
      std::string want = std::string(TrimRight(row.label)) + "," + row.path + "," + N(e.records);
      for (std::int64_t n : e.showing) want += "," + N(n);
      want += "," + N(e.none);
      for (std::int64_t n : e.blank) want += "," + N(n);
      EXPECT_EQ(lines[at++], want + ",complet,0,");
    }

    // The report, in Catalan: three lines per file, then the totals.
    const Outcome text = Census(false);
    EXPECT_EQ(text.code, 0);
    ASSERT_EQ(text.lines.size(), 7u + 3 * 19 + 1 + 3 + 4);
    EXPECT_EQ(text.lines[1], "TAVIRENO versi\xA2 1.01");
    EXPECT_EQ(text.lines[4], "Idioma actual: CAT");
    at = 7;
    for (const ConverterRow& row : ConverterTable()) {
      const Expected& e = expected[&row];
      EXPECT_EQ(text.lines[at++], std::string(row.label) + " " + row.path + ": " + N(e.records) +
                                      (e.records == 1 ? " registre" : " registres"));
      EXPECT_EQ(text.lines[at++], "  Ara mostren: CAT " + N(e.showing[0]) + ", SPA " +
                                      N(e.showing[1]) + ", GLG " + N(e.showing[2]) + ", OCI " +
                                      N(e.showing[3]) + ", cap " + N(e.none));
      EXPECT_EQ(text.lines[at++], "  Textos en blanc en convertir a: CAT " + N(e.blank[0]) +
                                      ", SPA " + N(e.blank[1]) + ", GLG " + N(e.blank[2]) +
                                      ", OCI " + N(e.blank[3]));
    }
    EXPECT_EQ(text.lines[at++], "");
    EXPECT_EQ(text.lines[at++], "TOTAL, 19 fitxers: " + N(total.records) + " registres");
    at += 2;
    for (int i = 0; i < kCensusLanguageCount; ++i) {
      const std::string code(kCensusLanguages[i]);
      const std::string want =
          total.blank[i] == 0 ? code + ": cap text no quedaria en blanc."
          : total.blank[i] == 1
              ? code + ": 1 text quedaria en blanc, en 1 fitxer."
              : code + ": " + N(total.blank[i]) + " textos quedarien en blanc, en " +
                    (files_with_blanks[i] == 1 ? "1 fitxer."
                                               : N(files_with_blanks[i]) + " fitxers.");
      EXPECT_EQ(text.lines[at++], want);
    }

    // Nothing in the installation changed: data files, dictionaries,
    // configuration, the language file; no db.log, lock or station file.
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(FileExists(root_ + "db.log"));
    EXPECT_FALSE(FileExists(terminal_ + "/LOCKS.TMP"));
  }
}

// The report's words come from the language text file; the figures and
// the CSV do not depend on the language.
TEST_F(CensusTest, TheReportReadsInTheSessionLanguage) {
  Scramble(99);
  StartCensus();
  const std::string csv = Census(true).csv;
  const std::vector<std::string> catalan = Census(false).lines;
  struct Case {
    const char* language;
    const char* intro;    // the session's language, in the banner's lines
    const char* records;  // the first file's line ends so
    const char* showing;
    const char* blank;
    const char* total;
    const char* language_line;  // "%1: %2 ... %3" for GLG's blanks
  } cases[] = {
      {"SPA", "Idioma actual: SPA", " registros",
       "  Ahora muestran: ", "  Textos en blanco al convertir a: ", "TOTAL, 19 ficheros: ",
       "%1: %2 textos quedar\xA1"
       "an en blanco, en %3 ficheros."},
      {"GLG", "Idioma atual: GLG", " registos",
       "  Agora mostram: ", "  Textos em branco ao converter para: ", "TOTAL, 19 ficheiros: ",
       "%1: %2 textos ficariam em branco, em %3 ficheiros."},
      {"OCI", "Lenga actuau: OCI", " registres",
       "  Ara m\x95stren: ", "  T\x8Axtes en blanc en convertir a: ", "TOTAU, 19 fich\x8Ars: ",
       "%1: %2 t\x8Axtes demorarien en blanc, en %3 fich\x8Ars."},
  };
  for (const Case& c : cases) {
    StartCensus(c.language);
    EXPECT_EQ(Census(true).csv, csv) << c.language;
    const std::vector<std::string> lines = Census(false).lines;
    ASSERT_EQ(lines.size(), catalan.size()) << c.language;
    EXPECT_EQ(lines[4], c.intro);
    EXPECT_TRUE(lines[7].ends_with(c.records)) << lines[7];
    EXPECT_TRUE(lines[8].starts_with(c.showing)) << lines[8];
    EXPECT_TRUE(lines[9].starts_with(c.blank)) << lines[9];
    EXPECT_TRUE(lines[65].starts_with(c.total)) << lines[65];
    // The numbers stand where each language puts them.
    const std::string& glg_line = lines[lines.size() - 2];
    const std::string& catalan_glg = catalan[catalan.size() - 2];
    ASSERT_TRUE(catalan_glg.ends_with(" fitxers.")) << catalan_glg;
    const std::string texts = catalan_glg.substr(5, catalan_glg.find(' ', 5) - 5);
    const std::string files =
        catalan_glg.substr(catalan_glg.rfind(", en ") + 5,
                           catalan_glg.rfind(" fitxers") - catalan_glg.rfind(", en ") - 5);
    EXPECT_EQ(glg_line, FillIn(c.language_line, {"GLG", texts, files})) << c.language;
  }
}

// A missing file is reported, not created; without its dictionary the
// conversion would stop there, which the exit code says (3), and the census
// still reads the other files.
TEST_F(CensusTest, AMissingFileIsReportedAndNothingIsCreated) {
  ASSERT_TRUE(DeleteFile(DataPath("DADES\\VDesglos")));
  ASSERT_TRUE(DeleteFile(DataPath("TAULES\\UVies")));
  ASSERT_TRUE(DeleteFile(Native("ddf/UVies.xdf")));
  StartCensus();
  const Outcome text = Census(false);
  EXPECT_EQ(text.code, kExitOpenFailure);
  EXPECT_FALSE(FileExists(DataPath("DADES\\VDesglos")));
  EXPECT_FALSE(FileExists(DataPath("TAULES\\UVies")));
  EXPECT_FALSE(FileExists(Native("ddf/UVies.xdf"))) << "no empty dictionary";
  auto line_after = [&](const std::string& first) {
    for (std::size_t i = 0; i + 1 < text.lines.size(); ++i) {
      if (text.lines[i] == first) return text.lines[i + 1];
    }
    return std::string("(no line \"" + first + "\")");
  };
  EXPECT_EQ(line_after("VDESGLOS DADES\\VDesglos: 0 registres"),
            "  NO EXISTEIX: la conversi\xA2 el crear\x85, sense cap registre, a partir de "
            "ddf\\VDesglos.xdf.");
  EXPECT_EQ(line_after("UVIES    TAULES\\UVies: 0 registres"),
            "  NO EXISTEIX, NI EL SEU DICCIONARI ddf\\UVies.xdf: la conversi\xA2 s'aturaria en "
            "aquest fitxer.");
  ASSERT_EQ(text.errors.size(), 1u);
  EXPECT_EQ(text.errors[0], "NO ES POT ACCEDIR AL FITXER " + root_ + "TAULES\\UVies (12)");
  EXPECT_EQ(text.lines.back(), text.errors[0]);

  const Outcome csv = Census(true);
  EXPECT_EQ(csv.code, kExitOpenFailure);
  EXPECT_NE(
      csv.csv.find("\r\nUVIES,TAULES\\UVies,0,0,0,0,0,0,0,0,0,0,absent_sense_diccionari,12,\r\n"),
      std::string::npos)
      << csv.csv;
  EXPECT_NE(csv.csv.find("\r\nVDESGLOS,DADES\\VDesglos,0,0,0,0,0,0,0,0,0,0,absent,12,\r\n"),
            std::string::npos);
  EXPECT_EQ(std::count(csv.csv.begin(), csv.csv.end(), '\n'), 20) << "every file has its line";
}

// A file that exists but cannot be opened ends the census as it ends a
// conversion: the message with the file and the status, exit code 3.
TEST_F(CensusTest, AFileThatCannotBeOpenedEndsTheCensusWithExitThree) {
  {
    File f;
    ASSERT_EQ(
        OpenFile(DataPath("TAULES\\UCae"), FileAccess::kWriteTruncate, FileShare::kShared, &f),
        FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, "not a data file", 15));
  }
  StartCensus();
  const Outcome text = Census(false);
  EXPECT_EQ(text.code, kExitOpenFailure);
  ASSERT_FALSE(text.errors.empty());
  EXPECT_EQ(text.errors[0], "NO ES POT ACCEDIR AL FITXER " + root_ + "TAULES\\UCae (30)");
  EXPECT_EQ(text.lines.back(), text.errors[0]);
  bool later_file = false;
  for (const std::string& line : text.lines) later_file |= line.starts_with("UTERRITO");
  EXPECT_FALSE(later_file) << "the census stops at the file";
}

// A record manager that ends one file's read early with a status (a damaged
// file, a lock), or raises a termination signal in the middle of a file.
struct Fault {
  std::int16_t file_number = 0;
  int at_step = 0;
  std::int16_t status = kStatusIoError;
  int signal = 0;
  int steps = 0;
};
Fault g_fault;
RecordManagerEntry g_engine = nullptr;

std::int16_t FaultyEntry(std::int16_t op, void* block, void* data, std::uint32_t* length, void* key,
                         std::uint8_t key_length, std::int8_t key_number) {
  const std::int16_t slot = DbSlot(g_fault.file_number);
  if (op == kOpGetNext && slot >= 1 &&
      block == DataFiles().OpenFileTable[static_cast<std::size_t>(slot)].PositionBlock &&
      ++g_fault.steps == g_fault.at_step) {
    if (g_fault.signal != 0) {
      SetTerminationSignalForTesting(g_fault.signal);
    } else {
      return g_fault.status;
    }
  }
  return g_engine(op, block, data, length, key, key_length, key_number);
}

TEST_F(CensusTest, AReadThatStopsEarlyNamesTheFileAndExitsSeventyFive) {
  StartCensus();
  const std::int64_t records = static_cast<std::int64_t>(ReadRecords(DataPath("HOperaci")).size());
  ASSERT_GT(records, 3);
  for (std::int16_t status : {kStatusIoError, kStatusRecordLocked, kStatusFileInUse}) {
    SCOPED_TRACE(status);
    g_fault = Fault{58, 3, status};
    g_engine = SetRecordManagerEntry(&FaultyEntry);
    const Outcome text = Census(false);
    g_fault = Fault{58, 3, status};
    const Outcome csv = Census(true);
    SetRecordManagerEntry(g_engine);
    EXPECT_EQ(text.code, kExitCensusIncomplete);
    EXPECT_EQ(csv.code, kExitCensusIncomplete);
    bool named = false;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
      if (text.lines[i] != "HOPERACI HOperaci: 3 registres") continue;
      named = true;
      EXPECT_EQ(text.lines[i + 3],
                "  NO S'HA POGUT LLEGIR FINS AL FINAL (estat " + N(status) + ").");
    }
    EXPECT_TRUE(named) << "the figures cover the records read";
    EXPECT_EQ(text.errors, std::vector<std::string>{"EL CENS \x90S INCOMPLET: HOperaci"});
    EXPECT_EQ(text.lines.back(), text.errors[0]);
    EXPECT_NE(csv.csv.find(",incomplet," + N(status) + ","), std::string::npos) << csv.csv;
    EXPECT_NE(csv.csv.find("\r\nVOPERACI,"), std::string::npos) << "the census goes on";
  }
}

TEST_F(CensusTest, ATerminationSignalStopsTheCensusWithEveryFileClosed) {
  StartCensus();
  g_fault = Fault{133, 2, 0, 15};
  g_engine = SetRecordManagerEntry(&FaultyEntry);
  const Outcome text = Census(false);
  SetRecordManagerEntry(g_engine);
  EXPECT_EQ(text.code, 128 + 15);
  ASSERT_EQ(text.errors.size(), 1u);
  EXPECT_EQ(text.errors[0], "aturat per " + std::string(TerminationSignalName(15)) +
                                ": el cens \x82s incomplet; no s'ha escrit res.");
  for (const std::string& line : text.lines) EXPECT_FALSE(line.starts_with("NCNVCONC")) << line;
}

// A file whose whole-file lock another station holds is read as it stands,
// and the report says that it was being converted.
TEST_F(CensusTest, AFileBeingConvertedIsReadAndSaidSo) {
  ASSERT_TRUE(MakeDirectory(root_ + "LOCKS"));
  const std::string lock = FixedText("PC-ALTRE", 15) + FixedText("4711", 11) +
                           FixedText(DecimalText(LockClock()), 8) + "F" + "0 " +
                           std::string(40, ' ') + "0 " + std::string(40, ' ') + "\r\n";
  {
    File f;
    ASSERT_EQ(
        OpenFile(root_ + "LOCKS/RConcept.lck", FileAccess::kWriteTruncate, FileShare::kShared, &f),
        FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, lock.data(), lock.size()));
  }
  StartCensus();
  const Outcome text = Census(false);
  EXPECT_EQ(text.code, 0);
  bool said = false;
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    if (!text.lines[i].starts_with("RCONCEPT DADES\\RConcept: ")) continue;
    EXPECT_EQ(text.lines[i + 3], "  El terminal PC-ALTRE l'estava convertint en aquell moment.");
    said = true;
  }
  EXPECT_TRUE(said);
  const Outcome csv = Census(true);
  EXPECT_NE(csv.csv.find(",complet,0,PC-ALTRE\r\n"), std::string::npos) << csv.csv;
  EXPECT_EQ(testing::FileBytes(root_ + "LOCKS/RConcept.lck"), lock) << "the lock is left alone";
}

TEST_F(CensusTest, TablesOnlyReadsTheMenuAndTheCodeTables) {
  StartCensus();
  const Outcome csv = Census(true, true);
  EXPECT_EQ(csv.code, 0);
  const std::vector<std::string> lines = Split(csv.csv, "\r\n");
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_TRUE(lines[1].starts_with("MENU,menu,"));
  EXPECT_TRUE(lines[10].starts_with("NTIPCONC,TAULES\\NTipConc,"));
  const Outcome text = Census(false, true);
  EXPECT_NE(std::find_if(text.lines.begin(), text.lines.end(),
                         [](const std::string& l) { return l.starts_with("TOTAL, 10 fitxers: "); }),
            text.lines.end());
}

// ---------------------------------------------------------------------------
// The report's pieces.

TEST(CensusReportTest, CsvFieldsAreQuotedWhereCsvRequiresIt) {
  struct Case {
    const char* field;
    const char* csv;
  } cases[] = {
      {"UPAISOS", "UPAISOS"},
      {"TAULES\\UPaisos", "TAULES\\UPaisos"},
      {"", ""},
      {"PC,1", "\"PC,1\""},
      {"PC \"A\"", "\"PC \"\"A\"\"\""},
      {" PC", "\" PC\""},
      {"PC ", "\"PC \""},
      {"A\r\nB", "\"A\r\nB\""},
  };
  for (const Case& c : cases) EXPECT_EQ(CsvField(c.field), c.csv) << c.field;
}

TEST(CensusReportTest, FillInPutsEachValueInItsPlace) {
  struct Case {
    const char* text;
    const char* out;
  } cases[] = {
      {"%1: %2 textos, en %3 fitxers", "GLG: 312 textos, en 4 fitxers"},
      {"%3 / %1", "4 / GLG"},
      {"%4 %", "%4 %"},
      {"100%", "100%"},
  };
  for (const Case& c : cases) EXPECT_EQ(FillIn(c.text, {"GLG", "312", "4"}), c.out) << c.text;
}

}  // namespace
}  // namespace kel
