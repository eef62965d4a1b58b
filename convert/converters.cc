#include "convert/converters.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "convert/run_messages.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "platform/signals.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/dates.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

using enum KeyShown;

// The columns of each file (see the header's table). The lock name is the
// file's own name in mixed case, the label that name in capitals.
constexpr std::array<ConverterRow, kConverterCount> kTable = {{
    {"ConvertMenu", "MENU    ", "menu", 33, nullptr, 20, 40, 74, 114, 154, 194, kAsIs, false},
    {"ConvertUPaisos", "UPAISOS ", "TAULES\\UPaisos", 293, nullptr, 2, 45, 62, 107, 197, 152, kAsIs,
     true},
    {"ConvertUVies", "UVIES   ", "TAULES\\UVies", 148, nullptr, 2, 15, 17, 32, 47, 62, kAsIs, true},
    {"ConvertUCae", "UCAE    ", "TAULES\\UCae", 138, nullptr, 11, 250, 261, 511, 761, 1011,
     kFiveThenFour, true},
    {"ConvertUTerrito", "UTERRITO", "TAULES\\UTerrito", 270, nullptr, 1, 10, 11, 21, 31, 41,
     kExpanded, true},
    {"ConvertFAmoCoef", "FAMOCOEF", "TAULES\\FAmoCoef", 142, nullptr, 18, 350, 368, 718, -1, 1068,
     kAsIs, true},
    {"ConvertFGruBal", "FGRUBAL ", "TAULES\\FGruBal", 242, nullptr, 4, 40, 44, 84, 124, 164,
     kExpanded, true},
    {"ConvertNCra", "NCRA    ", "TAULES\\NCra", 271, nullptr, 2, 40, 42, 82, 122, 162, kExpanded,
     true},
    {"ConvertNMotius", "NMOTIUS ", "TAULES\\NMotius", 166, nullptr, 1, 37, 38, 112, 75, 149,
     kExpanded, true},
    {"ConvertNTipConc", "NTIPCONC", "TAULES\\NTipConc", 134, nullptr, 1, 25, 26, 51, -1, 76,
     kExpanded, true},
    {"ConvertHConcept", "HCONCEPT", "DADES\\HConcept", 49, "HConcept", 3, 20, 27, 47, 87, 67, kAsIs,
     false},
    {"ConvertHDespesa", "HDESPESA", "DADES\\HDespesa", 5, "HDespesa", 3, 25, 30, 55, 105, 80, kAsIs,
     false},
    {"ConvertHOperaci", "HOPERACI", "HOperaci", 58, nullptr, 4, 30, 44, 74, 104, 134, kAsIs, false},
    {"ConvertNCnvConc", "NCNVCONC", "DADES\\NCnvConc", 133, "NCnvConc", 5, 40, 71, 111, -1, 151,
     kFirstTwoExpanded, false},
    {"ConvertRConcept", "RCONCEPT", "DADES\\RConcept", 122, "RConcept", 3, 30, 48, 78, -1, 108,
     kAsIs, false},
    {"ConvertVConcept", "VCONCEPT", "DADES\\VConcept", 3, "VConcept", 3, 20, 31, 51, 91, 71, kAsIs,
     false},
    {"ConvertVDesglos", "VDESGLOS", "DADES\\VDesglos", 140, "VDesglos", 1, 20, 21, 41, 81, 61,
     kAsIs, false},
    {"ConvertVDespesa", "VDESPESA", "DADES\\VDespesa", 2, "VDespesa", 3, 25, 30, 55, 105, 80, kAsIs,
     false},
    {"ConvertVOperaci", "VOPERACI", "VOperaci", 50, nullptr, 4, 30, 44, 74, 104, 134, kAsIs, false},
}};

// Every column must lie inside the record area: the copy below relies on it.
constexpr bool ColumnsFit() {
  for (const ConverterRow& row : kTable) {
    for (int offset : {row.current, row.text_cat, row.text_glg, row.text_oci, row.text_other}) {
      if (offset < -1 || offset + row.width > static_cast<int>(kRecordAreaSize)) return false;
    }
  }
  return true;
}
static_assert(ColumnsFit());

std::array<std::array<std::uint8_t, kRecordAreaSize>, kConverterCount>& Areas() {
  static std::array<std::array<std::uint8_t, kRecordAreaSize>, kConverterCount> areas{};
  return areas;
}

std::size_t RowIndex(const ConverterRow& row) {
  const std::ptrdiff_t index = &row - kTable.data();
  // Rows come from the table; anything else would be a programming error,
  // and gets the menu's row rather than memory outside the table.
  return index >= 0 && index < kConverterCount ? static_cast<std::size_t>(index) : 0;
}

void NoteProblem(const std::string& what) {
  if (Tally().first_problem.empty()) Tally().first_problem = what;
}

ConverterRun& LastRun() {
  static ConverterRun run;
  return run;
}

// Why a file was not converted completely, for the administrator's message:
// Catalan texts (code page 850), keys of the language text file, with places
// for their values.
constexpr char kReasonCommitFailed[] =
    "s'han desfet reescriptures: una confirmaci\xA2 ha fallat amb l'estat %1";
constexpr char kReasonStopped[] =
    "la conversi\xA2 s'ha aturat amb l'estat %1 abans del final del fitxer";
constexpr char kReasonNotReadBack[] =
    ", i el fitxer no s'ha pogut tornar a llegir fins al final (estat %1)";
constexpr char kReasonLockFile[] = "el seu fitxer de bloqueig %1";
constexpr char kReasonInterrupted[] = "l'execuci\xA2 s'ha interromput";
constexpr char kReasonKeyShort[] = "la clau 0 ha arribat a %1 dels %2 registres que compta el fitxer";
constexpr char kReasonPhysical[] =
    ", i el fitxer no s'ha pogut llegir fins al final en ordre f\xA1sic (estat %1)";
constexpr char kReasonAdded[] = "; mentrestant altres programes hi han afegit registres";
constexpr char kReasonNotRewritten[] = "alguns registres no s'han pogut reescriure";
constexpr char kReasonStatus[] = " (estat %1)";
// What the reason of a file that looks damaged adds: the way out.
constexpr char kDamageAdvice[] =
    ": pot ser que el fitxer estigui malm\x8As; recutil check diu qu\x8A hi ha de malm\x8As i "
    "recutil check --repair en ref\x85 les claus";
// The first problem of the run, when no file is named otherwise.
constexpr char kProblemKeyShort[] =
    "la clau 0 de %1 ha arribat a %2 dels %3 registres que compta el fitxer";
constexpr char kProblemLockFile[] = "%1 no s'ha convertit: el seu fitxer de bloqueig %2";
constexpr char kProblemNotRewritten[] = "un registre de %1 no s'ha pogut reescriure (estat %2)";
constexpr char kProblemStopped[] =
    "la conversi\xA2 de %1 s'ha aturat amb l'estat %2 abans del final del fitxer";

std::string Reason(const char* catalan, std::initializer_list<std::string_view> values = {}) {
  return TranslatedMessage(catalan, values);
}

// Counts the records of the open file of `row`, in key-0 order or in
// physical order, and those whose CurrentText is not the column that
// `language` selects. Returns the status that ended the count: 9 when it
// reached the end.
std::int16_t CountRecords(const ConverterRow& row, const std::string& language, bool physical,
                          std::int64_t* records, std::int64_t* not_converted) {
  const std::uint8_t* area = RecordArea(row);
  const auto width = static_cast<std::size_t>(row.width);
  const int source = SourceColumn(row, language);
  *records = 0;
  *not_converted = 0;
  std::int16_t status = 0;
  if (physical) {
    DbStepPhysical(row.file_number, true, &status);
  } else {
    DbFind(row.file_number, 0, "", 1, &status);
  }
  while (status == 0) {
    ++*records;
    if (std::memcmp(area + row.current, area + source, width) != 0) ++*not_converted;
    if (physical) {
      DbStepPhysical(row.file_number, false, &status);
    } else {
      DbStep(row.file_number, 1, &status);
    }
  }
  return status;
}

// A scan that ended at the end of key 0 reached every record that key
// holds. A damaged index can hold fewer than the file does, and its end then
// looks like the end of the file: Stat's record count tells, cheaply. Only
// when the two differ are the records counted in physical order; the counts
// of the run become that count's when a record there does not hold the new
// text (when every record does, another program added or removed records
// meanwhile and nothing is missing). Key 0 is then read once more: when it
// now reaches as many records as the physical order holds, another program
// added them during the scan; when it still does not, its index is damaged.
void CheckEveryRecordReached(const ConverterRow& row, const std::string& language,
                             ConverterRun* run) {
  std::int16_t st = kStatusOk;
  const std::int64_t in_file = DbRecordCount(row.file_number, &st);
  if (st != kStatusOk || in_file == run->records) return;
  std::int64_t records = 0, not_converted = 0;
  st = CountRecords(row, language, true, &records, &not_converted);
  if (st == kStatusEndOfFile && not_converted == 0) return;
  std::int64_t by_key = 0, by_key_not_converted = 0;
  const std::int16_t key_status =
      CountRecords(row, language, false, &by_key, &by_key_not_converted);
  run->keys_short = key_status != kStatusEndOfFile || st != kStatusEndOfFile || by_key != records;
  run->reached_by_key = run->records;
  run->counted_by_stat = in_file;
  run->physical_status = st == kStatusEndOfFile ? kStatusOk : st;
  Tally().records += records - run->records;
  Tally().not_converted += not_converted - run->not_converted;
  run->records = records;
  run->not_converted = not_converted;
  NoteProblem(Reason(kProblemKeyShort, {row.path, std::to_string(run->reached_by_key),
                                         std::to_string(in_file)}) +
              Reason(run->keys_short ? kDamageAdvice : kReasonAdded));
}

}  // namespace

std::span<const ConverterRow> ConverterTable() { return kTable; }
std::span<const ConverterRow> ConversionFileList() {
  return std::span<const ConverterRow>(kTable).subspan(1);
}
const ConverterRow& MenuConverter() { return kTable[0]; }

std::uint8_t* RecordArea(const ConverterRow& row) { return Areas()[RowIndex(row)].data(); }

int SourceColumn(const ConverterRow& row, std::string_view language) {
  if (language == "CAT") return row.text_cat;
  if (language == "GLG") return row.text_glg;
  if (language == "OCI" && row.text_oci >= 0) return row.text_oci;
  return row.text_other;
}

std::string ProgressText(std::string_view key_text, KeyShown style) {
  switch (style) {
    case kAsIs:
      return FixedText(key_text, kProgressWidth);
    case kExpanded:
      return FixedText(ExpandDigitBytes(key_text), kProgressWidth);
    case kFirstTwoExpanded:
      return FixedText(ExpandDigitBytes(key_text.substr(0, 2)) +
                           std::string(key_text.substr(std::min<std::size_t>(2, key_text.size()))),
                       kProgressWidth);
    case kFiveThenFour: {
      // The key is first laid into the line, so positions 6 to 9 of a short
      // key are blanks, and expand like any byte.
      const std::string line = FixedText(key_text, kProgressWidth);
      return FixedText(line.substr(0, 5) + ExpandDigitBytes(line.substr(5, 4)), kProgressWidth);
    }
  }
  return std::string(kProgressWidth, ' ');
}

ConversionTally& Tally() {
  static ConversionTally tally;
  return tally;
}

void ResetTally() {
  Tally() = ConversionTally();
  LastRun() = ConverterRun();
}

const ConverterRun& LastConverterRun() { return LastRun(); }

void NoteLostWork(std::int16_t status) {
  if (status != kStatusOk && LastRun().lost_work_status == kStatusOk) {
    LastRun().lost_work_status = status;
  }
}

bool CountNotConverted(const ConverterRow& row, const std::string& language, std::int64_t* records,
                       std::int64_t* not_converted) {
  return CountRecords(row, language, false, records, not_converted) == kStatusEndOfFile;
}

void RunConverter(const ConverterRow& row, const std::string& language) {
  std::uint8_t* const area = RecordArea(row);
  const auto width = static_cast<std::size_t>(row.width);
  const int source = SourceColumn(row, language);
  ConverterRun& run = LastRun();
  run = ConverterRun();
  run.row = &row;

  WinLocate(1, 2);
  WriteText(row.label);
  std::string progress_line(kProgressWidth, ' ');
  if (row.lock != nullptr && LockFile(row.lock) != 0) {
    // A file that has a lock is never rewritten without it: another station
    // could be converting or changing it at this very moment.
    run.lock_refused = true;
    NoteProblem(Reason(kProblemLockFile, {row.path, LockFiles().LastProblem}));
    (void)CountNotConverted(row, language, &run.records, &run.not_converted);
    Tally().records += run.records;
    Tally().not_converted += run.not_converted;
    return;
  }

  std::int16_t status = 0;
  DbFind(row.file_number, 0, "", 1, &status);
  while (status == 0) {
    // A termination signal ends the scan between two records: every record
    // is either rewritten whole or not at all.
    if (TerminationSignal() != 0) {
      run.interrupted = true;
      break;
    }
    progress_line = ProgressText(DbKeyText(row.file_number), row.key_shown);
    WinLocate(1, 11);
    WriteText(progress_line);

    std::memmove(area + row.current, area + source, width);
    std::int16_t update_status = 0;
    DbUpdate(row.file_number, &update_status);
    ++Tally().records;
    ++run.records;
    if (update_status != kStatusOk && run.failed_update_status == kStatusOk) {
      run.failed_update_status = update_status;
    }
    // A failed rewrite of this record is counted below by what the re-read
    // shows; whether a failed commit undid rewrites answered 0 is told by
    // the commit after the scan and by Close (a file that lost work reports
    // it until it is closed), not by one status here: a damaged file
    // refuses single rewrites with 2 and undoes nothing else.
    // After the rewrite the area holds the record as stored (re-read after
    // a failure): a record that another program rewrote meanwhile with the
    // same text is converted all the same.
    if (std::memcmp(area + row.current, area + source, width) != 0) {
      ++Tally().not_converted;
      ++run.not_converted;
      NoteProblem(Reason(kProblemNotRewritten, {row.path, std::to_string(update_status)}));
    }
    DbStep(row.file_number, 1, &status);
  }
  if (status != kStatusEndOfFile && !run.interrupted) {
    NoteProblem(Reason(kProblemStopped, {row.path, std::to_string(status)}));
    // Not lost work by itself: a read of a damaged file answers 2 and undoes
    // nothing. A failed commit leaves the file reporting it until it is
    // closed, so the commit below and the driver's Close tell.
    run.scan_status = status;
  } else if (!run.interrupted) {
    CheckEveryRecordReached(row, language, &run);
  }
  // The rewrites are committed before the lock is given back: the next
  // station must find them in the file. Committing also frees the file for
  // other programs' writes while it stays open (the menu file does, to the
  // end of the run). A failed commit undoes rewrites that were answered 0.
  NoteLostWork(DbFlush());
  if (row.lock != nullptr) (void)UnlockFile(row.lock);
}

void SettleConverterRun(const std::string& language, bool keep_open) {
  ConverterRun& run = LastRun();
  if (run.row == nullptr) return;
  const ConverterRow& row = *run.row;
  ConversionTally& tally = Tally();
  ConversionTally::FileProblem problem;
  problem.path = row.path;
  if (run.NeedsCount()) {
    // Count what the file really holds: the rewrites of a failed commit
    // were answered 0 and then undone together, and the records a scan
    // that stopped early never reached are not converted either.
    const std::string why =
        run.lost_work_status != kStatusOk
            ? Reason(kReasonCommitFailed, {std::to_string(run.lost_work_status)})
            : Reason(kReasonStopped, {std::to_string(run.scan_status)});
    std::int64_t records = 0, not_converted = 0;
    std::int16_t st = kStatusOk;
    DbOpenIfPossible(row.file_number, Session().InstallRoot + row.path, RecordArea(row),
                     kRecordAreaSize, &st);
    // Along key 0 first; a file whose keys cannot be read to the end (a
    // damaged index) is counted in physical order.
    if (st == kStatusOk) st = CountRecords(row, language, false, &records, &not_converted);
    if (st != kStatusOk && st != kStatusEndOfFile && DbSlot(row.file_number) >= 1) {
      st = CountRecords(row, language, true, &records, &not_converted);
    }
    if (st == kStatusEndOfFile) {
      tally.records += records - run.records;
      tally.not_converted += not_converted - run.not_converted;
      run.records = records;
      run.not_converted = not_converted;
      problem.reason = why;
    } else {
      // The file cannot be read back to its end. The records the scan never
      // reached count as not converted, as many as Stat counts. After lost
      // work no record of it is known to hold the new text; otherwise the
      // scan's own count stands for what it reached.
      std::int16_t count_status = kStatusFileNotOpen;
      const std::int64_t total =
          DbSlot(row.file_number) >= 1 ? DbRecordCount(row.file_number, &count_status) : 0;
      if (count_status == kStatusOk && total > run.records) {
        const std::int64_t unreached = total - run.records;
        tally.records += unreached;
        tally.not_converted += unreached;
        run.records = total;
        run.not_converted += unreached;
      }
      if (run.lost_work_status != kStatusOk) {
        tally.not_converted += run.records - run.not_converted;
        run.not_converted = run.records;
      }
      problem.reason = why + Reason(kReasonNotReadBack, {std::to_string(st)});
    }
    // An I/O error, in a read or in a commit: the disk, or a file damaged
    // on it; either way the file needs checking before a new run.
    if (run.lost_work_status == kStatusIoError ||
        (run.lost_work_status == kStatusOk && run.scan_status == kStatusIoError)) {
      problem.reason += Reason(kDamageAdvice);
      problem.damaged = true;
    }
    if (!keep_open) DbClose(row.file_number, &st);
    NoteProblem(row.path + std::string(": ") + problem.reason);
  } else if (run.lock_refused) {
    problem.reason = Reason(kReasonLockFile, {LockFiles().LastProblem});
  } else if (run.interrupted) {
    problem.reason = Reason(kReasonInterrupted);
  } else if (run.reached_by_key >= 0) {
    problem.reason = Reason(kReasonKeyShort, {std::to_string(run.reached_by_key),
                                              std::to_string(run.counted_by_stat)});
    if (run.physical_status != kStatusOk) {
      problem.reason += Reason(kReasonPhysical, {std::to_string(run.physical_status)});
    }
    if (run.keys_short) {
      problem.reason += Reason(kDamageAdvice);
      problem.damaged = true;
    } else {
      // Key 0 reaches them now: another program added them during the scan.
      problem.reason += Reason(kReasonAdded);
    }
  } else if (run.not_converted == 0) {
    return;
  } else {
    problem.reason = Reason(kReasonNotRewritten);
    // An I/O error refusing a rewrite: the record's pages are damaged.
    if (run.failed_update_status == kStatusIoError) {
      problem.reason += Reason(kReasonStatus, {"2"});
      problem.reason += Reason(kDamageAdvice);
      problem.damaged = true;
    }
  }
  problem.records = run.records;
  problem.not_converted = run.not_converted;
  tally.files.push_back(std::move(problem));
}

void ConvertMenu(const std::string& language) { RunConverter(kTable[0], language); }
void ConvertUPaisos(const std::string& language) { RunConverter(kTable[1], language); }
void ConvertUVies(const std::string& language) { RunConverter(kTable[2], language); }
void ConvertUCae(const std::string& language) { RunConverter(kTable[3], language); }
void ConvertUTerrito(const std::string& language) { RunConverter(kTable[4], language); }
void ConvertFAmoCoef(const std::string& language) { RunConverter(kTable[5], language); }
void ConvertFGruBal(const std::string& language) { RunConverter(kTable[6], language); }
void ConvertNCra(const std::string& language) { RunConverter(kTable[7], language); }
void ConvertNMotius(const std::string& language) { RunConverter(kTable[8], language); }
void ConvertNTipConc(const std::string& language) { RunConverter(kTable[9], language); }
void ConvertHConcept(const std::string& language) { RunConverter(kTable[10], language); }
void ConvertHDespesa(const std::string& language) { RunConverter(kTable[11], language); }
void ConvertHOperaci(const std::string& language) { RunConverter(kTable[12], language); }
void ConvertNCnvConc(const std::string& language) { RunConverter(kTable[13], language); }
void ConvertRConcept(const std::string& language) { RunConverter(kTable[14], language); }
void ConvertVConcept(const std::string& language) { RunConverter(kTable[15], language); }
void ConvertVDesglos(const std::string& language) { RunConverter(kTable[16], language); }
void ConvertVDespesa(const std::string& language) { RunConverter(kTable[17], language); }
void ConvertVOperaci(const std::string& language) { RunConverter(kTable[18], language); }

Converter ConverterOf(const ConverterRow& row) {
  static constexpr std::array<Converter, kConverterCount> kConverters = {
      ConvertMenu,     ConvertUPaisos,  ConvertUVies,    ConvertUCae,     ConvertUTerrito,
      ConvertFAmoCoef, ConvertFGruBal,  ConvertNCra,     ConvertNMotius,  ConvertNTipConc,
      ConvertHConcept, ConvertHDespesa, ConvertHOperaci, ConvertNCnvConc, ConvertRConcept,
      ConvertVConcept, ConvertVDesglos, ConvertVDespesa, ConvertVOperaci};
  return kConverters[RowIndex(row)];
}

}  // namespace kel
