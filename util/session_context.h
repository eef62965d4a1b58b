// The session context: the program's surroundings, established once at
// start-up from the environment and the configuration files (startup/session)
// and read by every layer. Only startup/ and convert/ write it.
//
// It lives at the bottom of the layers so that the screen (colours, the
// temporary directory), the data-file layer (messages by language, lock
// files) and the application can all read it without depending upward.
#ifndef KEL_UTIL_SESSION_CONTEXT_H_
#define KEL_UTIL_SESSION_CONTEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

struct SessionContext {
  // Directories. `TempDir` and `TerminalDir` end in "\" (or ":") unless
  // empty; `InstallRoot` is used as the environment gave it.
  std::string InstallRoot;
  std::string ExeDir;
  std::string TempDir;
  std::string TerminalDir;

  std::string SessionTitle = "  ";  // [Menu] Titol with a blank each side
  std::string MenuName;             // the program's entry name in the menu file
  std::string SessionMenu;
  std::string ChainMenu;
  std::string OperatorCode;
  std::int16_t OperatorType = 0;

  // Colour modes 0..4: [mode][0] foreground, [mode][1] background.
  std::int16_t ColourTable[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};

  std::string SessionDate;         // packed digits of the terminal's working date
  std::string OutputDevice;
  std::string SessionLanguage = "   ";  // always exactly 3 characters
  std::string PlatformKind = "DOS";     // "CGI", "WIN" or "DOS"

  // The program's name ("TAVIRENO"): names the form file and the language file.
  std::string ProgramName;
  // The command line after the program name, arguments joined by blanks.
  std::string CommandLine;
};

// The process's session context.
SessionContext& Session();
// Back to the state at start-up (tests).
void ResetSession();

// Sets `SessionLanguage` to the first three characters of `text`, blank-padded.
void SetSessionLanguage(std::string_view text);

}  // namespace kel

#endif  // KEL_UTIL_SESSION_CONTEXT_H_
