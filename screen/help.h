// Help pages. ShowHelp shows the page of a topic (the form dialog passes the
// program's menu entry name) and returns when the operator leaves it.
//
// In a "WIN" session (`PlatformKind`) the page is the HTML document
// "AJUDA\" + topic + ".HTM", opened by the application family's launcher:
// the command line `COMSPEC` + " /C VOPRUN AJUDA\" + topic + ".HTM" runs and
// is waited for; its exit code is ignored. In any other session the text
// page "AJUDA\" + topic + ".HLP" (relative to the current directory, the
// installation's) is shown in a window:
//
//   rows 4 .. ScreenRows() - 3, columns 1 .. ScreenCols(), double frame;
//   ScreenRows() - 8 lines of text (17 on a 25-row screen), each from window
//   column 2 (screen column 3).
//
// The page file holds fixed-length records of ScreenCols() bytes, one line
// each; the page has file length / ScreenCols() lines (bytes of an
// incomplete last record are not shown). A line shows at most 76
// characters; the bytes 30, 31 and 16 take no column and toggle highlighted
// (colour "h", unless underlined is on), underlined ("u") and reverse ("r")
// text; every line starts in colour "n". A missing page shows an empty
// window.
//
// Keys (read without the calculator and calendar hot keys): Down / Up
// scroll one line while there is one, PgDn / PgUp a window's height (not
// past the last line, not before the first), Home the first lines, End the
// last ones, F1 the general page "MORLEPAN" (not from inside it), Esc
// leaves; every other key is ignored.
//
// Globals: reads `PlatformKind`; uses the window and colour stacks (back
// where they were on return) and the keyboard's hot-key flags (restored).
#ifndef KEL_SCREEN_HELP_H_
#define KEL_SCREEN_HELP_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kel {

// The general help topic.
inline constexpr char kGeneralHelpTopic[] = "MORLEPAN";
// Characters a help line shows at most.
inline constexpr std::size_t kHelpLineColumns = 76;

void ShowHelp(std::string_view topic);

// The command line that opens `topic`'s HTML page in a "WIN" session, with
// `comspec` as the command interpreter.
std::string HelpLauncherCommand(std::string_view comspec, std::string_view topic);

}  // namespace kel

#endif  // KEL_SCREEN_HELP_H_
