// The command line's own help: "/?", "-h" or "--help" print the usage (the
// switches, the environment variables the program reads, the exit codes and
// where the documents are), "--version" the banner's version and the
// build's own; both in the session's language, and nothing else happens:
// no console is set up, no file is opened for writing or created (not even
// the language text file), no data file is opened.
//
// These words are recognised only as whole arguments, exactly as written
// (the letter case of "/?" does not arise; "-h", "--help" and "--version"
// are lower case). The switches "/AUTO", "/TAULES", "/INFORME" and "/CSV"
// are substring tests over the whole command line, so they can stand
// inside longer words; a help word cannot: a path such as
// "/srv/kel-h/" or an argument "x--help" asks for nothing. A help word
// anywhere among the arguments wins over every switch (asking for help
// never converts).
#ifndef KEL_CONVERT_COMMAND_LINE_HELP_H_
#define KEL_CONVERT_COMMAND_LINE_HELP_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

enum class HelpRequest : std::int8_t {
  kNone,
  kUsage,    // "/?", "-h", "--help"
  kVersion,  // "--version" (and no usage word)
};

// What the arguments (argv[1..]) ask for.
HelpRequest HelpRequestOf(const std::vector<std::string_view>& arguments);

// The usage, in the session's language (code page 850 lines).
std::vector<std::string> UsageLines();

// The version: the banner "TAVIRENO versió 1.01" and the build's version
// after its translated label.
std::vector<std::string> VersionLines(std::string_view build_version);

// Prints the lines of `request` on standard output (UTF-8, one per line)
// after setting up the session for its language, and returns 0. Writes no
// file. Preconditions: Session().ProgramName may be anything; it is set.
int PrintCommandLineHelp(HelpRequest request, std::string_view build_version);

}  // namespace kel

#endif  // KEL_CONVERT_COMMAND_LINE_HELP_H_
