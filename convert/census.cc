#include "convert/census.h"

#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "recman/recman.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

// A dictionary a conversion could create the file from: a 2-byte count
// and at least that many bytes. Read without the open that DbOpen uses,
// which would leave an empty dictionary behind.
bool DictionaryUsable(std::string_view logical_name) {
  std::string bytes;
  if (!ReadWholeFile(DictionaryPath(logical_name), &bytes) || bytes.size() < 2) return false;
  const auto count = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[0]) |
                                               (static_cast<std::uint8_t>(bytes[1]) << 8));
  return count > 0 && static_cast<std::size_t>(count) <= bytes.size() - 2;
}

void LookForConversion(const ConverterRow& row, CensusFile* file) {
  if (row.lock == nullptr || !file->converting_station.empty()) return;
  std::string holder;
  if (WholeFileLockHolder(row.lock, &holder)) file->converting_station = holder;
}

}  // namespace

bool CensusRequested(std::string_view command_line) {
  return AsciiUpper(command_line).find("/INFORME") != std::string::npos;
}

bool CensusCsvRequested(std::string_view command_line) {
  return AsciiUpper(command_line).find("/CSV") != std::string::npos;
}

bool IsBlankText(const std::uint8_t* text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    if (text[i] != ' ' && text[i] != 0) return false;
  }
  return true;
}

void CountCensusRecord(const ConverterRow& row, const std::uint8_t* area, CensusFile* file) {
  const auto width = static_cast<std::size_t>(row.width);
  const std::uint8_t* current = area + row.current;
  bool shows_one = false;
  ++file->records;
  for (int i = 0; i < kCensusLanguageCount; ++i) {
    const std::uint8_t* column = area + SourceColumn(row, kCensusLanguages[i]);
    if (std::memcmp(current, column, width) == 0) {
      ++file->showing[i];
      shows_one = true;
    }
    if (IsBlankText(column, width)) ++file->blank_after[i];
  }
  if (!shows_one) ++file->showing_none;
}

std::vector<const ConverterRow*> CensusRows(bool tables_only) {
  std::vector<const ConverterRow*> rows = {&MenuConverter()};
  for (const ConverterRow& row : ConversionFileList()) {
    if (row.code_table || !tables_only) rows.push_back(&row);
  }
  return rows;
}

std::int16_t ReadCensusFile(const ConverterRow& row, CensusFile* file, bool* interrupted) {
  *file = CensusFile();
  file->row = &row;
  *interrupted = false;
  LookForConversion(row, file);

  const std::string logical_name = Session().InstallRoot + row.path;
  std::int16_t status = kStatusOk;
  DbOpenExisting(row.file_number, logical_name, RecordArea(row), kRecordAreaSize, &status);
  if (status == kStatusFileNotFound) {
    file->state = DictionaryUsable(logical_name) ? CensusFileState::kMissing
                                                 : CensusFileState::kMissingDictionary;
    file->status = status;
    return kStatusOk;
  }
  if (status != kStatusOk) return status;

  const std::uint8_t* area = RecordArea(row);
  DbFind(row.file_number, 0, "", 1, &status);
  while (status == kStatusOk) {
    // Between two records: nothing is half done, so a signal ends the
    // read here.
    if (TerminationSignal() != 0) {
      *interrupted = true;
      break;
    }
    CountCensusRecord(row, area, file);
    DbStep(row.file_number, 1, &status);
  }
  if (!*interrupted && status != kStatusEndOfFile) {
    file->state = CensusFileState::kIncomplete;
    file->status = status;
  }
  // Nothing was written through this open, so its Close has nothing to
  // commit; its status says nothing about the figures.
  std::int16_t close_status = kStatusOk;
  DbClose(row.file_number, &close_status);
  LookForConversion(row, file);
  return kStatusOk;
}

CensusTotals CensusTotalsOf(const std::vector<CensusFile>& files) {
  CensusTotals totals;
  for (const CensusFile& f : files) {
    ++totals.files;
    totals.records += f.records;
    totals.showing_none += f.showing_none;
    for (int i = 0; i < kCensusLanguageCount; ++i) {
      totals.showing[i] += f.showing[i];
      totals.blank_after[i] += f.blank_after[i];
      if (f.blank_after[i] > 0) ++totals.files_with_blanks[i];
    }
  }
  return totals;
}

}  // namespace kel
