#include "convert/census_command.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/census.h"
#include "convert/census_report.h"
#include "convert/driver.h"
#include "convert/language_text.h"
#include "convert/program_texts.h"
#include "convert/run_messages.h"
#include "datafile/db_open.h"
#include "datafile/notices.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "recman/network_fs.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "startup/session.h"
#include "util/cp850.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

// Catalan (code page 850), a key of the language text file.
constexpr char kCensusSignalStop[] = "aturat per %1: el cens \x82s incomplet; no s'ha escrit res.";

int SignalExitCode(const CensusOutput& out) {
  const int signal_number = TerminationSignal();
  std::int16_t status = 0;
  DbResetAll(&status);
  out.error(TranslatedMessage(kCensusSignalStop, {TerminationSignalName(signal_number)}));
  return 128 + signal_number;
}

void Report(const CensusOutput& out, const std::vector<std::string>& lines) {
  if (out.csv) return;
  for (const std::string& line : lines) out.report_line(line);
}

// Standard error, and the report too, so that the text report says it in
// its place.
void Tell(const CensusOutput& out, const std::string& message) {
  if (!out.csv) out.report_line(message);
  out.error(message);
}

// The process's output: the plain console's lines, standard output for the
// CSV, standard error for messages.
void PrintError(std::string_view message) {
  std::fprintf(stderr, "tavireno: %s\n", StandardStreamText(message).c_str());
  std::fflush(stderr);
}

void PrintCsv(std::string_view bytes) {
  (void)std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

// A termination signal while the census waits (a file held exclusively, a
// busy lock file): it ends there.
void EndCensusAtWait() {
  if (TerminationSignal() == 0) return;
  UnregisterWaitHook(&EndCensusAtWait);
  CensusOutput out;
  out.csv = true;
  out.error = PrintError;
  std::exit(SignalExitCode(out));
}

}  // namespace

int RunCensus(const CensusOutput& out) {
  if (!out.csv) {
    Report(out, {"", Translate(kProgramBanner), Translate(kProgramSubtitle)});
    Report(out, CensusIntroLines());
    Report(out, {""});
  } else {
    out.csv_bytes(CensusCsvHeader());
  }

  std::vector<CensusFile> files;
  bool dictionary_missing = false;
  for (const ConverterRow* row : CensusRows(out.tables_only)) {
    CensusFile file;
    bool interrupted = false;
    const std::int16_t open_status = ReadCensusFile(*row, &file, &interrupted);
    if (interrupted || TerminationSignal() != 0) return SignalExitCode(out);
    if (open_status != kStatusOk) {
      // As a conversion would: the file named with the status, and the end.
      Tell(out, OpenFailurePrefix() + Session().InstallRoot + row->path + " (" +
                    DecimalText(open_status) + ")");
      if (!LastFileSystemRefusal().empty()) out.error(LastFileSystemRefusal());
      std::int16_t status = 0;
      DbResetAll(&status);
      return kExitOpenFailure;
    }
    if (file.state == CensusFileState::kMissingDictionary) dictionary_missing = true;
    Report(out, CensusFileLines(file));
    if (out.csv) out.csv_bytes(CensusCsvLine(file));
    files.push_back(file);
  }

  Report(out, {""});
  Report(out, CensusSummaryLines(files));
  const std::string incomplete = CensusIncompleteLine(files);
  if (!incomplete.empty()) Tell(out, incomplete);
  if (dictionary_missing) {
    for (const CensusFile& f : files) {
      if (f.state != CensusFileState::kMissingDictionary) continue;
      Tell(out, OpenFailurePrefix() + Session().InstallRoot + f.row->path + " (" +
                    DecimalText(f.status) + ")");
    }
    return kExitOpenFailure;
  }
  return incomplete.empty() ? 0 : kExitCensusIncomplete;
}

int RunCensusCommand() {
  CensusOutput out;
  out.csv = CensusCsvRequested(Session().CommandLine);
  ReadSwitches(Session().CommandLine);
  out.tables_only = Driver().TablesOnly;
  // No screen: the report's lines go out as plain lines (standard error
  // with the CSV, so that standard output holds the CSV alone).
  UseConsole(OpenPlainConsole(out.csv ? 2 : 1, 2));
  out.report_line = [](std::string_view line) { ConsolePrintLine(line); };
  out.csv_bytes = PrintCsv;
  out.error = PrintError;
  RegisterWaitHook(&EndCensusAtWait);

  LanguageText().CreateMissingFile = false;
  SetUpSession();
  if (!Session().InstallRoot.empty()) (void)ChangeDirectory(Session().InstallRoot);
  Session().ProgramName = "TAVIRENO";
  return RunCensus(out);
}

}  // namespace kel
