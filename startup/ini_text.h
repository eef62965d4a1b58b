// The syntax of configuration files, and the two operations on their text
// held in memory: finding one key's value and merging a change of one key.
// startup/ini_file reads and rewrites the files through these.
//
// A file is lines of code page 850 text. Lines end in CR LF or LF when read;
// the merge writes every line with CR LF. A CR that is not right before a LF
// (or at the very end) belongs to the line.
//
// - Comment: everything from the first ";" of a line to its end is ignored,
//   also inside a value.
// - Blank line: empty, or only blanks (code 32) once the comment is removed.
// - Section header: the first non-blank character is "["; the name is the
//   text up to the next "]" (or the line end), without blanks at its ends.
// - Key line: any other line holding "="; the key is the text before the
//   first "=" without blanks at its ends, the value everything after it up
//   to the comment, blanks kept.
// - Any other line is ignored when reading and kept when rewriting.
// Names compare without regard to letter case (code page 850 capitals) and
// without blanks at the ends of the name asked for. Tabs are not blanks.
#ifndef KEL_STARTUP_INI_TEXT_H_
#define KEL_STARTUP_INI_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace kel {

// One line as the syntax sees it.
struct IniLine {
  enum class Kind { kBlank, kHeader, kKey, kOther };
  Kind kind = Kind::kBlank;
  std::string_view name;   // section name (kHeader) or key (kKey), trimmed
  std::string_view value;  // kKey: the text after the first "=", up to the comment
};

// Classifies one line (without its line end). The views point into `line`.
IniLine ParseIniLine(std::string_view line);

// The lines of a file's bytes, without their line ends (see above).
std::vector<std::string_view> SplitIniLines(std::string_view bytes);

// The value of `key` in the first section named `section`: the text after
// the key line's first "=", up to the comment, blanks kept; a value of at
// least 2 characters that starts and ends with a double quote loses both
// quotes. Only the first section of that name is searched, up to the next
// header; within it the first matching key wins. "" when not found.
std::string FindIniValue(std::string_view bytes, std::string_view section, std::string_view key);

// The file's new bytes after setting `key` = `value` in `section`:
// - every section of that name has its matching key lines rewritten as the
//   line up to and including its first "=" followed by `value` (what stood
//   after the old value, a comment included, is lost); an empty `value`
//   drops those lines instead;
// - a key found in none of them is added at the end of the first one (after
//   its last line with content, ahead of the blank and comment lines that
//   follow it), or, when no such section exists, as a new "[section]" header
//   and key line after the last line with content of the file;
// - an empty `key` drops the headers of the sections of that name and all
//   their key lines (their blank, comment and other lines stay);
// - `section`, `key` and `value` are written exactly as passed; nothing is
//   added when any of the three is empty.
// All other lines keep their bytes; every line ends in CR LF.
std::string MergeIniText(std::string_view old_bytes, std::string_view section, std::string_view key,
                         std::string_view value);

}  // namespace kel

#endif  // KEL_STARTUP_INI_TEXT_H_
