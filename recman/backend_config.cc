#include "recman/backend_config.h"

#include <cctype>

namespace kel {
namespace {

RecordManagerConfig& Config() {
  static RecordManagerConfig config;
  return config;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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

}  // namespace kel
