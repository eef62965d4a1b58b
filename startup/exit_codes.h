// The program's exit codes. 0 is every orderly end (a completed conversion,
// Esc, the language already in force); the others say why a run stopped or
// did not complete, so that a script running the program unattended can
// tell.
//
//   0   done
//   3   a data file could not be opened or created (kExitOpenFailure,
//       datafile/db_open.h): the message named the file and the status
//   65  the form file is missing or damaged (nothing was opened or written)
//   66  the run needs the operator but there is no terminal (start it in a
//       terminal, or with /AUTO) (kExitNoKeyboard, platform/console.h)
//   69  the terminal cannot show the 80 x 25 screen (kExitTerminalUnusable)
//   74  the data files were converted but the language could not be recorded
//       in a configuration file
//   75  the conversion did not reach or rewrite every record (a file held
//       by another program, a damaged file, a failed commit that undid
//       rewrites, a lock file that could not be used): the message names
//       each file; run it again; or the census (/INFORME) could not read
//       a file to its end (convert/census_command.h)
//   128 + n  stopped in order by termination signal n (SIGHUP 129, SIGINT
//       130, SIGTERM 143; platform/signals.h)
#ifndef KEL_STARTUP_EXIT_CODES_H_
#define KEL_STARTUP_EXIT_CODES_H_

namespace kel {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFormFile = 65;
inline constexpr int kExitConfigurationNotWritten = 74;
inline constexpr int kExitConversionIncomplete = 75;

}  // namespace kel

#endif  // KEL_STARTUP_EXIT_CODES_H_
