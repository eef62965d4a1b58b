// tavireno: the language utility of the KEL applications. The whole program
// is one fixed sequence; see convert/driver.h for what the run does and
// startup/exit_codes.h for how it ends.
//
//   tavireno            the operator picks the language on the form
//   tavireno /AUTO      re-applies the configured language unattended
//   tavireno /AUTO /TAULES   the same, for the menu and the code tables only
#include <cstdio>
#include <string>
#include <string_view>

#include "convert/converters.h"
#include "convert/driver.h"
#include "convert/language_text.h"
#include "datafile/browse_source.h"
#include "datafile/db_open.h"
#include "platform/console.h"
#include "platform/system.h"
#include "screen/browse_list.h"
#include "screen/form_dialog.h"
#include "screen/help.h"
#include "screen/popups.h"
#include "screen/screen_buffer.h"
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
  std::fprintf(stderr, "tavireno: %s\n", Cp850ToUtf8(cp850_message).c_str());
  return code;
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

int Run(int argc, char** argv) {
  Session().CommandLine = CommandLineOf(argc, argv);
  ReadSwitches(Session().CommandLine);
  SelectConsoleForRun(Driver().AutoMode);

  SetCursorVisible(false);
  SetUpSession();
  RegisterStandardPopups();  // Alt+X and Alt+C from every key wait
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

  std::int16_t status = 0;
  DbResetAll(&status);
  if (!Session().CommandLine.empty()) ClearScreen();

  const ConversionTally& tally = Tally();
  if (tally.not_converted > 0 || !tally.first_problem.empty()) {
    return Stop(kExitConversionIncomplete,
                "the conversion is incomplete: " + tally.first_problem + "; " +
                    std::to_string(tally.not_converted) + " of " + std::to_string(tally.records) +
                    " records do not hold the new text. Run it again when the files are free.");
  }
  if (!Driver().ConfigurationProblem.empty()) {
    return Stop(kExitConfigurationNotWritten, Driver().ConfigurationProblem + ".");
  }
  return kExitDone;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
