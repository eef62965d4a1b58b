// The installation's own files made from the readable sources of
// data/sample/tree: configuration files, the form file, the language text
// file and help pages.
#ifndef KEL_TOOLS_MKINSTALL_TEXT_FILES_H_
#define KEL_TOOLS_MKINSTALL_TEXT_FILES_H_

#include <string>
#include <string_view>

namespace kel {

// The placeholder that configuration sources use for the installation
// directory (written with its trailing separator).
inline constexpr std::string_view kRootPlaceholder = "@ROOT@";

// Width of a help page's records, and the columns a help line may show.
inline constexpr std::size_t kHelpRecordLength = 80;
inline constexpr std::size_t kHelpVisibleColumns = 76;

// Converts the UTF-8 source `utf8` of the tree file `path` (relative, "/"
// separated) into the bytes the installation holds:
// - "@ROOT@" becomes `root`, the installation directory in UTF-8;
// - help pages (names ending in ".HLP", any case): each line becomes one
//   80-byte record, blank-padded, with "{h}", "{u}" and "{r}" turned into the
//   style bytes 30, 31 and 16; a line may show at most 76 characters;
// - every other file: code page 850 with CR LF line ends, the last line
//   ended too.
// Fails (false, "<path> line N: ..." in `*error`) on a character that code
// page 850 lacks and on an overlong help line.
[[nodiscard]] bool ConvertTreeFile(std::string_view path, std::string_view utf8,
                                   std::string_view root, std::string* bytes, std::string* error);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_TEXT_FILES_H_
