// The data-file converters: nineteen files whose records carry each
// language-dependent text once per language, in fixed-width columns, plus
// the text the applications show (`CurrentText`). Converting a file visits
// every record in key-0 order, copies the chosen language's column over
// `CurrentText` and writes the record back at once; every other byte is
// carried through unchanged. The nineteen converters are one mechanism
// (RunConverter) over one table with a row per file.
//
// Record columns (offsets from 0, all of the file's width, blank-padded
// code page 850):
//
// clang-format off
//  converter       label    path            file lock     Cur wide  CAT  GLG  OCI Other key shown
//  ConvertMenu     MENU     menu             33 -         20   40   74  114  154   194 as is
//  ConvertUPaisos  UPAISOS  TAULES\UPaisos  293 -          2   45   62  107  197   152 as is
//  ConvertUVies    UVIES    TAULES\UVies    148 -          2   15   17   32   47    62 as is
//  ConvertUCae     UCAE     TAULES\UCae     138 -         11  250  261  511  761  1011 1-5,6-9 exp.
//  ConvertUTerrito UTERRITO TAULES\UTerrito 270 -          1   10   11   21   31    41 expanded
//  ConvertFAmoCoef FAMOCOEF TAULES\FAmoCoef 142 -         18  350  368  718    -  1068 as is
//  ConvertFGruBal  FGRUBAL  TAULES\FGruBal  242 -          4   40   44   84  124   164 expanded
//  ConvertNCra     NCRA     TAULES\NCra     271 -          2   40   42   82  122   162 expanded
//  ConvertNMotius  NMOTIUS  TAULES\NMotius  166 -          1   37   38  112   75   149 expanded
//  ConvertNTipConc NTIPCONC TAULES\NTipConc 134 -          1   25   26   51    -    76 expanded
//  ConvertHConcept HCONCEPT DADES\HConcept   49 HConcept   3   20   27   47   87    67 as is
//  ConvertHDespesa HDESPESA DADES\HDespesa    5 HDespesa   3   25   30   55  105    80 as is
//  ConvertHOperaci HOPERACI HOperaci         58 -          4   30   44   74  104   134 as is
//  ConvertNCnvConc NCNVCONC DADES\NCnvConc  133 NCnvConc   5   40   71  111    -   151 1-2 expanded
//  ConvertRConcept RCONCEPT DADES\RConcept  122 RConcept   3   30   48   78    -   108 as is
//  ConvertVConcept VCONCEPT DADES\VConcept    3 VConcept   3   20   31   51   91    71 as is
//  ConvertVDesglos VDESGLOS DADES\VDesglos  140 VDesglos   1   20   21   41   81    61 as is
//  ConvertVDespesa VDESPESA DADES\VDespesa    2 VDespesa   3   25   30   55  105    80 as is
//  ConvertVOperaci VOPERACI VOperaci         50 -          4   30   44   74  104   134 as is
//   (file: the file number; Cur: offset of CurrentText; wide: its width and that of each
//   language column; key shown: how the progress line shows the key, see KeyShown.)
// clang-format on
//
// The rows after the menu file are `ConversionFileList`, in the order in
// which the files are checked at start-up and converted: nine code tables,
// then nine data files.
//
// The language code is compared byte for byte with "CAT", "GLG" and "OCI"
// (the whole value: "CAT " is none of them); "OCI" in a file without an
// Aranese column, and every other value ("SPA" among them), selects the
// column `TextOther`.
//
// Progress: row 1 of the current window shows the label at column 2 and,
// from column 11, `ProgressLine`: the current key (DbKeyText) as the row's
// style shows it, cut or blank-padded to 67 characters.
#ifndef KEL_CONVERT_CONVERTERS_H_
#define KEL_CONVERT_CONVERTERS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

// How the progress line shows the current key.
enum class KeyShown : std::int8_t {
  kAsIs,              // the key text unchanged
  kExpanded,          // ExpandDigitBytes of the whole key text
  kFirstTwoExpanded,  // ExpandDigitBytes of characters 1-2, then the rest
  kFiveThenFour,      // characters 1-5 as they are, 6-9 expanded, the rest dropped
};

struct ConverterRow {
  const char* converter;  // the operation's name, for messages and tests
  const char* label;      // 8 characters
  const char* path;       // logical path under InstallRoot
  std::int16_t file_number;
  const char* lock;  // whole-file lock name, nullptr: none
  int current;       // offset of CurrentText
  int width;         // width of CurrentText and of every language column
  int text_cat;
  int text_glg;
  int text_oci;  // -1: the file has no Aranese column
  int text_other;
  KeyShown key_shown;
  bool code_table;  // one of the nine code tables ("/TAULES" converts only those)
};

inline constexpr int kConverterCount = 19;
inline constexpr std::int16_t kMenuFileNumber = 33;
inline constexpr std::size_t kProgressWidth = 67;
// Every file's record area: the data-file layer's whole transfer buffer, so
// an area is never shorter than a record the layer can move.
inline constexpr std::size_t kRecordAreaSize = 1536;

// Row 0: the menu file; rows 1..18: `ConversionFileList`.
std::span<const ConverterRow> ConverterTable();
std::span<const ConverterRow> ConversionFileList();
const ConverterRow& MenuConverter();

// The record area registered for `row`'s file (kRecordAreaSize bytes). One
// per row, alive for the whole run.
std::uint8_t* RecordArea(const ConverterRow& row);

// The offset of the column that `language` selects in `row`'s records.
int SourceColumn(const ConverterRow& row, std::string_view language);

// `ProgressLine` for a key text: exactly kProgressWidth characters.
std::string ProgressText(std::string_view key_text, KeyShown style);

// What the converters met that the screen does not show: records that still
// do not hold the chosen text after their rewrite, and scans that ended
// before the end of their file. Read at the end of the run to tell a
// complete conversion from an incomplete one.
struct ConversionTally {
  std::int64_t records = 0;        // records reached
  std::int64_t not_converted = 0;  // of those, still not holding the chosen column
  std::string first_problem;       // the first problem, as a sentence
  // Each file that was not converted completely, in the order of the run.
  struct FileProblem {
    std::string path;  // the logical path ("TAULES\UPaisos")
    std::int64_t records = 0;
    std::int64_t not_converted = 0;
    std::string reason;  // a sentence, without the path
    // The file looks damaged (its key 0 did not reach every record, or a
    // read answered 2): a new run cannot finish it; `recutil check` can.
    bool damaged = false;
  };
  std::vector<FileProblem> files;
};
ConversionTally& Tally();
void ResetTally();

// What the last RunConverter call saw of its file, read by the driver when
// it closes the file.
struct ConverterRun {
  const ConverterRow* row = nullptr;
  std::int64_t records = 0;        // records reached
  std::int64_t not_converted = 0;  // of those, seen not holding the chosen column
  // The first status that means acknowledged rewrites were lost (a file
  // whose commit failed reports it until it is closed: at the commit after
  // the scan, or at Close); 0 when there was none. After such a
  // status the counts above cannot be trusted: the file must be counted
  // again (RecountFile).
  std::int16_t lost_work_status = 0;
  // The status that ended the scan before the end of the file (records
  // not reached); 0 when it reached the end (or was interrupted).
  std::int16_t scan_status = 0;
  bool lock_refused = false;  // the lock file could not be used: nothing rewritten
  bool interrupted = false;   // a termination signal stopped the scan
  // The scan reached the end of key 0 but not every record of the file (a
  // damaged index holds fewer entries than the file has records): how many
  // key 0 reached, and how many records Stat counts. `records` and
  // `not_converted` then come from a count in physical order. -1: not so.
  std::int64_t reached_by_key = -1;
  std::int64_t counted_by_stat = 0;
  // When that count in physical order stopped before the end: its status.
  std::int16_t physical_status = 0;
  // Key 0, read again, still does not reach every record: its index is
  // damaged (else other programs added the records during the scan).
  bool keys_short = false;
  // The status of the first rewrite that failed; 0 when none did.
  std::int16_t failed_update_status = 0;
  // The file must be closed and counted again (SettleConverterRun).
  bool NeedsCount() const { return lost_work_status != 0 || scan_status != 0; }
};
const ConverterRun& LastConverterRun();
// Adds a status that may mean lost work to the last run (the driver's Close).
void NoteLostWork(std::int16_t status);

// Reads the open file of `row` in key-0 order, rewriting nothing, and
// counts its records and those whose CurrentText is not the column that
// `language` selects. false when the scan did not reach the end of the file
// (the counts then cover what was read).
[[nodiscard]] bool CountNotConverted(const ConverterRow& row, const std::string& language,
                                     std::int64_t* records, std::int64_t* not_converted);

// After a run that NeedsCount() (lost work, or a scan that stopped early)
// and with the file closed: opens it again (without the fatal open failure), counts
// what it really holds, and puts the true numbers into the tally in place
// of what the scan had counted, with the file among `files`. A run whose
// lock file could not be used, or that a signal interrupted, is recorded
// there too. The file is left open only when `keep_open` (the menu file).
void SettleConverterRun(const std::string& language, bool keep_open);

// One conversion of `row`'s file to `language`. Preconditions: the file is
// open under its file number with RecordArea(row) registered; the window
// for the progress line is the current one. The whole-file lock, when the
// row has one, is taken before the first read (waiting while another
// station holds it) and released after the last write. Every record
// reached is rewritten, also when it holds the chosen text already; a
// failed rewrite leaves that record as it was and the scan goes on; any
// status other than 0 from positioning or stepping ends the scan, and so
// does a termination signal (at the record boundary). The rewrites are
// committed before the lock is released, and the commit's status is
// checked. A file whose lock file cannot be used (a directory in its
// place, no write permission) is not rewritten at all: a file with a lock
// is never rewritten without it. A scan that reaches the end of the file
// is checked against the record count of Stat; only when they differ are the
// records counted in physical order, and records found there that do not
// hold the new text make the file incomplete (a damaged index can end the
// scan early as if at the end). LastConverterRun() tells what happened.
void RunConverter(const ConverterRow& row, const std::string& language);

// The nineteen converters, as entries into RunConverter.
void ConvertMenu(const std::string& language);
void ConvertUPaisos(const std::string& language);
void ConvertUVies(const std::string& language);
void ConvertUCae(const std::string& language);
void ConvertUTerrito(const std::string& language);
void ConvertFAmoCoef(const std::string& language);
void ConvertFGruBal(const std::string& language);
void ConvertNCra(const std::string& language);
void ConvertNMotius(const std::string& language);
void ConvertNTipConc(const std::string& language);
void ConvertHConcept(const std::string& language);
void ConvertHDespesa(const std::string& language);
void ConvertHOperaci(const std::string& language);
void ConvertNCnvConc(const std::string& language);
void ConvertRConcept(const std::string& language);
void ConvertVConcept(const std::string& language);
void ConvertVDesglos(const std::string& language);
void ConvertVDespesa(const std::string& language);
void ConvertVOperaci(const std::string& language);

// The converter of a row (ConvertMenu for row 0...).
using Converter = void (*)(const std::string& language);
Converter ConverterOf(const ConverterRow& row);

}  // namespace kel

#endif  // KEL_CONVERT_CONVERTERS_H_
