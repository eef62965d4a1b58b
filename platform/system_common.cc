// The parts of the system seam that are the same on every system, built on
// the per-system ones (system_posix.cc, system_win32.cc).
#include <string>
#include <vector>

#include "platform/system.h"

namespace kel {

bool ReadWholeFile(std::string_view system_path, std::string* bytes) {
  File f;
  if (OpenFile(system_path, FileAccess::kRead, FileShare::kShared, &f) != FileResult::kOk) {
    return false;
  }
  bytes->clear();
  char buf[65536];
  std::int64_t offset = 0;
  for (;;) {
    std::int64_t n = f.ReadAt(offset, buf, sizeof buf);
    if (n < 0) return false;
    if (n == 0) break;
    bytes->append(buf, static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : command_line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace kel
