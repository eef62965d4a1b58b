// The census's report (census.h), as text lines for the operator and as CSV
// for scripts and spreadsheets. Every line is code page 850; the operator's
// words come from the language text file (Translate), so the report reads
// in the session's language.
//
// The text report, per file (a file's lines as soon as it has been read):
//   "UPAISOS  TAULES\UPaisos: 298 registres"
//   "  Ara mostren: CAT 298, SPA 0, GLG 0, OCI 0, cap 0"
//   "  Textos en blanc en convertir a: CAT 0, SPA 0, GLG 2, OCI 5"
// and, where it applies, one of the notes "  El terminal PC-A l'estava
// convertint en aquell moment.", "  NO S'HA POGUT LLEGIR FINS AL FINAL
// (estat 84).", or, for a missing file, only the first line and "  NO
// EXISTEIX: ..." (the conversion would create it empty, or stop at it when
// its dictionary is missing too). At the end an empty line, the totals in
// the same three lines ("TOTAL, 19 fitxers: 380000 registres"), and one
// line per language:
//   "GLG: 312 textos quedarien en blanc, en 4 fitxers."
//   "CAT: cap text no quedaria en blanc."
// The texts with "%1", "%2", "%3" in the language text file hold the
// numbers in those places, so a translation can put them where its
// language wants them.
//
// The CSV: a header line and one line per file, fields separated by commas,
// lines ending in CR LF, code page 850. A field holding a comma, a double
// quote, a line end or a leading or trailing blank is put in double quotes,
// its double quotes doubled. The header is fixed (it does not follow the
// session's language, so that scripts can rely on it):
//   fitxer         the file's label without its trailing blanks ("UPAISOS")
//   cami           the logical path under the installation ("TAULES\UPaisos")
//   registres      records read
//   ara_CAT ... ara_OCI  records whose current text is that language's column
//   ara_cap        records whose current text is none of the four
//   blanc_CAT ... blanc_OCI  records that would show a blank text after a
//                  conversion to that language
//   estat          complet | incomplet | absent | absent_sense_diccionari
//   estat_lectura  the record manager's status that ended the read: 0 when
//                  it reached the end, 12 for a missing file
//   convertint     the station that held the file's whole-file lock during
//                  the read, empty when none
// There is no total line: a spreadsheet sums the columns.
#ifndef KEL_CONVERT_CENSUS_REPORT_H_
#define KEL_CONVERT_CENSUS_REPORT_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "convert/census.h"

namespace kel {

// `text` with "%1", "%2", ... replaced by the values in order.
std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values);

// The lines printed before the census, after the program's banner: the
// installation, the session's language and that nothing is changed.
std::vector<std::string> CensusIntroLines();

// A file's lines, as described above.
std::vector<std::string> CensusFileLines(const CensusFile& file);

// The totals and the line per language.
std::vector<std::string> CensusSummaryLines(const std::vector<CensusFile>& files);

// "EL CENS ÉS INCOMPLET: " and the paths of the files not read to their
// end, separated by ", "; empty when every file was.
std::string CensusIncompleteLine(const std::vector<CensusFile>& files);

// The CSV's header line and one file's line, each with its CR LF.
std::string CensusCsvHeader();
std::string CensusCsvLine(const CensusFile& file);
// One field as CSV requires it.
std::string CsvField(std::string_view field);

}  // namespace kel

#endif  // KEL_CONVERT_CENSUS_REPORT_H_
