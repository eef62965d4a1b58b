// The census run of the program ("/INFORME", with "/TAULES" and "/CSV"):
// the whole process from the session to the exit code, without the form
// and without writing anything (census.h says what is read and counted,
// census_report.h what is printed).
//
//   tavireno /INFORME            the report on standard output, in the
//                                session's language, after the banner of
//                                the unattended runs
//   tavireno /INFORME /TAULES    the menu file and the code tables only
//   tavireno /INFORME /CSV       the figures as CSV on standard output,
//                                nothing else there (the banner is left out;
//                                messages go to standard error)
//
// "/INFORME" wins over "/AUTO": a command line that holds both only reads.
// The console is always the plain one (no screen, no window, no key wait),
// also in a terminal, so the report stays readable in the terminal and in a
// log; the language text file is read but never created.
//
// Exit codes:
//   0    every file was read to its end (missing files with a dictionary
//        included: a conversion creates them empty)
//   3    a file could not be opened (the open failure's message, on
//        standard error and, for the text report, standard output; the
//        census stops there, as a conversion would), or a missing file has
//        no usable dictionary (reported in its place; the census goes on)
//   75   a file could not be read to its end (a damaged file, a lock
//        status): each is named, and its figures cover what was read
//   128 + n  a termination signal stopped the census
#ifndef KEL_CONVERT_CENSUS_COMMAND_H_
#define KEL_CONVERT_CENSUS_COMMAND_H_

#include <functional>
#include <string_view>

namespace kel {

// The exit code of a census that could not read a file to its end.
inline constexpr int kExitCensusIncomplete = 75;

// Where the census's output goes (all code page 850).
struct CensusOutput {
  bool csv = false;
  bool tables_only = false;
  // A line of the text report (without its line end).
  std::function<void(std::string_view line)> report_line;
  // Bytes of the CSV (whole lines with their CR LF).
  std::function<void(std::string_view bytes)> csv_bytes;
  // A message for standard error (without "tavireno: " and line end).
  std::function<void(std::string_view message)> error;
};

// The census itself, after the session is set up: the file lines (text) or
// the CSV header and lines, then (text) the summary; messages for an open
// failure, a missing dictionary or an incomplete read. Returns the exit
// code above; after a termination signal 128 + its number, with every file
// closed. Globals: reads Session(); opens and closes the converters' files.
int RunCensus(const CensusOutput& out);

// Runs the census for Session().CommandLine (already set) and returns the
// exit code. Sets up the session (startup/session.h), makes InstallRoot the
// current directory as every run does, and selects the plain console.
// Preconditions: termination signals installed (platform/signals.h); no
// data file open.
int RunCensusCommand();

}  // namespace kel

#endif  // KEL_CONVERT_CENSUS_COMMAND_H_
