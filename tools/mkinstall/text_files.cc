#include "tools/mkinstall/text_files.h"

#include "tools/mkinstall/field_codec.h"
#include "util/fixed_text.h"

namespace kel {
namespace {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(from, start);
    out.append(text.substr(start, at - start));
    if (at == std::string_view::npos) return out;
    out.append(to);
    start = at + from.size();
  }
}

bool IsHelpPage(std::string_view path) {
  return path.size() >= 4 && AsciiUpper(path.substr(path.size() - 4)) == ".HLP";
}

// One help line: style markers to their bytes, then blank-padded to a record.
bool HelpRecord(std::string_view line, std::string* record, std::string* error) {
  std::string cp850;
  if (!StrictUtf8ToCp850(line, &cp850, error)) return false;
  std::string styled = ReplaceAll(cp850, "{h}", "\x1E");
  styled = ReplaceAll(styled, "{u}", "\x1F");
  styled = ReplaceAll(styled, "{r}", "\x10");
  std::size_t visible = 0;
  for (char c : styled) {
    if (c != '\x1E' && c != '\x1F' && c != '\x10') ++visible;
  }
  if (visible > kHelpVisibleColumns || styled.size() > kHelpRecordLength) {
    *error = "the line shows " + std::to_string(visible) + " characters in " +
             std::to_string(styled.size()) + " bytes; a help line shows at most " +
             std::to_string(kHelpVisibleColumns) + " in " + std::to_string(kHelpRecordLength);
    return false;
  }
  *record = FixedText(styled, kHelpRecordLength);
  return true;
}

}  // namespace

bool ConvertTreeFile(std::string_view path, std::string_view utf8, std::string_view root,
                     std::string* bytes, std::string* error) {
  std::string text = ReplaceAll(utf8, kRootPlaceholder, root);
  const bool help = IsHelpPage(path);
  bytes->clear();
  std::string_view rest = text;
  int number = 0;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string converted, why;
    bool ok = help ? HelpRecord(line, &converted, &why) : StrictUtf8ToCp850(line, &converted, &why);
    if (!ok) {
      *error = std::string(path) + " line " + std::to_string(number) + ": " + why;
      return false;
    }
    bytes->append(converted);
    if (!help) bytes->append("\r\n");
  }
  return true;
}

}  // namespace kel
