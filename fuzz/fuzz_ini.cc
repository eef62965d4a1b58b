// Configuration files (Nuri.ini, Sessio.ini, NuriTerm.ini): the input is a
// section name, a key and a value, each ended by a line feed, then the file.
// The reader looks the key up; the merge sets it, in memory and, for some
// inputs, in a file. Where the three names are
// ones a caller can write (nothing the syntax reads as a delimiter, no
// blanks at the ends), the merged text must give back the value, and must
// leave every other key of the file's first lines as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/system.h"
#include "startup/ini_file.h"
#include "startup/ini_text.h"

namespace kel {
namespace {

bool Writable(std::string_view name, std::string_view forbidden) {
  if (name.empty() || name.front() == ' ' || name.back() == ' ') return false;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == ';' || forbidden.find(c) != std::string_view::npos) {
      return false;
    }
    // Letter case is folded through code page 850: keep the comparison of
    // the other keys to plain ASCII names.
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  const std::string_view section = in.Until('\n');
  const std::string_view key = in.Until('\n');
  const std::string_view value = in.Until('\n');
  const std::string_view file = in.Rest();

  (void)FindIniValue(file, section, key);
  const std::string merged = MergeIniText(file, section, key, value);
  (void)FindIniValue(merged, section, key);

  // The same through the files, for one input in eight (a rewrite flushes
  // to disk): the rewritten file holds what the merge made of it.
  if (size % 8 == 0) {
    static const std::string path = SessionDir() + "Fuzz.ini";
    WriteScratchFile("Fuzz.ini", file);
    (void)IniRead(path, section, key);
    if (IniWrite(path, section, key, value) == IniWriteResult::kOk) {
      std::string written;
      Require(ReadWholeFile(path, &written) && written == merged,
              "the rewritten file is not the merged text");
    }
  }

  const bool plain = Writable(section, "]") && Writable(key, "=[") && section.front() != '[' &&
                     Writable(value, "") &&
                     !(value.size() >= 2 && value.front() == '"' && value.back() == '"');
  if (!plain) return 0;
  Require(FindIniValue(merged, section, key) == value, "the merged value is not read back");

  // Other keys of the file's first lines keep their values.
  std::string_view current;
  const std::vector<std::string_view> lines = SplitIniLines(file);
  for (std::size_t i = 0; i < lines.size() && i < 16; ++i) {
    const IniLine line = ParseIniLine(lines[i]);
    if (line.kind == IniLine::Kind::kHeader) current = line.name;
    if (line.kind != IniLine::Kind::kKey || !Writable(current, "]") || !Writable(line.name, "=[")) {
      continue;
    }
    if (SameName(current, section) && SameName(line.name, key)) continue;
    Require(FindIniValue(file, current, line.name) == FindIniValue(merged, current, line.name),
            "the merge changed another key");
  }
  return 0;
}
