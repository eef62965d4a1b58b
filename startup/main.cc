// tavireno: the language utility of the KEL applications. The whole program
// is one fixed sequence; see convert/driver.h for what the run does and
// startup/exit_codes.h for how it ends.
//
//   tavireno            the operator picks the language on the form
//   tavireno /AUTO      re-applies the configured language unattended
//   tavireno /AUTO /TAULES   the same, for the menu and the code tables only
//   tavireno /INFORME   reads every file and reports its language texts,
//                       writing nothing (convert/census_command.h)
//   tavireno --help     the usage; --version the version (convert/command_line_help.h)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "convert/census.h"
#include "convert/census_command.h"
#include "convert/command_line_help.h"
#include "convert/converters.h"
#include "convert/driver.h"
#include "convert/language_text.h"
#include "convert/run_messages.h"
#include "datafile/browse_source.h"
#include "datafile/db_open.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "recman/recman.h"
#include "screen/browse_list.h"
#include "screen/form_dialog.h"
#include "screen/help.h"
#include "screen/popups.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "startup/build_version.h"
#include "startup/exit_codes.h"
#include "startup/form_file.h"
#include "startup/session.h"
#include "util/cp850.h"
#include "util/session_context.h"

namespace kel {
namespace {

// The arguments as one code page 850 text, separated by blanks.
std::string CommandLineOf(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += Utf8ToCp850(argv[i]);
  }
  return line;
}

// The terminal goes back to the shell before the message, so that the
// message stays readable after the program has gone.
int Stop(int code, const std::string& cp850_message) {
  UseMemoryConsole();
  std::fprintf(stderr, "tavireno: %s\n", StandardStreamText(cp850_message).c_str());
  return code;
}

// An open refused for a reason the record manager gave (the SQLite files on
// a network file system, a server that cannot be reached): after the usual
// message, the terminal's shell also learns it, message and reason, in the
// session's language.
void ExitAfterOpenFailure(int code) {
  const std::string& text = LastOpenFailure();
  if (text.find('\n') != std::string::npos) {
    UseMemoryConsole();
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::fprintf(stderr, "tavireno: %s\n",
                   StandardStreamText(text.substr(start, end - start)).c_str());
      start = end + 1;
    }
  }
  std::exit(code);
}

// A terminal when there is one. An unattended run does not need one to be
// usable: a terminal too small for the screen then gets plain output.
void SelectConsoleForRun(bool automatic) {
  const ConsoleKind kind = DetectConsoleKind();
  std::string why;
  if (SelectConsole(kind, &why) == ConsoleStatus::kOk) return;
  if (!automatic) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(kExitTerminalUnusable);
  }
  std::fprintf(stderr, "tavireno: %s\n",
               StandardStreamText(PlainOutputNotice(Utf8ToCp850(why))).c_str());
  if (SelectConsole(ConsoleKind::kPlain) != ConsoleStatus::kOk) std::exit(kExitTerminalUnusable);
}

// F1 and F3 on the form: help pages, and lookup lists reading data files.
void RegisterHelpAndLookups() {
  RegisterFormHelp([](std::string_view topic) { ShowHelp(topic); });
  UseDataFileBrowseSource();
  RegisterLookupList([](std::int16_t list) {
    std::int16_t result = -1;
    BrowseList(list, &result);
    return result;
  });
}

// The orderly end after a termination signal: the converter has stopped at
// a record boundary (or the program was waiting), so every record is whole.
// The windows of this run come off the window stack (a calling program's
// records below them stay), the data files are committed and closed, the
// terminal goes back to the shell, and the exit code is 128 + the signal's
// number, as a shell reports a process killed by it.
void EndAtWaitOnSignal();

[[noreturn]] void EndOnSignal() {
  // Once only: nothing below may end the run a second time from a wait.
  UnregisterWaitHook(&EndAtWaitOnSignal);
  const int signal_number = TerminationSignal();
  while (Screen().WindowDepth > 0) WinPop();
  std::int16_t status = 0;
  DbResetAll(&status);
  const std::string text = SignalStopMessage(TerminationSignalName(signal_number));
  if (ScreenConsole().Kind() == ConsoleKind::kPlain) ConsolePrintLine(text);
  std::exit(Stop(128 + signal_number, text));
}

// Every wait (for a key, a lock, a file) looks for a termination signal
// first; the conversion itself looks between records.
void EndAtWaitOnSignal() {
  if (TerminationSignal() != 0) EndOnSignal();
}

int Run(int argc, char** argv) {
  InstallTerminationSignals();
  // Whole arguments only, before anything is set up: asking for help
  // touches nothing.
  const HelpRequest help = HelpRequestOf(std::vector<std::string_view>(argv + 1, argv + argc));
  if (help != HelpRequest::kNone) return PrintCommandLineHelp(help, BuildVersion());
  Session().CommandLine = CommandLineOf(argc, argv);
  // The census only reads, and ends in its own way.
  if (CensusRequested(Session().CommandLine)) return RunCensusCommand();
  RegisterWaitHook(&EndAtWaitOnSignal);
  ReadSwitches(Session().CommandLine);
  // The session first: what the program says from here on is in its
  // language.
  SetUpSession();
  Session().ProgramName = "TAVIRENO";
  SelectConsoleForRun(Driver().AutoMode);

  SetCursorVisible(false);
  RegisterStandardPopups();  // Alt+X and Alt+C from every key wait
  (void)SetProgramExitHook(&ExitAfterOpenFailure);
  if (!Session().InstallRoot.empty()) (void)ChangeDirectory(Session().InstallRoot);

  // Checked before anything is opened: without a keyboard the form could
  // only wait for ever.
  if (!Driver().AutoMode && ScreenConsole().Kind() == ConsoleKind::kPlain) {
    return Stop(kExitNoKeyboard, NoTerminalMessage());
  }

  std::string problem, detail;
  const FormFileStatus form_file = LoadFormFile(FormFilePath(), Translate, &problem, &detail);
  if (form_file != FormFileStatus::kOk) {
    return Stop(kExitFormFile, FormFileStopMessage(form_file, FormFilePath(), detail));
  }
  CheckConversionFiles();
  RegisterHelpAndLookups();
  (void)RunDriver();
  if (TerminationSignal() != 0) EndOnSignal();

  // The last commit of the run: a failure here undid rewrites that were
  // answered 0 (the menu file's are committed by its converter, so this is
  // a last line of defence).
  std::int16_t status = 0;
  DbResetAll(&status);
  if (!Session().CommandLine.empty()) ClearScreen();

  const ConversionTally& tally = Tally();
  if (tally.not_converted > 0 || !tally.first_problem.empty() || !tally.files.empty() ||
      status != kStatusOk) {
    return Stop(kExitConversionIncomplete, IncompleteConversionMessage(tally, status));
  }
  if (!Driver().ConfigurationProblem.empty()) {
    return Stop(kExitConfigurationNotWritten, Driver().ConfigurationProblem);
  }
  return kExitDone;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
