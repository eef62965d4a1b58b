// The census of the installation's language texts: before a conversion,
// what would the operators see afterwards? Every record of the converted
// files carries its text once per language, and a blank column shows as a
// blank text once the conversion has copied it. The census reads the menu
// file and each file of ConversionFileList in the converters' order and
// counts, per file, without writing anything:
//   - the records read (in key-0 order, as a converter reads them);
//   - for each language, the records that show it now: their CurrentText
//     equals the column that a conversion to that language would copy;
//     a record whose columns coincide counts under each of them; and the
//     records that show none of the four;
//   - for each language, the records that would show a blank text after a
//     conversion to it: the column copied for it holds only blanks (or zero
//     bytes).
// The column "copied for a language" is SourceColumn (converters.h) of the
// converters' own table, so the four files without an Aranese column count
// their Spanish column for "OCI", exactly as the conversion copies it.
//
// What the census never does: create a file (a missing data file is
// reported, not made from its dictionary; the language text file is not
// made either), write a record (files are opened read-only), append to the
// operation log, write a configuration file, take a whole-file lock or make
// the station's identity. A file of the seven that the converters lock is
// read as it stands while another station converts it, and the census says
// so (WholeFileLockHolder, datafile/lock_files.h).
//
// Globals: reads Session().InstallRoot; the files are open under the
// converters' file numbers with their record areas (converters.h) only
// while each is read.
#ifndef KEL_CONVERT_CENSUS_H_
#define KEL_CONVERT_CENSUS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converters.h"

namespace kel {

// The four languages, in the order every line and column of the census
// gives them.
inline constexpr int kCensusLanguageCount = 4;
inline constexpr std::array<std::string_view, kCensusLanguageCount> kCensusLanguages = {
    "CAT", "SPA", "GLG", "OCI"};

// "/INFORME" and "/CSV", found like "/AUTO": anywhere in the command line,
// in any letter case (plain substring tests).
bool CensusRequested(std::string_view command_line);
bool CensusCsvRequested(std::string_view command_line);

enum class CensusFileState : std::int8_t {
  kRead,               // read to its end
  kIncomplete,         // the read stopped before the end (`status` says why)
  kMissing,            // no such file; a conversion creates it empty from its dictionary
  kMissingDictionary,  // no such file and no usable dictionary: a conversion stops there
};

struct CensusFile {
  const ConverterRow* row = nullptr;
  CensusFileState state = CensusFileState::kRead;
  // The status that ended the read early (kIncomplete), or 12 (missing).
  std::int16_t status = 0;
  std::int64_t records = 0;
  // Indexed like kCensusLanguages.
  std::array<std::int64_t, kCensusLanguageCount> showing{};
  std::int64_t showing_none = 0;
  std::array<std::int64_t, kCensusLanguageCount> blank_after{};
  // The station that held the file's whole-file lock before or after the
  // read (it was being converted meanwhile); empty when none was seen.
  std::string converting_station;
};

// True when the `width` bytes at `text` are all blanks or zero bytes.
bool IsBlankText(const std::uint8_t* text, std::size_t width);

// Counts one record, held in a record area laid out as `row` says, into
// `file` (records, showing, showing_none, blank_after).
void CountCensusRecord(const ConverterRow& row, const std::uint8_t* area, CensusFile* file);

// The rows the census reads, in order: the menu file, the nine code tables
// and, unless `tables_only`, the nine data files.
std::vector<const ConverterRow*> CensusRows(bool tables_only);

// Reads the file of `row` into `*file` (which it resets):
//   - for a row with a lock name, whether a station holds the whole-file
//     lock, looked at before and again after the read;
//   - DbOpenExisting under the row's file number and record area (read-only,
//     nothing created; a file held exclusively is waited for);
//   - missing (12): kMissing, or kMissingDictionary when its dictionary is
//     missing or shorter than its count; returns 0;
//   - any other open status: returned as it is, nothing counted (the
//     caller ends the run as an open failure does);
//   - otherwise every record in key-0 order (DbFind, then DbStep), counted
//     with CountCensusRecord; a status other than 9 ends the read early
//     (kIncomplete, `status`); a termination signal ends it between two
//     records (`*interrupted`); then the file is closed. Returns 0.
[[nodiscard]] std::int16_t ReadCensusFile(const ConverterRow& row, CensusFile* file,
                                          bool* interrupted);

// The whole census's figures.
struct CensusTotals {
  int files = 0;
  std::int64_t records = 0;
  std::array<std::int64_t, kCensusLanguageCount> showing{};
  std::int64_t showing_none = 0;
  std::array<std::int64_t, kCensusLanguageCount> blank_after{};
  // For each language, the files with at least one record that would be
  // blank.
  std::array<int, kCensusLanguageCount> files_with_blanks{};
};
CensusTotals CensusTotalsOf(const std::vector<CensusFile>& files);

}  // namespace kel

#endif  // KEL_CONVERT_CENSUS_H_
