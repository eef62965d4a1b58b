// tavireno: the language utility of the KEL applications. The whole program
// is one fixed sequence; see convert/driver.h for what the run does and
// startup/exit_codes.h for how it ends.
//
//   tavireno            the operator picks the language on the form
//   tavireno /AUTO      re-applies the configured language unattended
//   tavireno /AUTO /TAULES   the same, for the menu and the code tables only
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert/converters.h"
#include "convert/driver.h"
#include "convert/language_text.h"
#include "datafile/browse_source.h"
#include "datafile/db_open.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "recman/network_fs.h"
#include "recman/recman.h"
#include "screen/browse_list.h"
#include "screen/form_dialog.h"
#include "screen/help.h"
#include "screen/popups.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
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

// An open refused because the SQLite files lie on a network file system:
// after the usual message, the terminal's shell also learns which file
// system it is and what the installation needs.
void ExitAfterOpenFailure(int code) {
  if (!LastFileSystemRefusal().empty()) {
    UseMemoryConsole();
    std::fprintf(stderr, "tavireno: %s\n", LastFileSystemRefusal().c_str());
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
  std::fprintf(stderr,
               "tavireno: %s (An unattended run needs no screen: it goes on with plain output.)\n",
               why.c_str());
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
  const std::string text = std::string("stopped by ") + TerminationSignalName(signal_number) +
                           ": the files converted so far keep their new texts and the others "
                           "are as they were; nothing was recorded. A new run finishes the job.";
  if (ScreenConsole().Kind() == ConsoleKind::kPlain) ConsolePrintLine(text);
  std::exit(Stop(128 + signal_number, text));
}

// Every wait (for a key, a lock, a file) looks for a termination signal
// first; the conversion itself looks between records.
void EndAtWaitOnSignal() {
  if (TerminationSignal() != 0) EndOnSignal();
}

// The files not converted completely, for the closing line.
std::string IncompleteFilesText(const ConversionTally& tally) {
  std::string text;
  for (const ConversionTally::FileProblem& f : tally.files) {
    if (!text.empty()) text += "; ";
    text += f.path + ": " + std::to_string(f.not_converted) + " of " + std::to_string(f.records) +
            " records do not hold the new text (" + f.reason + ")";
  }
  return text;
}

int Run(int argc, char** argv) {
  InstallTerminationSignals();
  RegisterWaitHook(&EndAtWaitOnSignal);
  Session().CommandLine = CommandLineOf(argc, argv);
  ReadSwitches(Session().CommandLine);
  SelectConsoleForRun(Driver().AutoMode);

  SetCursorVisible(false);
  SetUpSession();
  RegisterStandardPopups();  // Alt+X and Alt+C from every key wait
  (void)SetProgramExitHook(&ExitAfterOpenFailure);
  if (!Session().InstallRoot.empty()) (void)ChangeDirectory(Session().InstallRoot);
  Session().ProgramName = "TAVIRENO";

  // Checked before anything is opened: without a keyboard the form could
  // only wait for ever.
  if (!Driver().AutoMode && ScreenConsole().Kind() == ConsoleKind::kPlain) {
    return Stop(kExitNoKeyboard,
                "there is no terminal to show the form on (standard input and output must be a "
                "terminal). Run it in a terminal, or with /AUTO to apply the configured "
                "language unattended.");
  }

  std::string problem;
  if (LoadFormFile(FormFilePath(), Translate, &problem) != FormFileStatus::kOk) {
    return Stop(kExitFormFile, problem + ". Nothing was changed.");
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
    std::string text = "the conversion is incomplete: ";
    text += tally.files.empty() ? tally.first_problem : IncompleteFilesText(tally);
    if (status != kStatusOk) {
      text += (tally.files.empty() && tally.first_problem.empty() ? "" : "; ") +
              std::string("closing the data files failed with status ") + std::to_string(status);
    }
    text += "; " + std::to_string(tally.not_converted) + " of " + std::to_string(tally.records) +
            " records do not hold the new text. A new run finishes the job (when the files are "
            "free).";
    return Stop(kExitConversionIncomplete, text);
  }
  if (!Driver().ConfigurationProblem.empty()) {
    return Stop(kExitConfigurationNotWritten, Driver().ConfigurationProblem + ".");
  }
  return kExitDone;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
