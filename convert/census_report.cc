#include "convert/census_report.h"

#include <array>

#include "convert/language_text.h"
#include "convert/program_texts.h"
#include "datafile/db_open.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

// The report's words, in Catalan (code page 850); the language text file
// holds them in the other languages.
constexpr char kCensusNotice[] = "Cens dels textos; no es modifica res.";
constexpr char kCurrentLanguageNotice[] = "Idioma actual: ";
constexpr char kOneRecord[] = "1 registre";
constexpr char kRecords[] = "%1 registres";
constexpr char kShowingNow[] = "  Ara mostren: ";
constexpr char kShowingNone[] = "cap";
constexpr char kBlankAfter[] = "  Textos en blanc en convertir a: ";
constexpr char kConvertingNote[] = "  El terminal %1 l'estava convertint en aquell moment.";
constexpr char kIncompleteNote[] = "  NO S'HA POGUT LLEGIR FINS AL FINAL (estat %1).";
constexpr char kMissingNote[] =
    "  NO EXISTEIX: la conversi\xA2 el crear\x85, sense cap registre, a partir de %1.";
constexpr char kMissingDictionaryNote[] =
    "  NO EXISTEIX, NI EL SEU DICCIONARI %1: la conversi\xA2 s'aturaria en aquest fitxer.";
constexpr char kTotal[] = "TOTAL, %1 fitxers: ";
constexpr char kNoBlank[] = "%1: cap text no quedaria en blanc.";
constexpr char kOneBlank[] = "%1: 1 text quedaria en blanc, en 1 fitxer.";
constexpr char kBlanksInOneFile[] = "%1: %2 textos quedarien en blanc, en 1 fitxer.";
constexpr char kBlanksInFiles[] = "%1: %2 textos quedarien en blanc, en %3 fitxers.";
constexpr char kIncompleteCensus[] = "EL CENS \x90S INCOMPLET: ";

std::string Number(std::int64_t n) { return DecimalText(static_cast<long long>(n)); }

std::string RecordsText(std::int64_t n) {
  return n == 1 ? Translate(kOneRecord) : FillIn(Translate(kRecords), {Number(n)});
}

// "CAT 298, SPA 0, GLG 0, OCI 0"
std::string PerLanguage(const std::array<std::int64_t, kCensusLanguageCount>& counts) {
  std::string text;
  for (int i = 0; i < kCensusLanguageCount; ++i) {
    if (i > 0) text += ", ";
    text.append(kCensusLanguages[i]);
    text += ' ' + Number(counts[i]);
  }
  return text;
}

// The two lines of counts, for a file or for the totals.
void AppendCounts(const std::array<std::int64_t, kCensusLanguageCount>& showing,
                  std::int64_t showing_none,
                  const std::array<std::int64_t, kCensusLanguageCount>& blank_after,
                  std::vector<std::string>* lines) {
  lines->push_back(Translate(kShowingNow) + PerLanguage(showing) + ", " + Translate(kShowingNone) +
                   ' ' + Number(showing_none));
  lines->push_back(Translate(kBlankAfter) + PerLanguage(blank_after));
}

// The dictionary's name as the operator finds it under the installation.
std::string DictionaryName(const ConverterRow& row) {
  return "ddf\\" + SplitLogicalName(row.path).base + ".xdf";
}

const char* StateName(CensusFileState state) {
  switch (state) {
    case CensusFileState::kRead:
      return "complet";
    case CensusFileState::kIncomplete:
      return "incomplet";
    case CensusFileState::kMissing:
      return "absent";
    case CensusFileState::kMissingDictionary:
      return "absent_sense_diccionari";
  }
  return "";
}

}  // namespace

std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto index = static_cast<std::size_t>(text[i + 1] - '1');
      if (index < values.size()) {
        out.append(values.begin()[index]);
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::string> CensusIntroLines() {
  return {Translate(kProgramInstallationNotice) + Session().InstallRoot,
          Translate(kCurrentLanguageNotice) + Session().SessionLanguage, Translate(kCensusNotice)};
}

std::vector<std::string> CensusFileLines(const CensusFile& file) {
  const ConverterRow& row = *file.row;
  std::vector<std::string> lines;
  lines.push_back(std::string(row.label) + ' ' + row.path + ": " + RecordsText(file.records));
  if (file.state == CensusFileState::kMissing) {
    lines.push_back(FillIn(Translate(kMissingNote), {DictionaryName(row)}));
    return lines;
  }
  if (file.state == CensusFileState::kMissingDictionary) {
    lines.push_back(FillIn(Translate(kMissingDictionaryNote), {DictionaryName(row)}));
    return lines;
  }
  AppendCounts(file.showing, file.showing_none, file.blank_after, &lines);
  if (!file.converting_station.empty()) {
    lines.push_back(FillIn(Translate(kConvertingNote), {file.converting_station}));
  }
  if (file.state == CensusFileState::kIncomplete) {
    lines.push_back(FillIn(Translate(kIncompleteNote), {Number(file.status)}));
  }
  return lines;
}

std::vector<std::string> CensusSummaryLines(const std::vector<CensusFile>& files) {
  const CensusTotals totals = CensusTotalsOf(files);
  std::vector<std::string> lines;
  lines.push_back(FillIn(Translate(kTotal), {Number(totals.files)}) + RecordsText(totals.records));
  AppendCounts(totals.showing, totals.showing_none, totals.blank_after, &lines);
  for (int i = 0; i < kCensusLanguageCount; ++i) {
    const std::string texts = Number(totals.blank_after[i]);
    const std::string in_files = Number(totals.files_with_blanks[i]);
    const char* text = totals.blank_after[i] == 0         ? kNoBlank
                       : totals.blank_after[i] == 1       ? kOneBlank
                       : totals.files_with_blanks[i] == 1 ? kBlanksInOneFile
                                                          : kBlanksInFiles;
    lines.push_back(FillIn(Translate(text), {kCensusLanguages[i], texts, in_files}));
  }
  return lines;
}

std::string CensusIncompleteLine(const std::vector<CensusFile>& files) {
  std::string paths;
  for (const CensusFile& f : files) {
    if (f.state != CensusFileState::kIncomplete) continue;
    if (!paths.empty()) paths += ", ";
    paths += f.row->path;
  }
  return paths.empty() ? "" : Translate(kIncompleteCensus) + paths;
}

std::string CsvField(std::string_view field) {
  const bool quote = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!quote) return std::string(field);
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string CensusCsvHeader() {
  std::string line = "fitxer,cami,registres";
  for (std::string_view language : kCensusLanguages) line += ",ara_" + std::string(language);
  line += ",ara_cap";
  for (std::string_view language : kCensusLanguages) line += ",blanc_" + std::string(language);
  return line + ",estat,estat_lectura,convertint\r\n";
}

std::string CensusCsvLine(const CensusFile& file) {
  const ConverterRow& row = *file.row;
  std::string line =
      CsvField(TrimRight(row.label)) + ',' + CsvField(row.path) + ',' + Number(file.records);
  for (std::int64_t n : file.showing) line += ',' + Number(n);
  line += ',' + Number(file.showing_none);
  for (std::int64_t n : file.blank_after) line += ',' + Number(n);
  line += std::string(",") + StateName(file.state) + ',' + Number(file.status) + ',' +
          CsvField(file.converting_station);
  return line + "\r\n";
}

}  // namespace kel
