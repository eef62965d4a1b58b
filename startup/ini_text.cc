#include "startup/ini_text.h"

#include "util/fixed_text.h"
#include "util/fold_case.h"

namespace kel {
namespace {

bool NamesEqual(std::string_view found, std::string_view asked) {
  return UpperCaseText(Trim(found)) == UpperCaseText(Trim(asked));
}

std::string_view WithoutComment(std::string_view line) { return line.substr(0, line.find(';')); }

}  // namespace

IniLine ParseIniLine(std::string_view line) {
  IniLine out;
  std::string_view content = TrimLeft(WithoutComment(line));
  if (IsBlank(content)) return out;
  if (content[0] == '[') {
    out.kind = IniLine::Kind::kHeader;
    std::string_view inner = content.substr(1);
    out.name = Trim(inner.substr(0, inner.find(']')));
    return out;
  }
  std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) {
    out.kind = IniLine::Kind::kOther;
    return out;
  }
  out.kind = IniLine::Kind::kKey;
  out.name = TrimRight(content.substr(0, eq));
  out.value = content.substr(eq + 1);
  return out;
}

std::vector<std::string_view> SplitIniLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t lf = bytes.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    std::size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.push_back(bytes.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

std::string FindIniValue(std::string_view bytes, std::string_view section, std::string_view key) {
  bool in_section = false;
  for (std::string_view line : SplitIniLines(bytes)) {
    IniLine parsed = ParseIniLine(line);
    if (parsed.kind == IniLine::Kind::kBlank) continue;
    if (!in_section) {
      in_section = parsed.kind == IniLine::Kind::kHeader && NamesEqual(parsed.name, section);
      continue;
    }
    if (parsed.kind == IniLine::Kind::kHeader) return "";  // only the first section counts
    if (parsed.kind == IniLine::Kind::kKey && NamesEqual(parsed.name, key)) {
      std::string_view value = parsed.value;
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      return std::string(value);
    }
  }
  return "";
}

namespace {

// The state of one merge pass. Blank and comment lines are held back until
// the next line with content has been dealt with, so that a key added at the
// end of a section lands before the blank lines and comments that separate
// it from the next one.
class IniMerger {
 public:
  IniMerger(std::string_view section, std::string_view key, std::string_view value)
      : section_(section), key_(key), value_(value) {}

  void Line(std::string_view line) {
    IniLine parsed = ParseIniLine(line);
    if (parsed.kind == IniLine::Kind::kBlank) {
      held_.push_back(line);
      return;
    }
    bool drop = false;
    std::string rewritten;
    bool rewrite = false;
    if (parsed.kind == IniLine::Kind::kHeader) {
      if (in_section_) {
        WriteKey();  // the key goes to the end of the first section of the name
        in_section_ = false;
      }
      if (NamesEqual(parsed.name, section_)) {
        in_section_ = true;
        found_ = true;
        drop = key_.empty();
      }
    } else if (in_section_ && parsed.kind == IniLine::Kind::kKey &&
               (key_.empty() || NamesEqual(parsed.name, key_))) {
      // Everything up to and including the first "=" stays as it was.
      rewritten = std::string(line.substr(0, line.find('=') + 1)) + std::string(value_);
      rewrite = true;
      drop = value_.empty();
      written_ = true;
    }
    FlushHeld();
    if (!drop) Emit(rewrite ? std::string_view(rewritten) : line);
  }

  std::string Finish() {
    WriteKey();
    FlushHeld();
    return std::move(out_);
  }

 private:
  void WriteKey() {
    if (written_) return;
    written_ = true;
    if (section_.empty() || key_.empty() || value_.empty()) return;
    if (!found_) {
      // Built by appending: GCC 12 warns falsely (-Wrestrict) about "[" + string.
      std::string header(1, '[');
      header.append(section_);
      header.push_back(']');
      Emit(header);
    }
    Emit(std::string(key_) + "=" + std::string(value_));
  }

  void FlushHeld() {
    for (std::string_view line : held_) Emit(line);
    held_.clear();
  }

  void Emit(std::string_view line) {
    out_.append(line);
    out_.append("\r\n");
  }

  std::string_view section_;
  std::string_view key_;
  std::string_view value_;
  bool in_section_ = false;
  bool found_ = false;    // a section of the name was seen
  bool written_ = false;  // the key was rewritten, dropped or added
  std::vector<std::string_view> held_;
  std::string out_;
};

}  // namespace

std::string MergeIniText(std::string_view old_bytes, std::string_view section, std::string_view key,
                         std::string_view value) {
  IniMerger merger(section, key, value);
  for (std::string_view line : SplitIniLines(old_bytes)) merger.Line(line);
  return merger.Finish();
}

}  // namespace kel
