#include "recman/backend_config.h"

#include <cstdint>

#include "util/cp850.h"

namespace kel {
namespace {

RecordManagerConfig& Config() {
  static RecordManagerConfig config;
  return config;
}

// Letter case folded as the family's file systems fold names: the letters of
// code page 850 that have both cases ("Ñ" is "ñ"); characters the code page
// lacks, and bytes that are no UTF-8, are kept as they are.
std::string Lower(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const char32_t code_point = DecodeUtf8(text, &pos);
    std::uint8_t byte = 0;
    if (UnicodeToCp850(code_point, &byte)) {
      AppendUtf8(Cp850ToUnicode(Cp850ToLower(byte)), &out);
    } else {
      out.append(text, start, pos - start);
    }
  }
  return out;
}

std::string Slashes(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

}  // namespace

void ConfigureRecordManager(const RecordManagerConfig& config) { Config() = config; }
const RecordManagerConfig& RecordManagerConfiguration() { return Config(); }
void ResetRecordManagerConfig() { Config() = RecordManagerConfig{}; }

std::string ServerFileName(const std::string& native_path, const std::string& install_root) {
  std::string path = Lower(Slashes(native_path));
  std::string root = Lower(Slashes(install_root));
  if (!root.empty() && root.back() != '/') root += '/';
  if (!root.empty() && path.compare(0, root.size(), root) == 0) path.erase(0, root.size());
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  // Repeated separators name the same file.
  std::string name;
  for (char c : path) {
    if (c == '/' && !name.empty() && name.back() == '/') continue;
    name += c;
  }
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0) name.resize(name.size() - 4);
  return name;
}

std::string FoldServerName(const std::string& name) { return Lower(name); }

}  // namespace kel
